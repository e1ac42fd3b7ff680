// The registry's changes: providers and their services, decided once for every mode.
#include "servercore/RegistryOperations.h"

#include "servercore/LocalRegistryChanges.h"
#include "servercore/ProviderTexts.h"
#include "servercore/RegistryKeyLess.h"
#include "servercore/RegistryMessages.h"
#include "servercore/SafeNames.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;

RegistryOperations::RegistryOperations(Seams seams)
    : CoreState(std::move(seams)),
      // Take runs under the registry lock, which the analysis cannot follow through the interface.
      changes_(std::make_unique<LocalRegistryChanges>([this](RegistryChange& change)
                                                          NO_THREAD_SAFETY_ANALYSIS { return ApplyLocked(change); })) {}

template <typename Decide>
bool RegistryOperations::Change(const ChangeRules& rules, std::string* out, Decide decide) {
  return Guarded(rules.operation, false, [&] {
    GU::Status status(std::string("ServerCore.Server.") + rules.operation);
    if (!changes_->Accepting(status)) {
      CriticalSectionLock lock(&registryLock_);
      return EndChangeLocked(rules, ChangeOutcome::kRefused, status, out);
    }
    RegistryChange change;
    ChangeOutcome outcome = ChangeOutcome::kDone;
    {
      CriticalSectionLock lock(&registryLock_);
      outcome = decide(change, status);
      CountLocked();
      if (outcome != ChangeOutcome::kDone || change.settled) return EndChangeLocked(rules, outcome, status, out);
    }
    outcome = changes_->Land(change, status);
    CriticalSectionLock lock(&registryLock_);
    return EndChangeLocked(rules, outcome, status, out);
  });
}

bool RegistryOperations::EndChangeLocked(const ChangeRules& rules, ChangeOutcome outcome, GU::Status& status,
                                         std::string* out) {
  const bool conflict = outcome == ChangeOutcome::kExists || outcome == ChangeOutcome::kMissing;
  if (conflict && rules.conflictCode == 0) {
    outcome = ChangeOutcome::kDone;
  } else if (conflict) {
    status.AddFront(rules.conflictCode, rules.conflictMessage(rules.provider));
  }
  if (rules.publishes) PublishLocked(status);
  if (outcome == ChangeOutcome::kDone) return true;
  // A document that does not load fails without a status for the caller.
  const bool toCaller = outcome == ChangeOutcome::kRefused || (conflict && rules.conflictToCaller);
  if (out != nullptr && toCaller) *out = status.ToXml();
  return false;
}

ChangeOutcome RegistryOperations::CheckProviderLocked(const std::string& name, bool registered,
                                                      const std::string& incoming, const char* operation,
                                                      GU::Status& status) {
  if ((registry_.FindProvider(name) != nullptr) != registered) {
    return registered ? ChangeOutcome::kMissing : ChangeOutcome::kExists;
  }
  return AdmitLocked(incoming, operation, status) ? ChangeOutcome::kDone : ChangeOutcome::kRefused;
}

bool RegistryOperations::AddServiceProvider(const std::string& name, const std::string& sessionId,
                                            const std::string& providerXml, std::string& statusXml) {
  const ChangeRules rules{"AddServiceProvider", name, kStatusAlreadyRegistered, &AlreadyRegisteredMessage, true};
  return Change(rules, &statusXml, [&](RegistryChange& change, GU::Status& status) REQUIRES(registryLock_) {
    const ChangeOutcome checked = CheckProviderLocked(name, false, providerXml, rules.operation, status);
    if (checked != ChangeOutcome::kDone) return checked;
    change = RegistryChange::Provider(RegistryChange::Kind::kAddProvider, name);
    if (!ReadProviderValues(providerXml, change.values, status)) return ChangeOutcome::kUnreadable;
    change.sessionId = sessionId;
    return changes_->Take(change, status);
  });
}

