// The one server core object of the process (see IServer).
//
// Thread safety: every operation may be called from any thread once Init has returned.
// Registry operations serialise on registryLock_ (re-entrant); reports and the log switch on
// reportLock_, always taken after registryLock_ and never before it. The liveness pass pings
// providers without the registry lock; the provider ranking asks loads while holding it.
//
// The seams (listener, provider calls, management information) are not owned; the host
// wires them before Init and keeps them alive until the core is destroyed.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "global/LogFileHandler.h"
#include "global/Object.h"
#include "servercore/ConfiguredProviders.h"
#include "servercore/FileStamp.h"
#include "servercore/IListener.h"
#include "servercore/IManagementInfo.h"
#include "servercore/IProviderCalls.h"
#include "servercore/IServer.h"
#include "servercore/MemoryGuard.h"
#include "servercore/ServiceProviderRecord.h"
#include "servercore/ServiceRecord.h"
#include "servercore/Session.h"
#include "util/CriticalSection.h"
#include "util/ElementList.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::ServerCore {

// Status codes of the server core.
inline constexpr std::uint32_t kStatusConfigurationError = 15616;
inline constexpr std::uint32_t kStatusAlreadyRegistered = 15617;
inline constexpr std::uint32_t kStatusRemoveUnknownProvider = 15618;
inline constexpr std::uint32_t kStatusUpdateUnknownProvider = 15619;
inline constexpr std::uint32_t kStatusAddServicesUnknownProvider = 15620;
inline constexpr std::uint32_t kStatusRemoveServicesUnknownProvider = 15621;
inline constexpr std::uint32_t kStatusBadConfiguration = 15622;
inline constexpr std::uint32_t kStatusNameRefused = 15623;
inline constexpr std::uint32_t kStatusProviderNotRegistered = 15624;
inline constexpr std::uint32_t kStatusProviderNotRunning = 15625;
inline constexpr std::uint32_t kStatusReportUnavailable = 15626;
inline constexpr std::uint32_t kStatusFatal = 15871;
// The system's "not enough server storage" number: the process holds its memory limit.
inline constexpr std::uint32_t kStatusServerOutOfMemory = 1130;

class ServerImpl : public Global::Object, public IServer {
 public:
  ServerImpl(IListener* listener = nullptr, IProviderCalls* providerCalls = nullptr,
             IManagementInfo* managementInfo = nullptr);
  ~ServerImpl() override;

  void SetListener(IListener* listener) { listener_ = listener; }
  void SetProviderCalls(IProviderCalls* calls) { providerCalls_ = calls; }
  // May be null (before the facade exists): the server-manager report then fails.
  void SetManagementInfo(IManagementInfo* info) { managementInfo_ = info; }
  // Replaces the process's own memory guard; before calls arrive.
  void SetMemoryGuard(std::unique_ptr<MemoryGuard> guard) { memoryGuard_ = std::move(guard); }

  long Init(const std::string& endpoint) override;
  bool Close() override;
  void SetStopFlag() override;
  bool GetStopFlag() override { return stopFlag_.load(); }
  void Manage() override;
  std::string GetVersion() override;

  bool OpenSession(const std::string& sessionInfoXml, std::string& sessionId,
                   std::string& error) override;
  std::shared_ptr<ISession> GetSession(const std::string& sessionId) override;
  bool CloseSession(const std::string& sessionId, std::string& out) override;

