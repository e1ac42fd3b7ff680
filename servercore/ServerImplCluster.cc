// Cluster mode: the registry as a replica of the cluster store. Changes are committed to the
// store first and come back to every server, in the store's order, through the replica.
#include <unistd.h>

#include <algorithm>

#include "servercore/ServerImpl.h"
#include "util/FileUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;
namespace {

std::string HostName() {
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? std::string(name) : std::string("localhost");
}

}  // namespace

void ServerImpl::JoinClusterLocked(const std::string& endpoint) {
  ClusterReplica::Handlers handlers{
      [this](const std::vector<IClusterStore::Change>& changes) { ApplyStored(changes); },
      [this](const std::vector<IClusterStore::Entry>& entries) { ReplaceStored(entries); },
      [this](const std::string& line) { Report(ServerSource("Cluster").c_str(), "%s", line.c_str()); }};
  const std::string serverId = HostName() + ":" + endpoint + ":" + std::to_string(::getpid());
  auto cluster =
      std::make_unique<ClusterRegistryChanges>(*clusterStore_, clusterPrefix_, serverId, std::move(handlers));
  cluster_ = cluster.get();
  changes_ = std::move(cluster);

  ClusterReplica& replica = cluster_->Replica();
  std::vector<IClusterStore::Entry> entries;
  std::string error;
  if (replica.ReadInitial(entries, error)) {
    Report(ServerSource("Cluster").c_str(), "Joined the cluster as '%s' at revision %lld", serverId.c_str(),
           static_cast<long long>(replica.AppliedRevision()));
    const bool hasCatalogue = std::any_of(entries.begin(), entries.end(), [&](const IClusterStore::Entry& entry) {
      return entry.key == cluster_->Keys().Catalogue();
    });
    for (const IClusterStore::Entry& entry : entries) ApplyStoredLocked({false, entry});
    std::string text;
    if (!hasCatalogue && !servicesPath_.empty() && GU::ReadFile(servicesPath_, text)) cluster_->SeedCatalogue(text);
    CountLocked();
  }
  replica.Start();
}

ServerCounts ServerImpl::GetCounts() {
  ServerCounts counts = RegistryOperations::GetCounts();
  if (cluster_ == nullptr) return counts;
  ClusterReplica& replica = cluster_->Replica();
  ClusterReplica::State state = replica.Snapshot();
  counts.clustered = true;
  counts.clusterReachable = state.reachable;
  counts.clusterRevision = state.applied;
  counts.clusterStreamBreaks = replica.StreamBreaks();
  counts.clusterCaughtUp = state.caughtUp;
  counts.clusterLeading = state.leading;
  counts.clusterServerId = std::move(state.self);
  counts.clusterLeader = std::move(state.leader);
  return counts;
}

void ServerImpl::ApplyStored(const std::vector<IClusterStore::Change>& changes) {
  Guarded("Cluster", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    RefreshServicesLocked();
    for (const IClusterStore::Change& change : changes) ApplyStoredLocked(change);
    CountLocked();
    return true;
  });
}

void ServerImpl::ReplaceStored(const std::vector<IClusterStore::Entry>& entries) {
  Guarded("Cluster", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    RefreshServicesLocked();
    cluster_->ForgetRegistrations();
    std::vector<std::string> gone;
    for (const auto& provider : registry_.Providers()) {
      const std::string key = cluster_->Keys().Provider(provider.first);
      const bool kept = std::any_of(entries.begin(), entries.end(),
                                    [&](const IClusterStore::Entry& entry) { return entry.key == key; });
      if (!kept) gone.push_back(provider.first);
    }
    for (const std::string& name : gone) RemoveProviderLocked(name);
    // Those that stay are read again whole: their services may have changed meanwhile.
    std::vector<std::string> kept;
    for (const auto& provider : registry_.Providers()) kept.push_back(provider.first);
    for (const std::string& name : kept) registry_.RemoveProvider(name);
    for (const IClusterStore::Entry& entry : entries) ApplyStoredLocked({false, entry});
    CountLocked();
    Report(ServerSource("Cluster").c_str(), "Read the registry whole from the cluster store: %zu providers",
           registry_.Providers().size());
    return true;
  });
}

void ServerImpl::ApplyStoredLocked(const IClusterStore::Change& stored) {
  RegistryChange change = cluster_->FromStore(stored, registry_);
  if (change.kind == RegistryChange::Kind::kCatalogue) {
    WriteCatalogueLocked(change.catalogue);
    return;
  }
  ApplyLocked(change);
}

void ServerImpl::WriteCatalogueLocked(const std::string& text) {
  if (servicesPath_.empty()) return;
  std::string current;
  if (GU::ReadFile(servicesPath_, current) && current == text) return;
  if (!GU::WriteFileAtomically(servicesPath_, text)) {
    Report(ServerSource("Cluster").c_str(), "Failed to write the services file '%s' from the cluster store",
           servicesPath_.c_str());
    return;
  }
  RefreshServicesLocked();
}

}  // namespace Korvane::Pictora::ServerCore
