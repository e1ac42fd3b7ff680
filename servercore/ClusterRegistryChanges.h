// A cluster server's registry changes. Once the registry lock is released, the steps the core
// decided are written to the cluster store as one conditional transaction, and the answer waits
// until this server's replica has applied them: every server, this one included, applies the
// same changes in the store's order. A stored change that cannot be read back here is not
// answered as a success. While the store is known not to answer, a change is refused at once
// (15628); when other servers kept changing the same provider, after eight tries (15629).
//
// Also the rest of this server's membership of the cluster, which all turns on the same replica:
// the election for the liveness pass, the shared services catalogue, and how a change read from
// the store becomes a registry change for the core to apply.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include "servercore/ClusterCatalogue.h"
#include "servercore/ClusterKeys.h"
#include "servercore/ClusterReplica.h"
#include "servercore/ClusterWriter.h"
#include "servercore/IRegistryChanges.h"
#include "util/CriticalSection.h"

namespace Korvane::Pictora::ServerCore {

class ClusterRegistryChanges : public IRegistryChanges {
 public:
  // handlers: the core's, for the changes the replica reads (see FromStore) and its report lines.
  ClusterRegistryChanges(IClusterStore& store, const std::string& prefix, const std::string& serverId,
                         ClusterReplica::Handlers handlers, ClusterTiming timing = ClusterTiming{});

  bool Accepting(GeneralUtilityLib::Status& status) override;
  // Stamps a services change with the registration it was decided on.
  ChangeOutcome Take(RegistryChange& change, GeneralUtilityLib::Status& status) override;
  ChangeOutcome Land(RegistryChange& change, GeneralUtilityLib::Status& status) override;
  bool Leading(IClusterStore::Condition& fence) override { return replica_.Leading(fence); }

  // A change read from the store as a registry change, given the registry it is about to be
  // applied to (for the names as they registered, and whether a provider is new); kNone for what
  // does not apply there. Notes the registrations it passes, for Take.
  RegistryChange FromStore(const IClusterStore::Change& change, const Registry& registry);
  // Before the registry is read whole again.
  void ForgetRegistrations();
  // The first server of a cluster brings its services file as the catalogue.
  void SeedCatalogue(const std::string& text);

  ClusterReplica& Replica() { return replica_; }
  const ClusterKeys& Keys() const { return keys_; }
  IServicesCatalogue* Catalogue() { return &catalogue_; }

 private:
  // What a write came to; waits for a landed change to arrive here.
  ChangeOutcome Landed(ClusterWriter::Result result, std::int64_t revision, const std::string& error,
                       GeneralUtilityLib::Status& status);
  RegistryChange ServiceFromStore(const std::string& provider, const std::string& value,
                                  const Registry& registry) const;

  const ClusterKeys keys_;
  const std::function<void(const std::string&)> report_;
  ClusterReplica replica_;
  ClusterWriter writer_;
  ClusterCatalogue catalogue_;
  // Provider key -> the creation revision of its registration, as applied here.
  GeneralUtilityLib::ActiveCriticalSection registrationsSection_;
  std::unordered_map<std::string, std::int64_t> registrations_ GUARDED_BY(registrationsSection_);
};

}  // namespace Korvane::Pictora::ServerCore
