// The registry operations: providers, their services and the allocations.
#include <algorithm>

#include "servercore/SafeNames.h"
#include "servercore/ServerImpl.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;
namespace {

constexpr const char* kAddServiceProviderSource =
    "Korvane::Pictora::ServerCore::ServerImpl::AddServiceProvider";
constexpr const char* kRemoveServiceProviderSource =
    "Korvane::Pictora::ServerCore::ServerImpl::RemoveServiceProvider";
constexpr const char* kAddServicesSource = "Korvane::Pictora::ServerCore::ServerImpl::AddServices";
constexpr const char* kRemoveServiceSource =
    "Korvane::Pictora::ServerCore::ServerImpl::RemoveService";

}  // namespace

void ServerImpl::FailWith(std::uint32_t code, const std::string& message, std::string& out) {
  status_.AddFront(code, message);
  out = status_.ToXml(false);
}

bool ServerImpl::HasRoomFor(const std::string& incoming, const char* operation, std::string& out) {
  auto source = [operation] { return std::string("Korvane::Pictora::ServerCore::ServerImpl::") + operation; };
  if (memoryGuard_->HasRoom(incoming.size())) {
    if (refusingForMemory_) {
      refusingForMemory_ = false;
      Report(source().c_str(), "Memory use is below the limit again; new sessions and registrations are accepted");
    }
    return true;
  }
  const std::string message = GU::Format(
      "Not enough server storage is available to process this command: the server holds %zu MiB "
      "of its %zu MiB limit and takes no new sessions or registrations until memory is freed",
      memoryGuard_->LastResidentBytes() >> 20, memoryGuard_->LimitBytes() >> 20);
  if (!refusingForMemory_) {
    refusingForMemory_ = true;
    Report(source().c_str(), "%s", message.c_str());
  }
  FailWith(kStatusServerOutOfMemory, message, out);
  return false;
}

bool ServerImpl::AddServiceProvider(const std::string& name, const std::string& sessionId,
                                    const std::string& providerXml, std::string& statusXml) {
  try {
    CriticalSectionLock lock(&registryLock_, "AddServiceProvider");
    status_.Reset("ServerCore.Server.AddServiceProvider");
    std::string reason;
    if (!IsSafeProviderName(name, reason)) {
      FailWith(kStatusNameRefused,
               GU::Format("ServiceProvider name '%s' refused: %s", name.c_str(), reason.c_str()),
               statusXml);
      return false;
    }
    if (serviceProviders_.count(name) != 0) {
      FailWith(kStatusAlreadyRegistered,
               GU::Format("ServiceProvider '%s' already registered", name.c_str()), statusXml);
      return false;
    }
    if (!HasRoomFor(providerXml, "AddServiceProvider", statusXml)) return false;
    ServiceProviderRecord record;
    record.sessionId = sessionId;
    if (!LoadInfo(record, providerXml)) {
      statusXml = status_.ToXml(false);
      return false;
    }
    serviceProviders_.emplace(name, std::move(record));
    providersCount_ = static_cast<unsigned>(serviceProviders_.size());
    Report(kAddServiceProviderSource, "Added serviceProvider: %s", name.c_str());
    return true;
  } catch (...) {
    ReportFatal("AddServiceProvider");
    return false;
  }
}

bool ServerImpl::LoadInfo(ServiceProviderRecord& record, const std::string& providerXml) {
  document_.GetStatus().Reset("");
  if (!LooksLikeMarkup(providerXml)) {
    status_.Add(GU::kXmlLoadFailed, "Could not load XML: the text is not XML markup");
    return false;
  }
  if (!document_.Load(providerXml)) {
    status_.AddAll(document_.GetStatus());
    return false;
  }
  record.config.Merge(GU::NodesToList(document_, "//Config/*"));
  record.dynamic.Merge(GU::NodesToList(document_, "//Dynamic/*"));
  return true;
}

bool ServerImpl::UpdateServiceProviderInfo(const std::string& name, const std::string& providerXml,
                                           std::string& out) {
  try {
    CriticalSectionLock lock(&registryLock_, "UpdateServiceProviderInfo");
    status_.Reset("ServerCore.Server.UpdateServiceProviderInfo");
    auto provider = serviceProviders_.find(name);
    if (provider == serviceProviders_.end()) {
      FailWith(kStatusUpdateUnknownProvider,
               GU::Format("Could not update ServiceProvider info; ServiceProvider '%s' is not "
                          "registered on this Server.",
                          name.c_str()),
               out);
      return false;
    }
    if (!HasRoomFor(providerXml, "UpdateServiceProviderInfo", out)) return false;
    if (LoadInfo(provider->second, providerXml)) return true;
    out = status_.ToXml(false);
    return false;
  } catch (...) {
    ReportFatal("UpdateServiceProviderInfo");
    return false;
  }
}