bool RegistryOperations::UpdateServiceProviderInfo(const std::string& name, const std::string& providerXml,
                                                   std::string& out) {
  const ChangeRules rules{"UpdateServiceProviderInfo", name, kStatusUpdateUnknownProvider, &UpdateUnknownMessage};
  return Change(rules, &out, [&](RegistryChange& change, GU::Status& status) REQUIRES(registryLock_) {
    const ChangeOutcome checked = CheckProviderLocked(name, true, providerXml, rules.operation, status);
    if (checked != ChangeOutcome::kDone) return checked;
    change = RegistryChange::Provider(RegistryChange::Kind::kUpdateProvider, name);
    if (!ReadProviderValues(providerXml, change.values, status)) return ChangeOutcome::kUnreadable;
    return changes_->Take(change, status);
  });
}

bool RegistryOperations::RemoveServiceProvider(const std::string& name) {
  return RemoveProvider(name, RegistryChange::Kind::kRemoveProvider, std::nullopt);
}

bool RegistryOperations::RemoveProvider(const std::string& name, RegistryChange::Kind kind,
                                        const std::optional<IClusterStore::Condition>& fence) {
  const ChangeRules rules{"RemoveServiceProvider", name, kStatusRemoveUnknownProvider, &RemoveUnknownMessage};
  return Change(rules, nullptr, [&](RegistryChange& change, GU::Status& status) REQUIRES(registryLock_) {
    change = RegistryChange::Provider(kind, name);
    change.fence = fence;
    return changes_->Take(change, status);
  });
}

bool RegistryOperations::AddServices(const std::string& providerName, const std::string& servicesXml,
                                     std::string& out) {
  const ChangeRules rules{"AddServices", providerName, kStatusAddServicesUnknownProvider, &AddServicesUnknownMessage};
  return Change(rules, &out, [&](RegistryChange& change, GU::Status& status) REQUIRES(registryLock_) {
    const ChangeOutcome checked = CheckProviderLocked(providerName, true, servicesXml, rules.operation, status);
    if (checked != ChangeOutcome::kDone) return checked;
    std::vector<ServiceElement> elements;
    if (!ReadServiceElements(servicesXml, elements, status)) return ChangeOutcome::kUnreadable;
    RefreshServicesLocked();
    change = RegistryChange::Provider(RegistryChange::Kind::kServices, providerName);
    for (ServiceElement& element : elements) {
      if (element.name.empty() || registry_.Services().count(element.name) == 0) continue;
      // A failure report ends the whole document.
      if (!element.statusMarkup.empty()) {
        change.Add(ServiceStep::Kind::kFailure, std::move(element));
        break;
      }
      std::string reason;
      if (!IsSafeServiceName(element.name, reason)) {
        status.Add(kStatusNameRefused,
                   GU::Format("Service name '%s' refused: %s", element.name.c_str(), reason.c_str()));
        Report(ServerSource(rules.operation).c_str(), "Service name '%s' refused: %s", element.name.c_str(),
               reason.c_str());
        continue;
      }
      change.Add(ServiceStep::Kind::kRegister, std::move(element));
      // Each at once where it is applied here, so that the reports follow the document.
      changes_->Take(change, status);
    }
    return changes_->Take(change, status);
  });
}

bool RegistryOperations::RemoveServices(const std::string& providerName, const std::string& servicesXml,
                                        std::string& out) {
  const ChangeRules rules{"RemoveServices", providerName, kStatusRemoveServicesUnknownProvider,
                          &RemoveServicesUnknownMessage};
  return Change(rules, &out, [&](RegistryChange& change, GU::Status& status) REQUIRES(registryLock_) {
    if (registry_.FindProvider(providerName) == nullptr) return ChangeOutcome::kMissing;
    std::vector<std::string> names;
    if (!ReadServiceNames(servicesXml, names, status)) return ChangeOutcome::kUnreadable;
    RefreshServicesLocked();
    change = RegistryChange::Provider(RegistryChange::Kind::kServices, providerName);
    for (std::string& name : names) change.Add(ServiceStep::Kind::kRemove, ServiceElement{{}, std::move(name), {}, {}});
    return changes_->Take(change, status);
  });
}

