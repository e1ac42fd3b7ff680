// The information reports and the texts handed to providers.
#include "servercore/SafeNames.h"
#include "servercore/ServerImpl.h"
#include "servercore/ServerManagerReport.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;
namespace {

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

ServerFacts ServerImpl::FactsLocked() {
  const GU::ElementList config = GetConfiguration();
  CriticalSectionLock lock(&reportLock_);
  return ServerFacts{configPath_, config.GetValue("HostMachine"), config.GetValue("Endpoint"), log_.Folder(),
                     replica_ ? replica_->Describe() : std::string()};
}

std::string ServerImpl::GetInfo(const CallerIdentity& caller, const std::string& reportKind, std::string& out) {
  return Guarded("GetInfo", std::string(), [&] {
    CriticalSectionLock lock(&registryLock_);
    GU::Status status("ServerCore.Server.GetInfo");
    std::string report;
    if (GU::Equals(reportKind, "Basic", true)) {
      report = BasicReport(FactsLocked(), registry_);
    } else if (GU::Equals(reportKind, "ServerManager", true)) {
      report = ServerManagerReportLocked(status);
      if (report.empty()) out = status.ToXml();
    } else if (GU::Equals(reportKind, "ServerInfoForClient", true)) {
      report = DetailedReport(FactsLocked(), registry_, [&](const std::string& serviceName) {
        std::string message;
        return authentication_.MayUse(caller, serviceName, message);
      });
    } else {
      report = DetailedReport(FactsLocked(), registry_, nullptr);
    }
    PublishLocked(status);
    return report;
  });
}

std::string ServerImpl::ServerManagerReportLocked(GU::Status& status) {
  IManagementInfo* management = managementInfo_.load();
  if (management == nullptr) {
    status.AddFront(kStatusReportUnavailable,
                    "The server-manager report is not available: the administration facade is not running");
    return std::string();
  }
  ServerManagerReport report(DetailedHeader(FactsLocked(), registry_), servicesFile_.ConfiguredProviders(),
                             serverFolder_);
  struct Registered {
    std::string name;
    GU::ElementList config;
    std::string sessionId;
  };
  std::vector<Registered> registered;
  for (const auto& [name, record] : registry_.Providers()) registered.push_back({name, record.config, record.sessionId});
  for (const Registered& provider : registered) {
    const std::string info = management->GetServiceProviderInfo(provider.config);
    report.AddRegistered(provider.name, provider.config, info);
    if (!info.empty()) continue;
    // It did not answer: it is gone. In a cluster the removal comes back through the replica.
    if (writer_) {
      std::int64_t revision = 0;
      std::string error;
      writer_->RemoveProvider(provider.name, std::nullopt, revision, error);
      continue;
    }
    RemoveProviderLocked(provider.name, status);
    sessions_.Close(provider.sessionId);
  }
  report.AddConfiguredOnly(management->NotRunningProviders());
  RefreshServicesLocked();
  return report.Finish(registry_.Services());
}

std::string ServerImpl::GetServerInfoForClient(const std::string&, const std::string&) {
  return Guarded("GetServerInfoForClient", std::string(), [&] {
    CriticalSectionLock lock(&registryLock_);
    PublishLocked(GU::Status("ServerCore.Server.GetServerInfoForClient"));
    return ClientServerInfo(registry_);
  });
}

std::string ServerImpl::GetServiceProviders() {
  return Guarded("GetServiceProviders", std::string(), [&] {
    CriticalSectionLock lock(&registryLock_);
    PublishLocked(GU::Status("ServerCore.Server.GetServiceProviders"));
    return ProviderList(registry_);
  });
}

std::string ServerImpl::GetServiceProviderInfo(const std::string& name) {
  return Guarded("GetServiceProviderInfo", std::string(), [&] {
    CriticalSectionLock lock(&registryLock_);
    PublishLocked(GU::Status("ServerCore.Server.GetServiceProviderInfo"));
    return ProviderInfo(registry_, name);
  });
}

std::string ServerImpl::GetServices(const std::string& providerName) {
  return Guarded("GetServices", std::string(), [&] {
    CriticalSectionLock lock(&registryLock_);
    PublishLocked(GU::Status("ServerCore.Server.GetServices"));
    return ServiceList(registry_, providerName);
  });
}

std::string ServerImpl::GetServiceInfo(const std::string& providerName, const std::string& serviceName) {
  return Guarded("GetServiceInfo", std::string(), [&] {
    CriticalSectionLock lock(&registryLock_);
    PublishLocked(GU::Status("ServerCore.Server.GetServiceInfo"));
    return ServiceInfo(registry_, providerName, serviceName);
  });
}

std::string ServerImpl::GetServicesForServiceProvider(const std::string& providerName) {
  return Guarded("GetServicesForServiceProvider", std::string(),
                 [&] { return ServicesFile::ServicesFor(servicesPath_, providerName); });
}

std::string ServerImpl::GetServiceProviderConfiguration(const std::string& providerName) {
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