bool ServerImpl::RemoveServiceProvider(const std::string& name) {
  try {
    CriticalSectionLock lock(&registryLock_, "RemoveServiceProvider");
    status_.Reset("ServerCore.Server.RemoveServiceProvider");
    return RemoveServiceProviderLocked(name);
  } catch (...) {
    ReportFatal("RemoveServiceProvider");
    return false;
  }
}

bool ServerImpl::RemoveServiceProviderLocked(const std::string& name) {
  auto provider = serviceProviders_.find(name);
  if (provider == serviceProviders_.end()) {
    status_.AddFront(kStatusRemoveUnknownProvider,
                     GU::Format("Could not unregister ServiceProvider; ServiceProvider '%s' is "
                                "not registered on this Server.",
                                name.c_str()));
    return false;
  }
  CloseSessionLocked(provider->second.sessionId);
  // The registered spelling: the running lists hold the name the provider registered with.
  const std::string registeredName = provider->first;
  ServiceMap& services = provider->second.services;
  while (!services.empty()) {
    const std::string serviceName = services.begin()->first;
    RemoveServiceLocked(registeredName, serviceName);
    services.erase(serviceName);
  }
  serviceProviders_.erase(provider);
  providersCount_ = static_cast<unsigned>(serviceProviders_.size());
  for (auto& allocation : allocations_) allocation.second.erase(registeredName);
  Report(kRemoveServiceProviderSource, "Removed serviceProvider: %s", name.c_str());
  return true;
}

bool ServerImpl::AddServices(const std::string& providerName, const std::string& servicesXml,
                             std::string& out) {
  try {
    CriticalSectionLock lock(&registryLock_, "AddServices");
    status_.Reset("ServerCore.Server.AddServices");
    if (serviceProviders_.count(providerName) == 0) {
      FailWith(kStatusAddServicesUnknownProvider,
               GU::Format("Could not register services of ServiceProvider '%s' as it is not "
                          "registered on this Server.",
                          providerName.c_str()),
               out);
      return false;
    }
    if (!HasRoomFor(servicesXml, "AddServices", out)) return false;
    bool loaded = false;
    const std::vector<std::string> markups = SplitServiceElements(servicesXml, loaded);
    if (!loaded) {
      out = status_.ToXml(false);
      return false;
    }
    LoadServices();
    for (const std::string& markup : markups) {
      // A failure report ends the whole document.
      if (!RegisterService(providerName, markup)) break;
    }
    return true;
  } catch (...) {
    ReportFatal("AddServices");
    return false;
  }
}

std::vector<std::string> ServerImpl::SplitServiceElements(const std::string& servicesXml,
                                                          bool& loaded) {
  std::vector<std::string> markups;
  document_.GetStatus().Reset("");
  loaded = LooksLikeMarkup(servicesXml) && document_.Load(servicesXml);
  if (!loaded) {
    status_.AddAll(document_.GetStatus());
    return markups;
  }
  // One selection walked by index: a query per element would make a large document
  // quadratic.
  const long count = document_.CountChildren("//ImageServices");
  for (long i = 0; i < count; ++i) {
    if (document_.SelectNode("//ImageServices/Service", static_cast<std::size_t>(i))) {
      markups.push_back(document_.GetNodeContent(""));
    }
  }
  return markups;
}

bool ServerImpl::RegisterService(const std::string& providerName, const std::string& markup) {
  if (!LooksLikeMarkup(markup) || !document_.Load(markup)) return true;
  const std::string name = NormalizeServiceName(document_.GetText("//Service/Name", ""));
  if (name.empty()) return true;
  auto found = services_.find(name);
  if (found == services_.end()) return true;
  ServiceRecord& service = found->second;
  const std::string status =
      document_.SelectNode("//Service/Status", 0) ? document_.GetNodeXml() : std::string();
  if (!status.empty()) {
    auto running = std::find(service.runningOn.begin(), service.runningOn.end(), providerName);
    if (running != service.runningOn.end()) service.runningOn.erase(running);
    service.failedOn[providerName] = status;
    return false;
  }
  std::string reason;
  if (!IsSafeServiceName(name, reason)) {
    status_.Add(kStatusNameRefused,
                GU::Format("Service name '%s' refused: %s", name.c_str(), reason.c_str()));
    Report(kAddServicesSource, "Service name '%s' refused: %s", name.c_str(), reason.c_str());
    return true;
  }
  service.registrationXml = markup;
  if (std::find(service.runningOn.begin(), service.runningOn.end(), providerName) ==
      service.runningOn.end()) {
    service.runningOn.push_back(providerName);
  }
  if (!CreateAuthenticationFile(name)) return true;
  if (!service.registrationXml.empty() && document_.Load(service.registrationXml)) {
    service.properties.Merge(GU::NodesToList(document_, "//*"));
  }
  ServiceMap& providerServices = serviceProviders_.find(providerName)->second.services;
  auto copy = providerServices.find(name);
  if (copy != providerServices.end()) {
    copy->second = service.DescriptionCopy();
    Report(kAddServicesSource, "Updated properties of Service '%s' from '%s'", name.c_str(),
           providerName.c_str());
  } else {
    providerServices.emplace(name, service.DescriptionCopy());
    AddAllocation(name, providerName);
    Report(kAddServicesSource, "Registered Service '%s' from '%s'", name.c_str(),
           providerName.c_str());
  }
  return true;
}