bool RegistryOperations::RemoveService(const std::string& providerName, const std::string& serviceName,
                                       std::string& out) {
  // Nothing to remove is no failure, and the operation leaves no status record.
  const ChangeRules rules{"RemoveService", providerName, 0, nullptr, false, false};
  return Change(rules, &out, [&](RegistryChange& change, GU::Status& status) REQUIRES(registryLock_) {
    RefreshServicesLocked();
    change = RegistryChange::Provider(RegistryChange::Kind::kServices, providerName);
    change.Add(ServiceStep::Kind::kRemove, ServiceElement{{}, serviceName, {}, {}});
    return changes_->Take(change, status);
  });
}

ChangeOutcome RegistryOperations::ApplyLocked(RegistryChange& change) {
  switch (change.kind) {
    case RegistryChange::Kind::kAddProvider:
      if (!registry_.AddProvider(change.provider, change.sessionId, change.values)) return ChangeOutcome::kExists;
      Report(ServerSource("AddServiceProvider").c_str(), "Added serviceProvider: %s", change.provider.c_str());
      return ChangeOutcome::kDone;
    case RegistryChange::Kind::kUpdateProvider:
      return registry_.UpdateProvider(change.provider, change.values) ? ChangeOutcome::kDone : ChangeOutcome::kMissing;
    case RegistryChange::Kind::kRemoveProvider:
    case RegistryChange::Kind::kDropProvider:
      return RemoveProviderLocked(change.provider) ? ChangeOutcome::kDone : ChangeOutcome::kMissing;
    case RegistryChange::Kind::kServices:
      for (const ServiceStep& step : change.steps) {
        const ServiceElement& element = step.element;
        switch (step.kind) {
          case ServiceStep::Kind::kRegister:
            RegisterServiceLocked(change.provider, element);
            break;
          case ServiceStep::Kind::kFailure:
            registry_.RecordFailure(change.provider, element.name, element.statusMarkup);
            break;
          case ServiceStep::Kind::kRemove:
            if (registry_.RemoveService(change.provider, element.name)) {
              Report(ServerSource("RemoveService").c_str(), "Unregistered Service '%s' from '%s'",
                     NormalizeServiceName(element.name).c_str(), change.provider.c_str());
            }
            break;
        }
      }
      change.steps.clear();
      return ChangeOutcome::kDone;
    case RegistryChange::Kind::kNone:
    case RegistryChange::Kind::kCatalogue:
      break;
  }
  return ChangeOutcome::kDone;
}

bool RegistryOperations::RemoveProviderLocked(const std::string& name) {
  RefreshServicesLocked();
  const std::optional<RemovedProvider> removed = registry_.RemoveProvider(name);
  if (!removed) return false;
  sessions_.Close(removed->sessionId);
  CountLocked();
  for (const std::string& service : removed->stoppedServices) {
    Report(ServerSource("RemoveService").c_str(), "Unregistered Service '%s' from '%s'", service.c_str(),
           removed->registeredName.c_str());
  }
  Report(ServerSource("RemoveServiceProvider").c_str(), "Removed serviceProvider: %s", name.c_str());
  return true;
}

void RegistryOperations::RegisterServiceLocked(const std::string& providerName, const ServiceElement& element) {
  const std::string& name = element.name;
  registry_.MarkRunning(providerName, element);
  std::string failedPath;
  if (!authentication_.Create(name, failedPath)) {
    Report(ServerSource("CreateAuthenticationFile").c_str(), "Failed to create file: '%s'", failedPath.c_str());
    return;
  }
  const bool first = registry_.CompleteRegistration(providerName, element) == Registry::Registration::kFirst;
  Report(ServerSource("AddServices").c_str(),
         first ? "Registered Service '%s' from '%s'" : "Updated properties of Service '%s' from '%s'", name.c_str(),
         providerName.c_str());
}

}  // namespace Korvane::Pictora::ServerCore
