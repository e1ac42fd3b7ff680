// Where a registry change takes effect. The core decides what changes: it checks the provider,
// the memory limit and the caller's document, refuses with its own codes and texts, and names
// each step. An implementation applies the steps: a single server to its registry at once, a
// server of a cluster by writing them to the cluster store and waiting until its own replica has
// applied them. A change passes three calls, in this order:
//   Accepting  before anything is decided, without the registry lock
//   Take       under the registry lock, after each step the core adds and once it is complete
//   Land       once the lock is released, unless Take settled the change
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "servercore/IClusterStore.h"
#include "servercore/Registry.h"
#include "util/Status.h"

namespace Korvane::Pictora::ServerCore {

// How a change (or the core's decision about it) ended. kExists and kMissing: the provider is,
// or is not, registered, which each operation answers with a refusal of its own. kUnreadable is
// the core's alone: the caller's document did not load.
enum class ChangeOutcome { kDone, kExists, kMissing, kRefused, kUnreadable };

// One service of a provider's change; element.name is the service (for a failure, in normal form).
struct ServiceStep {
  enum class Kind { kRegister, kFailure, kRemove };
  Kind kind = Kind::kRegister;
  ServiceElement element;
};

struct RegistryChange {
  enum class Kind {
    kNone,
    kAddProvider,
    kUpdateProvider,  // values merged into the registered ones
    kRemoveProvider,  // for its caller
    kDropProvider,    // by the server itself: nobody waits for a refusal
    kServices,        // steps, in order, as long as the provider's registration lasts
    kCatalogue,       // the services file's text, as the cluster store shares it
  };
  Kind kind = Kind::kNone;
  std::string provider;
  std::string sessionId;
  ProviderValues values;
  std::vector<ServiceStep> steps;
  std::optional<IClusterStore::Condition> fence;  // a removal of the liveness pass in a cluster
  // kServices in a cluster: the creation revision of the provider's registration the change was
  // decided on (0: not known here).
  std::int64_t registration = 0;
  std::string catalogue;
  bool settled = false;  // applied where it was taken: nothing left to land

  static RegistryChange Provider(Kind kind, std::string provider) {
    RegistryChange change;
    change.kind = kind;
    change.provider = std::move(provider);
    return change;
  }
  void Add(ServiceStep::Kind step, ServiceElement element) { steps.push_back({step, std::move(element)}); }
};

class IRegistryChanges {
 public:
  virtual ~IRegistryChanges() = default;

  // False, with the refusal in status, while no change can be taken.
  virtual bool Accepting(GeneralUtilityLib::Status& status) = 0;
  virtual ChangeOutcome Take(RegistryChange& change, GeneralUtilityLib::Status& status) = 0;
  virtual ChangeOutcome Land(RegistryChange& change, GeneralUtilityLib::Status& status) = 0;
  // Whether this server runs the liveness pass; fence: what a removal it makes must carry, so
  // that a server that lost the right unnoticed cannot remove anything.
  virtual bool Leading(IClusterStore::Condition& fence) = 0;
};

}  // namespace Korvane::Pictora::ServerCore
