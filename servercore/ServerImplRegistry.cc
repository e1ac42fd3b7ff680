// The registry operations: providers, their services and the allocations.
#include "servercore/ProviderTexts.h"
#include "servercore/RegistryMessages.h"
#include "servercore/SafeNames.h"
#include "servercore/ServerImpl.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;
namespace {


bool FailWith(GU::Status& status, std::uint32_t code, const std::string& message) {
  status.AddFront(code, message);
  return false;
}

// The end of an operation that hands its status to the caller when it fails.
bool Answer(bool done, const GU::Status& status, std::string& out) {
  if (!done) out = status.ToXml();
  return done;
}

}  // namespace

void ServerImpl::RefreshServicesLocked() {
  servicesFile_.Refresh(registry_);
  CountLocked();
}

void ServerImpl::CountLocked() {
  providersCount_ = static_cast<unsigned>(registry_.Providers().size());
  allocationsCount_ = static_cast<int>(registry_.Allocations().size());
}

bool ServerImpl::AdmitLocked(const std::string& incoming, const char* operation, GU::Status& status) {
  const std::string source = ServerSource(operation);
  const MemoryGuard::Admission admission = memoryGuard_->Admit(incoming.size());
  if (admission == MemoryGuard::Admission::kAdmitted) return true;
  if (admission == MemoryGuard::Admission::kResumed) {
    Report(source.c_str(), "Memory use is below the limit again; new sessions and registrations are accepted");
    return true;
  }
  const std::string message = GU::Format(
      "Not enough server storage is available to process this command: the server holds %zu MiB "
      "of its %zu MiB limit and takes no new sessions or registrations until memory is freed",
      memoryGuard_->LastResidentBytes() >> 20, memoryGuard_->LimitBytes() >> 20);
  if (admission == MemoryGuard::Admission::kRefusalStarted) Report(source.c_str(), "%s", message.c_str());
  return FailWith(status, kStatusServerOutOfMemory, message);
}

bool ServerImpl::AddServiceProvider(const std::string& name, const std::string& sessionId,
                                    const std::string& providerXml, std::string& statusXml) {
  if (writer_) return AddServiceProviderReplicated(name, sessionId, providerXml, statusXml);
  return Guarded("AddServiceProvider", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    GU::Status status("ServerCore.Server.AddServiceProvider");
    const bool added = [&]() REQUIRES(registryLock_) {
      if (registry_.FindProvider(name) != nullptr) {
        return Answer(FailWith(status, kStatusAlreadyRegistered, AlreadyRegisteredMessage(name)),
                      status, statusXml);
      }
      if (!AdmitLocked(providerXml, "AddServiceProvider", status)) return Answer(false, status, statusXml);
      // Text that does not load fails the registration without a status for the caller.
      ProviderValues values;
      if (!ReadProviderValues(providerXml, values, status)) return false;
      registry_.AddProvider(name, sessionId, values);
      CountLocked();
      Report(ServerSource("AddServiceProvider").c_str(), "Added serviceProvider: %s", name.c_str());
      return true;
    }();
    PublishLocked(status);
    return added;
  });
}

bool ServerImpl::UpdateServiceProviderInfo(const std::string& name, const std::string& providerXml,
                                           std::string& out) {
  if (writer_) return UpdateServiceProviderReplicated(name, providerXml, out);
  return Guarded("UpdateServiceProviderInfo", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    GU::Status status("ServerCore.Server.UpdateServiceProviderInfo");
    const bool updated = [&]() REQUIRES(registryLock_) {
      if (registry_.FindProvider(name) == nullptr) {
        return FailWith(status, kStatusUpdateUnknownProvider, UpdateUnknownMessage(name));
      }
      if (!AdmitLocked(providerXml, "UpdateServiceProviderInfo", status)) return Answer(false, status, out);
      ProviderValues values;
      return ReadProviderValues(providerXml, values, status) && registry_.UpdateProvider(name, values);
    }();
    PublishLocked(status);
    return updated;
  });
}

bool ServerImpl::RemoveServiceProvider(const std::string& name) {
  if (writer_) return RemoveServiceProviderReplicated(name);
  return Guarded("RemoveServiceProvider", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    GU::Status status("ServerCore.Server.RemoveServiceProvider");
    const bool removed = RemoveProviderLocked(name, status);
    PublishLocked(status);
    return removed;
  });
}

bool ServerImpl::RemoveProviderLocked(const std::string& name, GU::Status& status) {
  RefreshServicesLocked();
  const std::optional<RemovedProvider> removed = registry_.RemoveProvider(name);
  if (!removed) {
    return FailWith(status, kStatusRemoveUnknownProvider, RemoveUnknownMessage(name));
  }
  sessions_.Close(removed->sessionId);
  CountLocked();
  for (const std::string& service : removed->stoppedServices) {
    Report(ServerSource("RemoveService").c_str(), "Unregistered Service '%s' from '%s'",
           service.c_str(), removed->registeredName.c_str());
  }
  Report(ServerSource("RemoveServiceProvider").c_str(), "Removed serviceProvider: %s", name.c_str());
  return true;
}