  std::string GetInfo(const CallerIdentity& caller, const std::string& reportKind,
                      std::string& out) override;
  bool AddServiceProvider(const std::string& name, const std::string& sessionId,
                          const std::string& providerXml, std::string& statusXml) override;
  bool RemoveServiceProvider(const std::string& name) override;
  bool UpdateServiceProviderInfo(const std::string& name, const std::string& providerXml,
                                 std::string& out) override;
  bool AddServices(const std::string& providerName, const std::string& servicesXml,
                   std::string& out) override;
  bool RemoveServices(const std::string& providerName, const std::string& servicesXml,
                      std::string& out) override;
  bool RemoveService(const std::string& providerName, const std::string& serviceName,
                     std::string& out) override;
  bool GetServiceProvidersFor(const CallerIdentity& caller, const std::string& serviceName,
                              std::string& xml) override;
  std::string GetServiceProviders() override;
  std::string GetServiceProviderInfo(const std::string& name) override;
  bool GetServiceProviderHostAndPort(const std::string& name, std::string& host,
                                     std::string& endpoint, std::string& statusXml) override;
  std::string GetServices(const std::string& providerName) override;
  std::string GetServiceInfo(const std::string& providerName,
                             const std::string& serviceName) override;
  std::string GetServicesForServiceProvider(const std::string& providerName) override;
  std::string GetServiceProviderConfiguration(const std::string& providerName) override;
  std::string GetServerInfoForClient(const std::string& first, const std::string& second) override;
  unsigned GetServiceProvidersCount() override { return providersCount_.load(); }
  int GetServicesCount() override { return allocationsCount_.load(); }
  GeneralUtilityLib::ElementList GetConfiguration() override;
  bool GetServiceName(const std::string& name, std::string& storedName,
                      std::string& message) override;
  bool Synchronize(const std::string& configuration) override;

  // Reports go to the status reporter (the global reporter) as one-entry status records,
  // messages cut to 5000 characters.
  void ReportStatus() override;
  void ReportV(const char* source, const char* format, va_list args) override;

  // Where the authentication file of a service lives (home folder "Services/..."); creates
  // the folder. Empty text for a name that would lead out of that folder.
  std::string AuthenticationFilePath(const std::string& serviceName);
  // Whether the caller may learn where the service runs (always true without
  // authentication). On false message says why.
  bool CheckClientAccess(const CallerIdentity& caller, const std::string& serviceName,
                         std::string& message);

  // Paths fixed by Init.
  const std::string& ServerFolder() const { return serverFolder_; }
  const std::string& ConfigFile() const { return configFile_; }
  const std::string& ServicesFile() const { return servicesFile_; }
  std::string LogsFolder();
  bool AuthenticationActive() const { return authenticationActive_.load(); }

 private:
  // What the liveness pass needs of a provider, copied under the lock.
  struct PingTarget {
    std::string name;
    std::string host;
    std::string endpoint;
    std::string sessionId;
  };

  // Start-up (ServerImplStartup.cc).
  void PrepareServerFolder();
  void PrepareConfigurationFile() REQUIRES(registryLock_);
  bool WriteDefaultConfiguration() REQUIRES(registryLock_);
  void ApplyEndpoint(const std::string& endpoint) REQUIRES(registryLock_);
  void PrepareServicesFile();
  bool ReadConfiguration(long& code) REQUIRES(registryLock_);
  bool OpenLogs(long& code) REQUIRES(registryLock_);
  bool StartListening(long& code) REQUIRES(registryLock_);
  bool LoadConfigurationDocument(GeneralUtilityLib::XmlDocument& document);
  bool CloseLocked() REQUIRES(registryLock_);
  void ReportFatal(const char* operation);
  void ReportLine(const char* source, const std::string& message);

  // Registry (ServerImplRegistry.cc).
  bool LoadInfo(ServiceProviderRecord& record, const std::string& providerXml)
      REQUIRES(registryLock_);
  bool RemoveServiceProviderLocked(const std::string& name) REQUIRES(registryLock_);
  bool RemoveServiceLocked(const std::string& providerName, const std::string& serviceName)
      REQUIRES(registryLock_);
  bool RegisterService(const std::string& providerName, const std::string& serviceMarkup)
      REQUIRES(registryLock_);
  std::vector<std::string> SplitServiceElements(const std::string& servicesXml, bool& loaded)
      REQUIRES(registryLock_);
  void AddAllocation(const std::string& serviceName, const std::string& providerName)
      REQUIRES(registryLock_);
  void FailWith(std::uint32_t code, const std::string& message, std::string& out);
  // False, with the status in out, while the process holds its memory limit; the log gets a
  // line when refusing starts and when it ends, not one per refused call.
  bool HasRoomFor(const std::string& incoming, const char* operation, std::string& out)
      REQUIRES(registryLock_);

