// Cluster mode: the registry as a replica of the cluster store. Changes are committed to the
// store first and come back to every server, in the store's order, through the replica.
#include <unistd.h>

#include "servercore/ProviderTexts.h"
#include "servercore/RegistryMessages.h"
#include "servercore/SafeNames.h"
#include "servercore/ServerImpl.h"
#include "util/FileUtil.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;
namespace {

// How long an answer waits for its own change to arrive back here; the change is stored either
// way, so a caller is never told of a failure that did not happen.
constexpr std::chrono::seconds kArrival{5};

std::string HostName() {
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? std::string(name) : std::string("localhost");
}

bool Refuse(GU::Status& status, std::uint32_t code, const std::string& message) {
  status.AddFront(code, message);
  return false;
}

}  // namespace

void ServerImpl::StartReplicaLocked(const std::string& endpoint) {
  clusterKeys_ = std::make_unique<ClusterKeys>(clusterPrefix_);
  ClusterReplica::Handlers handlers{
      [this](const std::vector<IClusterStore::Change>& changes) { ApplyReplicated(changes); },
      [this](const std::vector<IClusterStore::Entry>& entries) { ReplaceReplicated(entries); },
      [this](const std::string& line) { Report(ServerSource("Cluster").c_str(), "%s", line.c_str()); }};
  const std::string serverId = HostName() + ":" + endpoint + ":" + std::to_string(::getpid());
  replica_ = std::make_unique<ClusterReplica>(*clusterStore_, *clusterKeys_, serverId, std::move(handlers));
  writer_ = std::make_unique<ClusterWriter>(*clusterStore_, *clusterKeys_);
  catalogue_ = std::make_unique<ClusterCatalogue>(*writer_, *replica_);

  std::vector<IClusterStore::Entry> entries;
  std::string error;
  if (replica_->ReadInitial(entries, error)) {
    Report(ServerSource("Cluster").c_str(), "Joined the cluster as '%s' at revision %lld", serverId.c_str(),
           static_cast<long long>(replica_->AppliedRevision()));
    const bool hasCatalogue = std::any_of(entries.begin(), entries.end(), [&](const IClusterStore::Entry& entry) {
      return entry.key == clusterKeys_->Catalogue();
    });
    for (const IClusterStore::Entry& entry : entries) ApplyChangeLocked({false, entry});
    // The first server of a cluster brings its services file as the catalogue.
    std::string text;
    std::int64_t revision = 0;
    if (!hasCatalogue && !servicesPath_.empty() && GU::ReadFile(servicesPath_, text)) {
      writer_->SaveCatalogue(text, 0, revision, error);
    }
    CountLocked();
  }
  replica_->Start();
}

void ServerImpl::ApplyReplicated(const std::vector<IClusterStore::Change>& changes) {
  Guarded("Cluster", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    RefreshServicesLocked();
    for (const IClusterStore::Change& change : changes) ApplyChangeLocked(change);
    CountLocked();
    return true;
  });
}

void ServerImpl::ReplaceReplicated(const std::vector<IClusterStore::Entry>& entries) {
  Guarded("Cluster", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    RefreshServicesLocked();
    std::vector<std::string> gone;
    for (const auto& provider : registry_.Providers()) {
      const std::string key = clusterKeys_->Provider(provider.first);
      const bool kept = std::any_of(entries.begin(), entries.end(),
                                    [&](const IClusterStore::Entry& entry) { return entry.key == key; });
      if (!kept) gone.push_back(provider.first);
    }
    GU::Status scratch;
    for (const std::string& name : gone) RemoveProviderLocked(name, scratch);
    // Those that stay are read again whole: their services may have changed meanwhile.
    std::vector<std::string> kept;
    for (const auto& provider : registry_.Providers()) kept.push_back(provider.first);
    for (const std::string& name : kept) registry_.RemoveProvider(name);
    for (const IClusterStore::Entry& entry : entries) ApplyChangeLocked({false, entry});
    CountLocked();
    Report(ServerSource("Cluster").c_str(), "Read the registry whole from the cluster store: %zu providers",
           registry_.Providers().size());
    return true;
  });
}

void ServerImpl::ApplyChangeLocked(const IClusterStore::Change& change) {
  const ClusterKeys::Parsed parsed = clusterKeys_->Parse(change.entry.key);
  GU::Status scratch;
  switch (parsed.kind) {
    case ClusterKeys::Parsed::Kind::kCatalogue:
      if (!change.deleted) WriteCatalogueLocked(change.entry.value);
      break;
    case ClusterKeys::Parsed::Kind::kProvider:
      if (change.deleted) {
        // Reported under the name it registered with, not the key's form of it.
        const auto provider = registry_.Providers().find(parsed.provider);
        if (provider != registry_.Providers().end()) RemoveProviderLocked(std::string(provider->first), scratch);
      } else {
        PutProviderLocked(change.entry.value);
      }
      break;
    case ClusterKeys::Parsed::Kind::kService:
      if (!change.deleted) {
        PutServiceLocked(parsed.provider, parsed.service, change.entry.value, false);
        break;
      }
      if (auto provider = registry_.Providers().find(parsed.provider); provider != registry_.Providers().end()) {
        const std::string registeredName = provider->first;
        if (registry_.RemoveService(registeredName, parsed.service)) {
          Report(ServerSource("RemoveService").c_str(), "Unregistered Service '%s' from '%s'",
                 NormalizeServiceName(parsed.service).c_str(), registeredName.c_str());
        }
      }
      break;
    case ClusterKeys::Parsed::Kind::kFailure:
      // A failure leaves with its service (whose removal clears it).
      if (!change.deleted) PutServiceLocked(parsed.provider, parsed.service, change.entry.value, true);
      break;
    case ClusterKeys::Parsed::Kind::kOther:
      break;
  }
}

