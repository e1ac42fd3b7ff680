// The registry's lookup and reads: which providers run a service, least loaded first, and what
// the registry holds, from this server's copy of it.
#include "servercore/LoadQueries.h"
#include "servercore/RegistryOperations.h"
#include "servercore/Reports.h"
#include "servercore/SafeNames.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;
namespace {

constexpr const char* kRequestSource = "Korvane::Pictora::ServerCore::Session::GetServiceProvidersFor";

// The provider's configuration file as "<?xml " + the text of its first node (its declaration)
// + "?>" and its Pictora element; empty text when the file cannot be read.
std::string ProviderConfigurationText(const std::string& path) {
  GU::XmlDocument document;
  if (!document.LoadFile(path) || !document.SelectNode("//", 0)) return std::string();
  const std::string declaration = document.GetNodeText("");
  if (!document.SelectNode("/Pictora", 0)) return std::string();
  return GU::Format("<?xml %s?>%s", declaration.c_str(), document.GetNodeXml().c_str());
}

}  // namespace

bool RegistryOperations::GetServiceProvidersFor(const ISession& session, const CallerIdentity& caller,
                                                const std::string& serviceName, std::string& xml) {
  Report(kRequestSource, "%s", LookupRequestLine(session, serviceName).c_str());
  const bool found = Guarded("GetServiceProvidersFor", false, [&] {
    std::vector<Candidate> candidates;
    {
      CriticalSectionLock lock(&registryLock_);
      PublishLocked(GU::Status("ServerCore.Server.GetServiceProviderFor"));
      // The file the service's registered name denotes, however the caller spelled it.
      auto allocation = registry_.Allocations().find(serviceName);
      const std::string& checkedName = allocation != registry_.Allocations().end() ? allocation->first : serviceName;
      std::string message;
      if (!authentication_.MayUse(caller, checkedName, message)) {
        xml = message;
        return false;
      }
      if (!parallelLoads_) {
        // Held while every candidate is asked for its load, so the answer reflects one moment.
        IProviderCalls* calls = providerCalls_.load();
        candidates = registry_.PrepareCandidates(
            serviceName,
            [calls](const std::string& host, const std::string& endpoint) { return AskLoad(calls, host, endpoint); });
        xml = ProvidersAnswer(RankByLoad(candidates));
        return true;
      }
      candidates = registry_.PrepareCandidates(serviceName);
    }
    // The loads are asked without the lock; the answers are written back under it.
    std::vector<std::pair<std::string, std::string>> addresses;
    for (const Candidate& candidate : candidates) {
      addresses.emplace_back(candidate.record.config.GetValue("HostMachine"),
                             candidate.record.config.GetValue("Endpoint"));
    }
    const std::vector<double> loads = parallelLoads_->Ask(addresses, settings_.loadQueryBudget);
    CriticalSectionLock lock(&registryLock_);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      candidates[i].record.load = loads[i];
      registry_.SetLoad(candidates[i].name, loads[i]);
    }
    xml = ProvidersAnswer(RankByLoad(candidates));
    return true;
  });
  if (!found) Report(kRequestSource, "%s", xml.c_str());
  return found;
}

bool RegistryOperations::GetServiceProviderHostAndPort(const std::string& name, std::string& host,
                                                       std::string& endpoint, std::string& statusXml) {
  return Guarded("GetServiceProviderHostAndPort", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    GU::Status status("ServerCore.Server.GetServiceProviderHostAndPort");
    const bool found = registry_.Address(name, host, endpoint);
    if (!found) {
      status.Add(kStatusProviderNotRegistered,
                 GU::Format("The Service Provider '%s' is not registered on the Server.", name.c_str()));
    }
    PublishLocked(status);
    if (!found) statusXml = status.ToXml();
    return found;
  });
}

bool RegistryOperations::GetServiceName(const std::string& name, std::string& storedName, std::string& message) {
  return Guarded("GetServiceName", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    RefreshServicesLocked();
    auto service = registry_.Services().find(name);
    if (service != registry_.Services().end()) {
      storedName = service->first;
      return true;
    }
    message =
        GU::Format("Failed to get the service name. The service '%s'is not registered on the Server", name.c_str());
    return false;
  });
}

std::string RegistryOperations::GetServerInfoForClient(const std::string&, const std::string&) {
  return Guarded("GetServerInfoForClient", std::string(), [&] {
    CriticalSectionLock lock(&registryLock_);
    PublishLocked(GU::Status("ServerCore.Server.GetServerInfoForClient"));
    return ClientServerInfo(registry_);
  });
}

std::string RegistryOperations::GetServiceProviders() {
  return Guarded("GetServiceProviders", std::string(), [&] {
    CriticalSectionLock lock(&registryLock_);
    PublishLocked(GU::Status("ServerCore.Server.GetServiceProviders"));
    return ProviderList(registry_);
  });
}

std::string RegistryOperations::GetServiceProviderInfo(const std::string& name) {
  return Guarded("GetServiceProviderInfo", std::string(), [&] {
    CriticalSectionLock lock(&registryLock_);
    PublishLocked(GU::Status("ServerCore.Server.GetServiceProviderInfo"));
    return ProviderInfo(registry_, name);
  });
}

std::string RegistryOperations::GetServices(const std::string& providerName) {
  return Guarded("GetServices", std::string(), [&] {
    CriticalSectionLock lock(&registryLock_);
    PublishLocked(GU::Status("ServerCore.Server.GetServices"));
    return ServiceList(registry_, providerName);
  });
}

std::string RegistryOperations::GetServiceInfo(const std::string& providerName, const std::string& serviceName) {
  return Guarded("GetServiceInfo", std::string(), [&] {
    CriticalSectionLock lock(&registryLock_);
    PublishLocked(GU::Status("ServerCore.Server.GetServiceInfo"));
    return ServiceInfo(registry_, providerName, serviceName);
  });
}

std::string RegistryOperations::GetServicesForServiceProvider(const std::string& providerName) {
  return Guarded("GetServicesForServiceProvider", std::string(),
                 [&] { return ServicesFile::ServicesFor(servicesPath_, providerName); });
}

std::string RegistryOperations::GetServiceProviderConfiguration(const std::string& providerName) {
  return Guarded("GetServiceProviderConfiguration", std::string(), [&] {
    std::string reason;
    if (IsSafeProviderName(providerName, reason)) {
      return serverFolder_.empty() ? std::string()
                                   : ProviderConfigurationText(serverFolder_ + providerName + ".PTPConfig");
    }
    const std::string message =
        GU::Format("ServiceProvider name '%s' refused: %s", providerName.c_str(), reason.c_str());
    {
      CriticalSectionLock lock(&registryLock_);
      GU::Status status("ServerCore.Server.GetServiceProviderConfiguration");
      status.Add(kStatusNameRefused, message);
      PublishLocked(status);
    }
    Report(ServerSource("GetServiceProviderConfiguration").c_str(), "%s", message.c_str());
    return std::string();
  });
}

}  // namespace Korvane::Pictora::ServerCore
