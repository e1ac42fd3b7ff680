// The information reports.
#include "servercore/ClusterRegistryChanges.h"
#include "servercore/ServerImpl.h"
#include "servercore/ServerManagerReport.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;

ServerFacts ServerImpl::FactsLocked() {
  const GU::ElementList config = GetConfiguration();
  CriticalSectionLock lock(&reportLock_);
  return ServerFacts{configPath_, config.GetValue("HostMachine"), config.GetValue("Endpoint"), log_.Folder(),
                     cluster_ != nullptr ? cluster_->Replica().Describe() : std::string()};
}

std::string ServerImpl::GetInfo(const CallerIdentity& caller, const std::string& reportKind, std::string& out) {
  return Guarded("GetInfo", std::string(), [&] {
    std::vector<RegistryChange> removals;
    std::string report;
    {
      CriticalSectionLock lock(&registryLock_);
      GU::Status status("ServerCore.Server.GetInfo");
      if (GU::Equals(reportKind, "Basic", true)) {
        report = BasicReport(FactsLocked(), registry_);
      } else if (GU::Equals(reportKind, "ServerManager", true)) {
        report = ServerManagerReportLocked(status, removals);
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
    }
    for (RegistryChange& removal : removals) {
      GU::Status scratch;
      changes_->Land(removal, scratch);
    }
    return report;
  });
}

std::string ServerImpl::ServerManagerReportLocked(GU::Status& status, std::vector<RegistryChange>& removals) {
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
  };
  std::vector<Registered> registered;
  for (const auto& [name, record] : registry_.Providers()) registered.push_back({name, record.config});
  for (const Registered& provider : registered) {
    const std::string info = management->GetServiceProviderInfo(provider.config);
    report.AddRegistered(provider.name, provider.config, info);
    if (!info.empty()) continue;
    // It did not answer: it is gone, with its session. What is not applied here at once lands
    // once the lock is released.
    RegistryChange removal = RegistryChange::Provider(RegistryChange::Kind::kDropProvider, provider.name);
    changes_->Take(removal, status);
    if (!removal.settled) removals.push_back(std::move(removal));
  }
  report.AddConfiguredOnly(management->NotRunningProviders());
  RefreshServicesLocked();
  return report.Finish(registry_.Services());
}

}  // namespace Korvane::Pictora::ServerCore
