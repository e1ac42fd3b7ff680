#include "servercore/ClusterRegistryChanges.h"

#include "servercore/ProviderTexts.h"
#include "servercore/RegistryKeyLess.h"
#include "servercore/SafeNames.h"
#include "servercore/StatusCodes.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
namespace {

ChangeOutcome Refuse(GU::Status& status, std::uint32_t code, const std::string& message) {
  status.AddFront(code, message);
  return ChangeOutcome::kRefused;
}

std::vector<ClusterWriter::ServiceChange> ServiceChanges(const std::vector<ServiceStep>& steps) {
  std::vector<ClusterWriter::ServiceChange> changes;
  for (const ServiceStep& step : steps) {
    const ServiceElement& element = step.element;
    switch (step.kind) {
      case ServiceStep::Kind::kRegister:
        changes.push_back({ClusterWriter::ServiceChange::Kind::kRegister, element.name, element.markup});
        break;
      case ServiceStep::Kind::kFailure:
        changes.push_back({ClusterWriter::ServiceChange::Kind::kFailure, element.name, element.statusMarkup});
        break;
      case ServiceStep::Kind::kRemove:
        changes.push_back({ClusterWriter::ServiceChange::Kind::kRemove, NormalizeServiceName(element.name), {}});
        break;
    }
  }
  return changes;
}

}  // namespace

ClusterRegistryChanges::ClusterRegistryChanges(IClusterStore& store, const std::string& prefix,
                                               const std::string& serverId, ClusterReplica::Handlers handlers,
                                               ClusterTiming timing)
    : keys_(prefix),
      report_(handlers.report),
      replica_(store, keys_, serverId, std::move(handlers), timing),
      writer_(store, keys_),
      catalogue_(writer_, replica_) {}

bool ClusterRegistryChanges::Accepting(GU::Status& status) {
  if (replica_.Reachable()) return true;
  Landed(ClusterWriter::Result::kUnreachable, 0, "it did not answer its last request", status);
  return false;
}

ChangeOutcome ClusterRegistryChanges::Take(RegistryChange& change, GU::Status&) {
  if (change.kind != RegistryChange::Kind::kServices) return ChangeOutcome::kDone;
  GU::CriticalSectionLock lock(&registrationsSection_);
  const auto found = registrations_.find(keys_.Provider(change.provider));
  change.registration = found == registrations_.end() ? 0 : found->second;
  return ChangeOutcome::kDone;
}

void ClusterRegistryChanges::ForgetRegistrations() {
  GU::CriticalSectionLock lock(&registrationsSection_);
  registrations_.clear();
}

ChangeOutcome ClusterRegistryChanges::Land(RegistryChange& change, GU::Status& status) {
  std::int64_t revision = 0;
  std::string error;
  ClusterWriter::Result result = ClusterWriter::Result::kDone;
  switch (change.kind) {
    case RegistryChange::Kind::kAddProvider:
      result = writer_.AddProvider({change.provider, change.sessionId, change.values.config, change.values.dynamic},
                                   revision, error);
      break;
    case RegistryChange::Kind::kUpdateProvider:
      result = writer_.UpdateProvider(change.provider, change.values, revision, error);
      break;
    case RegistryChange::Kind::kRemoveProvider:
      result = writer_.RemoveProvider(change.provider, std::nullopt, revision, error);
      break;
    case RegistryChange::Kind::kDropProvider:
      // Nobody to tell why it failed; the next pass tries again.
      if (writer_.RemoveProvider(change.provider, change.fence, revision, error) != ClusterWriter::Result::kDone) {
        return ChangeOutcome::kRefused;
      }
      replica_.Arrived(revision);
      return ChangeOutcome::kDone;
    case RegistryChange::Kind::kServices:
      result =
          writer_.ChangeServices(change.provider, ServiceChanges(change.steps), change.registration, revision, error);
      break;
    case RegistryChange::Kind::kNone:
    case RegistryChange::Kind::kCatalogue:
      return ChangeOutcome::kDone;
  }
  return Landed(result, revision, error, status);
}