void ServerImpl::AddAllocation(const std::string& serviceName, const std::string& providerName) {
  auto [allocation, inserted] = allocations_.try_emplace(serviceName);
  allocation->second.insert(providerName);
  if (inserted) allocationsCount_ = static_cast<int>(allocations_.size());
}

bool ServerImpl::RemoveServices(const std::string& providerName, const std::string& servicesXml,
                                std::string& out) {
  try {
    CriticalSectionLock lock(&registryLock_, "RemoveServices");
    status_.Reset("ServerCore.Server.RemoveServices");
    if (serviceProviders_.count(providerName) == 0) {
      FailWith(kStatusRemoveServicesUnknownProvider,
               GU::Format("Could not unregister services of ServiceProvider '%s' as it is not "
                          "registered on this Server.",
                          providerName.c_str()),
               out);
      return false;
    }
    document_.GetStatus().Reset("");
    if (!LooksLikeMarkup(servicesXml) || !document_.Load(servicesXml)) {
      status_.AddAll(document_.GetStatus());
      out = status_.ToXml(false);
      return false;
    }
    std::vector<std::string> markups;
    const long count = document_.CountChildren("//ImageServices");
    for (long i = 0; i < count; ++i) {
      if (document_.SelectNode("//ImageServices/Service", static_cast<std::size_t>(i))) {
        markups.push_back(document_.GetNodeXml());
      }
    }
    // Each removal may re-read the services file into document_, hence a document of its own.
    for (const std::string& markup : markups) {
      GU::XmlDocument service;
      GU::ElementList values;
      if (service.Load(markup)) values.Merge(GU::NodesToList(service, "/Service/*"));
      RemoveServiceLocked(providerName, values.GetValue("Name"));
    }
    return true;
  } catch (...) {
    ReportFatal("RemoveServices");
    return false;
  }
}

bool ServerImpl::RemoveService(const std::string& providerName, const std::string& serviceName,
                               std::string&) {
  try {
    CriticalSectionLock lock(&registryLock_, "RemoveService");
    return RemoveServiceLocked(providerName, serviceName);
  } catch (...) {
    ReportFatal("RemoveService");
    return false;
  }
}

bool ServerImpl::RemoveServiceLocked(const std::string& providerName,
                                     const std::string& serviceName) {
  const std::string name = NormalizeServiceName(serviceName);
  auto provider = serviceProviders_.find(providerName);
  if (provider != serviceProviders_.end()) provider->second.services.erase(name);
  LoadServices();
  auto service = services_.find(name);
  if (service != services_.end()) {
    std::vector<std::string>& running = service->second.runningOn;
    auto entry = std::find(running.begin(), running.end(), providerName);
    if (entry != running.end()) {
      running.erase(entry);
      Report(kRemoveServiceSource, "Unregistered Service '%s' from '%s'", name.c_str(),
             providerName.c_str());
    }
    service->second.failedOn.Erase(providerName);
  }
  auto allocation = allocations_.find(name);
  // The entry stays even when no provider is left in it.
  if (allocation != allocations_.end()) allocation->second.erase(providerName);
  return true;
}

bool ServerImpl::GetServiceProviderHostAndPort(const std::string& name, std::string& host,
                                               std::string& endpoint, std::string& statusXml) {
  try {
    CriticalSectionLock lock(&registryLock_, "GetServiceProviderHostAndPort");
    status_.Reset("ServerCore.Server.GetServiceProviderHostAndPort");
    auto provider = serviceProviders_.find(name);
    if (provider == serviceProviders_.end()) {
      status_.Add(kStatusProviderNotRegistered,
                  GU::Format("The Service Provider '%s' is not registered on the Server.",
                             name.c_str()));
      statusXml = status_.ToXml(false);
      return false;
    }
    host = provider->second.config["HostMachine"];
    endpoint = provider->second.config["Endpoint"];
    return true;
  } catch (...) {
    ReportFatal("GetServiceProviderHostAndPort");
    return false;
  }
}

bool ServerImpl::GetServiceName(const std::string& name, std::string& storedName,
                                std::string& message) {
  try {
    // The lock too: LoadServices may rebuild the map.
    CriticalSectionLock lock(&registryLock_, "GetServiceName");
    LoadServices();
    auto service = services_.find(name);
    if (service != services_.end()) {
      storedName = service->first;
      return true;
    }
    message = GU::Format(
        "Failed to get the service name. The service '%s'is not registered on the Server",
        name.c_str());
    return false;
  } catch (...) {
    ReportFatal("GetServiceName");
    return false;
  }
}

}  // namespace Korvane::Pictora::ServerCore
