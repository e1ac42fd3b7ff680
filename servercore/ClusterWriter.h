// The registry's changes as transactions of the cluster store. Each reads what it changes and
// writes only if that is still so when the write lands (the revisions it read are the
// transaction's conditions), trying again a few times when another server came first.
//
// Holds no state of its own: safe on any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "servercore/ClusterKeys.h"
#include "servercore/IClusterStore.h"
#include "servercore/Registry.h"

namespace Korvane::Pictora::ServerCore {

class ClusterWriter {
 public:
  enum class Result {
    kDone,
    kExists,       // the provider is registered already
    kMissing,      // the provider is not registered
    kUnreachable,  // no answer, or no quorum
    kContended,    // other servers changed it on every attempt
  };
  struct ServiceChange {
    enum class Kind { kRegister, kFailure, kRemove };
    Kind kind = Kind::kRegister;
    std::string service;
    std::string markup;  // the Service element, or the Status element of a failure
  };

  ClusterWriter(IClusterStore& store, const ClusterKeys& keys) : store_(store), keys_(keys) {}

  // revision: where the change landed (for the caller to wait until it arrives here).
  Result AddProvider(const ProviderEntry& entry, std::int64_t& revision, std::string& error);
  // Merges the values into the provider's stored ones.
  Result UpdateProvider(const std::string& name, const ProviderValues& values, std::int64_t& revision,
                        std::string& error);
  // Removes the provider with everything it registered; fence, when given, must hold too.
  Result RemoveProvider(const std::string& name, const std::optional<IClusterStore::Condition>& fence,
                        std::int64_t& revision, std::string& error);
  // Changes the provider's services, all at once, as long as its registration created at
  // `registration` lasts (kMissing once it ended); 0: the registration read from the store.
  Result ChangeServices(const std::string& provider, const std::vector<ServiceChange>& changes,
                        std::int64_t registration, std::int64_t& revision, std::string& error);

  // The services catalogue (the services file's text); version 0: there is none yet.
  Result ReadCatalogue(std::string& text, std::int64_t& version, std::string& error);
  // Replaces it when it is still at version; kContended when it is not.
  Result SaveCatalogue(const std::string& text, std::int64_t version, std::int64_t& revision, std::string& error);

 private:
  // The provider's stored entry; kMissing, kUnreachable or kDone.
  Result ReadProvider(const std::string& name, std::optional<IClusterStore::Entry>& entry, std::string& error);
  static Result FromOutcome(IClusterStore::Outcome outcome);

  IClusterStore& store_;
  const ClusterKeys& keys_;
};

}  // namespace Korvane::Pictora::ServerCore