bool ServerImpl::AddServices(const std::string& providerName, const std::string& servicesXml, std::string& out) {
  if (writer_) return ChangeServicesReplicated("AddServices", providerName, servicesXml, true, out);
  return Guarded("AddServices", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    GU::Status status("ServerCore.Server.AddServices");
    const bool taken = [&]() REQUIRES(registryLock_) {
      if (registry_.FindProvider(providerName) == nullptr) {
        return FailWith(status, kStatusAddServicesUnknownProvider, AddServicesUnknownMessage(providerName));
      }
      if (!AdmitLocked(servicesXml, "AddServices", status)) return Answer(false, status, out);
      std::vector<ServiceElement> elements;
      if (!ReadServiceElements(servicesXml, elements, status)) return false;
      RefreshServicesLocked();
      for (const ServiceElement& element : elements) {
        if (element.name.empty() || registry_.Services().count(element.name) == 0) continue;
        // A failure report ends the whole document.
        if (!element.statusMarkup.empty()) {
          registry_.RecordFailure(providerName, element.name, element.statusMarkup);
          break;
        }
        RegisterServiceLocked(providerName, element, status);
      }
      CountLocked();
      return true;
    }();
    PublishLocked(status);
    return taken;
  });
}

void ServerImpl::RegisterServiceLocked(const std::string& providerName, const ServiceElement& element,
                                       GU::Status& status) {
  const std::string& name = element.name;
  std::string reason;
  if (!IsSafeServiceName(name, reason)) {
    status.Add(kStatusNameRefused, GU::Format("Service name '%s' refused: %s", name.c_str(), reason.c_str()));
    Report(ServerSource("AddServices").c_str(), "Service name '%s' refused: %s", name.c_str(), reason.c_str());
    return;
  }
  registry_.MarkRunning(providerName, element);
  std::string failedPath;
  if (!authentication_.Create(name, failedPath)) {
    Report(ServerSource("CreateAuthenticationFile").c_str(), "Failed to create file: '%s'",
           failedPath.c_str());
    return;
  }
  const bool first = registry_.CompleteRegistration(providerName, element) == Registry::Registration::kFirst;
  Report(ServerSource("AddServices").c_str(),
         first ? "Registered Service '%s' from '%s'" : "Updated properties of Service '%s' from '%s'", name.c_str(),
         providerName.c_str());
}

bool ServerImpl::RemoveServices(const std::string& providerName, const std::string& servicesXml, std::string& out) {
  if (writer_) return ChangeServicesReplicated("RemoveServices", providerName, servicesXml, false, out);
  return Guarded("RemoveServices", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    GU::Status status("ServerCore.Server.RemoveServices");
    const bool taken = [&]() REQUIRES(registryLock_) {
      if (registry_.FindProvider(providerName) == nullptr) {
        return FailWith(status, kStatusRemoveServicesUnknownProvider, RemoveServicesUnknownMessage(providerName));
      }
      std::vector<std::string> names;
      if (!ReadServiceNames(servicesXml, names, status)) return false;
      RefreshServicesLocked();
      for (const std::string& name : names) {
        if (registry_.RemoveService(providerName, name)) {
          Report(ServerSource("RemoveService").c_str(), "Unregistered Service '%s' from '%s'",
                 NormalizeServiceName(name).c_str(), providerName.c_str());
        }
      }
      CountLocked();
      return true;
    }();
    PublishLocked(status);
    return taken;
  });
}

bool ServerImpl::RemoveService(const std::string& providerName, const std::string& serviceName, std::string& out) {
  if (writer_) return RemoveServiceReplicated(providerName, serviceName, out);
  return Guarded("RemoveService", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    RefreshServicesLocked();
    if (registry_.RemoveService(providerName, serviceName)) {
      Report(ServerSource("RemoveService").c_str(), "Unregistered Service '%s' from '%s'",
             NormalizeServiceName(serviceName).c_str(), providerName.c_str());
    }
    CountLocked();
    return true;
  });
}

bool ServerImpl::GetServiceProviderHostAndPort(const std::string& name, std::string& host, std::string& endpoint,
                                               std::string& statusXml) {
  return Guarded("GetServiceProviderHostAndPort", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    GU::Status status("ServerCore.Server.GetServiceProviderHostAndPort");
    const bool found = registry_.Address(name, host, endpoint);
    if (!found) {
      status.Add(kStatusProviderNotRegistered,
                 GU::Format("The Service Provider '%s' is not registered on the Server.", name.c_str()));
    }
    PublishLocked(status);
    return Answer(found, status, statusXml);
  });
}

bool ServerImpl::GetServiceName(const std::string& name, std::string& storedName, std::string& message) {
  return Guarded("GetServiceName", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    RefreshServicesLocked();
    auto service = registry_.Services().find(name);
    if (service != registry_.Services().end()) {
      storedName = service->first;
      return true;
    }
    message = GU::Format("Failed to get the service name. The service '%s'is not registered on the Server",
                         name.c_str());
    return false;
  });
}

}  // namespace Korvane::Pictora::ServerCore