ChangeOutcome ClusterRegistryChanges::Landed(ClusterWriter::Result result, std::int64_t revision,
                                             const std::string& error, GU::Status& status) {
  switch (result) {
    case ClusterWriter::Result::kDone:
      // Success only once this server's own answers have the change: a caller that is told yes
      // and then does not see it would act on a registry that is not there.
      if (revision == 0 || replica_.Arrived(revision)) return ChangeOutcome::kDone;
      report_(GU::Format("A change stored at revision %lld could not be read back here; the caller is told so",
                         static_cast<long long>(revision)));
      return Refuse(status, kStatusClusterUnreachable,
                    "The change was stored in the cluster store but this server could not read it back in time; "
                    "ask again once the store answers");
    case ClusterWriter::Result::kUnreachable:
      replica_.NoteUnreachable(error);
      return Refuse(
          status, kStatusClusterUnreachable,
          "The cluster store is unreachable; the registry takes no change until it answers again (" + error + ")");
    case ClusterWriter::Result::kContended:
      return Refuse(status, kStatusClusterContended,
                    "Other servers of the cluster changed this provider at the same time; nothing was changed");
    case ClusterWriter::Result::kExists:
      return ChangeOutcome::kExists;
    case ClusterWriter::Result::kMissing:
      break;
  }
  return ChangeOutcome::kMissing;
}

RegistryChange ClusterRegistryChanges::FromStore(const IClusterStore::Change& change, const Registry& registry) {
  const ClusterKeys::Parsed parsed = keys_.Parse(change.entry.key);
  if (parsed.kind == ClusterKeys::Parsed::Kind::kProvider) {
    GU::CriticalSectionLock lock(&registrationsSection_);
    if (change.deleted) {
      registrations_.erase(change.entry.key);
    } else {
      registrations_[change.entry.key] = change.entry.createRevision;
    }
  }
  const std::string& value = change.entry.value;
  if (parsed.kind == ClusterKeys::Parsed::Kind::kOther) return {};
  if (parsed.kind == ClusterKeys::Parsed::Kind::kCatalogue) {
    if (change.deleted) return {};
    RegistryChange catalogue;
    catalogue.kind = RegistryChange::Kind::kCatalogue;
    catalogue.catalogue = value;
    return catalogue;
  }
  if (parsed.kind == ClusterKeys::Parsed::Kind::kProvider && !change.deleted) {
    ProviderEntry entry;
    if (!DecodeProvider(value, entry)) {
      report_("A provider record in the cluster store does not read; it is left out");
      return {};
    }
    const bool known = registry.FindProvider(entry.name) != nullptr;
    RegistryChange put = RegistryChange::Provider(
        known ? RegistryChange::Kind::kUpdateProvider : RegistryChange::Kind::kAddProvider, entry.name);
    put.sessionId = entry.sessionId;
    put.values = {entry.config, entry.dynamic};
    return put;
  }
  // The rest concerns a registered provider, under the name it registered with (the key has the
  // name's compared form).
  const auto provider = registry.Providers().find(parsed.provider);
  if (provider == registry.Providers().end()) return {};
  const std::string registeredName = provider->first;
  switch (parsed.kind) {
    case ClusterKeys::Parsed::Kind::kProvider:
      return RegistryChange::Provider(RegistryChange::Kind::kRemoveProvider, registeredName);
    case ClusterKeys::Parsed::Kind::kService: {
      if (!change.deleted) return ServiceFromStore(registeredName, value, registry);
      RegistryChange removal = RegistryChange::Provider(RegistryChange::Kind::kServices, registeredName);
      removal.Add(ServiceStep::Kind::kRemove, ServiceElement{{}, parsed.service, {}, {}});
      return removal;
    }
    case ClusterKeys::Parsed::Kind::kFailure: {
      // A failure leaves with its service (whose removal clears it).
      if (change.deleted) return {};
      RegistryChange failure = RegistryChange::Provider(RegistryChange::Kind::kServices, registeredName);
      // The key names the service (as the registry compares names); the value is the report.
      failure.Add(ServiceStep::Kind::kFailure, ServiceElement{{}, NormalizeServiceName(parsed.service), value, {}});
      return failure;
    }
    default:
      return {};
  }
}

RegistryChange ClusterRegistryChanges::ServiceFromStore(const std::string& provider, const std::string& value,
                                                        const Registry& registry) const {
  std::vector<ServiceElement> elements;
  GU::Status scratch;
  if (!ReadServiceElements("<ImageServices>" + value + "</ImageServices>", elements, scratch) || elements.empty()) {
    return {};
  }
  ServiceElement& element = elements.front();
  if (element.name.empty() || registry.Services().count(element.name) == 0) return {};
  std::string reason;
  if (!IsSafeServiceName(element.name, reason)) {
    report_(GU::Format("Service name '%s' refused: %s", element.name.c_str(), reason.c_str()));
    return {};
  }
  RegistryChange put = RegistryChange::Provider(RegistryChange::Kind::kServices, provider);
  put.Add(ServiceStep::Kind::kRegister, std::move(element));
  return put;
}

void ClusterRegistryChanges::SeedCatalogue(const std::string& text) {
  std::int64_t revision = 0;
  std::string error;
  writer_.SaveCatalogue(text, 0, revision, error);
}

}  // namespace Korvane::Pictora::ServerCore