void ServerImpl::PutProviderLocked(const std::string& value) {
  ProviderEntry entry;
  if (!DecodeProvider(value, entry)) {
    Report(ServerSource("Cluster").c_str(), "A provider record in the cluster store does not read; it is left out");
    return;
  }
  const ProviderValues values{entry.config, entry.dynamic};
  if (registry_.FindProvider(entry.name) != nullptr) {
    registry_.UpdateProvider(entry.name, values);
    return;
  }
  registry_.AddProvider(entry.name, entry.sessionId, values);
  Report(ServerSource("AddServiceProvider").c_str(), "Added serviceProvider: %s", entry.name.c_str());
}

void ServerImpl::PutServiceLocked(const std::string& providerKey, const std::string& serviceKey,
                                  const std::string& value, bool failure) {
  auto provider = registry_.Providers().find(providerKey);
  if (provider == registry_.Providers().end()) return;
  const std::string registeredName = provider->first;
  std::vector<ServiceElement> elements;
  GU::Status scratch;
  if (failure) {
    // The key names the service (as the registry compares names); the value is the report.
    registry_.RecordFailure(registeredName, NormalizeServiceName(serviceKey), value);
    return;
  }
  if (!ReadServiceElements("<ImageServices>" + value + "</ImageServices>", elements, scratch) || elements.empty())
    return;
  if (elements.front().name.empty() || registry_.Services().count(elements.front().name) == 0) return;
  RegisterServiceLocked(registeredName, elements.front(), scratch);
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

bool ServerImpl::Landed(ClusterWriter::Result result, std::int64_t revision, const std::string& error,
                        GU::Status& status) {
  switch (result) {
    case ClusterWriter::Result::kDone:
      if (revision != 0 && !replica_->WaitApplied(revision, kArrival)) {
        Report(ServerSource("Cluster").c_str(), "A change stored at revision %lld has not arrived here yet",
               static_cast<long long>(revision));
      }
      return true;
    case ClusterWriter::Result::kUnreachable:
      replica_->NoteUnreachable(error);
      return Refuse(status, kStatusClusterUnreachable,
                    "The cluster store is unreachable; the registry takes no change until it answers again (" +
                        error + ")");
    case ClusterWriter::Result::kContended:
      return Refuse(status, kStatusClusterContended,
                    "Other servers of the cluster changed this provider at the same time; nothing was changed");
    case ClusterWriter::Result::kExists:
    case ClusterWriter::Result::kMissing:
      break;
  }
  return false;
}

bool ServerImpl::RefusedWhileUnreachable(GU::Status& status) {
  if (replica_->Reachable()) return false;
  Landed(ClusterWriter::Result::kUnreachable, 0, "it did not answer its last request", status);
  return true;
}

bool ServerImpl::AddServiceProviderReplicated(const std::string& name, const std::string& sessionId,
                                              const std::string& providerXml, std::string& statusXml) {
  GU::Status status("ServerCore.Server.AddServiceProvider");
  const bool added = [&] {
    if (RefusedWhileUnreachable(status)) {
      statusXml = status.ToXml();
      return false;
    }
    {
      CriticalSectionLock lock(&registryLock_);
      if (registry_.FindProvider(name) != nullptr) {
        Refuse(status, kStatusAlreadyRegistered, AlreadyRegisteredMessage(name));
        statusXml = status.ToXml();
        return false;
      }
      if (!AdmitLocked(providerXml, "AddServiceProvider", status)) {
        statusXml = status.ToXml();
        return false;
      }
    }
    ProviderValues values;
    if (!ReadProviderValues(providerXml, values, status)) return false;
    std::int64_t revision = 0;
    std::string error;
    const auto result = writer_->AddProvider({name, sessionId, values.config, values.dynamic}, revision, error);
    if (result == ClusterWriter::Result::kExists) Refuse(status, kStatusAlreadyRegistered, AlreadyRegisteredMessage(name));
    if (Landed(result, revision, error, status)) return true;
    statusXml = status.ToXml();
    return false;
  }();
  CriticalSectionLock lock(&registryLock_);
  PublishLocked(status);
  return added;
}

bool ServerImpl::UpdateServiceProviderReplicated(const std::string& name, const std::string& providerXml,
                                                 std::string& out) {
  GU::Status status("ServerCore.Server.UpdateServiceProviderInfo");
  const bool updated = [&] {
    if (RefusedWhileUnreachable(status)) {
      out = status.ToXml();
      return false;
    }
    {
      CriticalSectionLock lock(&registryLock_);
      if (registry_.FindProvider(name) == nullptr) return Refuse(status, kStatusUpdateUnknownProvider, UpdateUnknownMessage(name));
      if (!AdmitLocked(providerXml, "UpdateServiceProviderInfo", status)) {
        out = status.ToXml();
        return false;
      }
    }
    ProviderValues values;
    if (!ReadProviderValues(providerXml, values, status)) return false;
    std::int64_t revision = 0;
    std::string error;
    const auto result = writer_->UpdateProvider(name, values, revision, error);
    if (result == ClusterWriter::Result::kMissing) return Refuse(status, kStatusUpdateUnknownProvider, UpdateUnknownMessage(name));
    if (Landed(result, revision, error, status)) return true;
    out = status.ToXml();
    return false;
  }();
  CriticalSectionLock lock(&registryLock_);
  PublishLocked(status);
  return updated;
}

bool ServerImpl::RemoveServiceProviderReplicated(const std::string& name) {
  GU::Status status("ServerCore.Server.RemoveServiceProvider");
  std::int64_t revision = 0;
  std::string error;
  bool removed = false;
  if (!RefusedWhileUnreachable(status)) {
    const auto result = writer_->RemoveProvider(name, std::nullopt, revision, error);
    if (result == ClusterWriter::Result::kMissing) Refuse(status, kStatusRemoveUnknownProvider, RemoveUnknownMessage(name));
    removed = Landed(result, revision, error, status);
  }
  CriticalSectionLock lock(&registryLock_);
  PublishLocked(status);
  return removed;
}

bool ServerImpl::ChangeServicesReplicated(const char* operation, const std::string& providerName,
                                          const std::string& servicesXml, bool add, std::string& out) {
  GU::Status status(std::string("ServerCore.Server.") + operation);
  const auto unknown = [&] {
    return add ? Refuse(status, kStatusAddServicesUnknownProvider, AddServicesUnknownMessage(providerName))
               : Refuse(status, kStatusRemoveServicesUnknownProvider, RemoveServicesUnknownMessage(providerName));
  };
  const bool taken = [&] {
    if (RefusedWhileUnreachable(status)) {
      out = status.ToXml();
      return false;
    }
    std::vector<ClusterWriter::ServiceChange> changes;
    {
      CriticalSectionLock lock(&registryLock_);
      if (registry_.FindProvider(providerName) == nullptr) return unknown();
      if (add && !AdmitLocked(servicesXml, operation, status)) {
        out = status.ToXml();
        return false;
      }
      if (add) {
        std::vector<ServiceElement> elements;
        if (!ReadServiceElements(servicesXml, elements, status)) return false;
        RefreshServicesLocked();
        for (const ServiceElement& element : elements) {
          if (element.name.empty() || registry_.Services().count(element.name) == 0) continue;
          // A failure report ends the whole document.
          if (!element.statusMarkup.empty()) {
            changes.push_back({ClusterWriter::ServiceChange::Kind::kFailure, element.name, element.statusMarkup});
            break;
          }
          std::string reason;
          if (!IsSafeServiceName(element.name, reason)) {
            status.Add(kStatusNameRefused,
                       GU::Format("Service name '%s' refused: %s", element.name.c_str(), reason.c_str()));
            Report(ServerSource(operation).c_str(), "Service name '%s' refused: %s", element.name.c_str(),
                   reason.c_str());
            continue;
          }
          changes.push_back({ClusterWriter::ServiceChange::Kind::kRegister, element.name, element.markup});
        }
      } else {
        std::vector<std::string> names;
        if (!ReadServiceNames(servicesXml, names, status)) return false;
        for (const std::string& name : names) {
          changes.push_back({ClusterWriter::ServiceChange::Kind::kRemove, NormalizeServiceName(name), {}});
        }
      }
    }
    std::int64_t revision = 0;
    std::string error;
    const auto result = writer_->ChangeServices(providerName, changes, revision, error);
    if (result == ClusterWriter::Result::kMissing) return unknown();
    if (Landed(result, revision, error, status)) return true;
    out = status.ToXml();
    return false;
  }();
  CriticalSectionLock lock(&registryLock_);
  PublishLocked(status);
  return taken;
}

bool ServerImpl::RemoveServiceReplicated(const std::string& providerName, const std::string& serviceName,
                                         std::string& out) {
  GU::Status status("ServerCore.Server.RemoveService");
  if (RefusedWhileUnreachable(status)) {
    out = status.ToXml();
    return false;
  }
  std::int64_t revision = 0;
  std::string error;
  const auto result = writer_->ChangeServices(
      providerName, {{ClusterWriter::ServiceChange::Kind::kRemove, NormalizeServiceName(serviceName), {}}}, revision,
      error);
  // As on a single server: nothing to remove is no failure.
  if (result == ClusterWriter::Result::kMissing || Landed(result, revision, error, status)) return true;
  out = status.ToXml();
  return false;
}

}  // namespace Korvane::Pictora::ServerCore