  // Services file (ServerImplServices.cc).
  bool LoadServices() REQUIRES(registryLock_);
  void ReadServiceEntry(std::size_t index, ServiceMap& previous) REQUIRES(registryLock_);
  std::vector<std::string> AllocationFor(const std::string& serviceProvidersText)
      REQUIRES(registryLock_);
  void RefreshDefaultAllocations() REQUIRES(registryLock_);

  // Sessions and access (ServerImplSessions.cc).
  bool CloseSessionLocked(const std::string& sessionId) REQUIRES(registryLock_);
  bool CreateAuthenticationFile(const std::string& serviceName);
  std::string AuthenticationFolder() const;

  // Ranking and liveness (ServerImplRanking.cc).
  void UpdateLoad(ServiceProviderRecord& record);
  bool Ping(const PingTarget& target, std::string& errorText);
  std::vector<PingTarget> CopyPingTargets();

  // Reports (ServerImplReports.cc).
  GeneralUtilityLib::ElementList BasicInformation() REQUIRES(registryLock_);
  std::string BasicReport() REQUIRES(registryLock_);
  std::string DetailedReport(const CallerIdentity& caller, bool forClient)
      REQUIRES(registryLock_);
  std::string ServerManagerReport(std::string& out) REQUIRES(registryLock_);
  std::string DetailedHeader() REQUIRES(registryLock_);

  std::atomic<IListener*> listener_;
  std::atomic<IProviderCalls*> providerCalls_;
  std::atomic<IManagementInfo*> managementInfo_;
  std::unique_ptr<MemoryGuard> memoryGuard_;

  // Fixed by Init, read-only afterwards.
  std::string configFile_;
  std::string serverFolder_;
  std::string servicesFile_;

  Global::LogFileHandler logFileHandler_;

  GeneralUtilityLib::ActiveCriticalSection registryLock_;
  GeneralUtilityLib::XmlDocument document_ GUARDED_BY(registryLock_);
  ServiceMap services_ GUARDED_BY(registryLock_);
  std::string logsFolder_ GUARDED_BY(registryLock_);
  ServiceProviderMap serviceProviders_ GUARDED_BY(registryLock_);
  AllocationMap allocations_ GUARDED_BY(registryLock_);
  std::map<std::string, std::shared_ptr<Session>, RegistryKeyLess> sessions_
      GUARDED_BY(registryLock_);
  std::FILE* configHandle_ GUARDED_BY(registryLock_) = nullptr;
  bool listening_ GUARDED_BY(registryLock_) = false;
  FileStamp servicesStamp_ GUARDED_BY(registryLock_);
  std::time_t servicesLoadedAt_ GUARDED_BY(registryLock_) = 0;
  bool refusingForMemory_ GUARDED_BY(registryLock_) = false;
  ConfiguredProviders configuredProviders_ GUARDED_BY(registryLock_);
  std::uint64_t defaultAllocationGeneration_ GUARDED_BY(registryLock_) = 0;

  GeneralUtilityLib::ActiveCriticalSection reportLock_;

  GeneralUtilityLib::ActiveCriticalSection configurationLock_;
  GeneralUtilityLib::ElementList configuration_ GUARDED_BY(configurationLock_);

  std::atomic<bool> stopFlag_{false};
  std::atomic<bool> authenticationActive_{false};
  std::atomic<unsigned> providersCount_{0};
  std::atomic<int> allocationsCount_{0};
};

}  // namespace Korvane::Pictora::ServerCore
