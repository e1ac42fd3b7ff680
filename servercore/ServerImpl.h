// The one server core object of the process (see IServer). It keeps the locks, the seams and
// the order of every operation, and hands the work to its parts: the Registry value (providers,
// services, allocations), the ServicesFile and ConfigurationFile, the SessionTable, the
// AuthenticationFiles, the ServerLog and the report builders.
//
// Locks, always taken in this order and never the other way round:
//   registryLock_       the registry, the sessions, the services file and the status record;
//                       held for each whole registry operation, including the load queries of a
//                       lookup (the liveness pass pings without it)
//   reportLock_         the log output and its folder
//   configurationLock_  the configuration values
// None is re-entrant: an operation that runs inside another calls the *Locked helper that
// requires the lock instead of taking it again.
//
// In cluster mode (a cluster store among the seams) the registry is a replica: a change is
// committed to the store without the registry lock, and reaches the registry of every server,
// this one included, only through the replica, which applies it under the registry lock. The
// caller is answered once the change has arrived here.
//
// The seams (listener, provider calls, management information) are not owned; the host wires
// them and keeps them alive until the core is destroyed.
#pragma once

#include <atomic>
#include <chrono>
#include <vector>
#include <cstdarg>
#include <memory>
#include <string>

#include "global/Object.h"
#include "servercore/AuthenticationFiles.h"
#include "servercore/ClusterCatalogue.h"
#include "servercore/ClusterReplica.h"
#include "servercore/ClusterWriter.h"
#include "servercore/ConfigurationFile.h"
#include "servercore/IListener.h"
#include "servercore/IManagementInfo.h"
#include "servercore/IProviderCalls.h"
#include "servercore/IServer.h"
#include "servercore/MemoryGuard.h"
#include "servercore/ParallelLoads.h"
#include "servercore/Registry.h"
#include "servercore/ResilienceSettings.h"
#include "servercore/Reports.h"
#include "servercore/ServerLog.h"
#include "servercore/ServicesFile.h"
#include "servercore/SessionTable.h"
#include "servercore/StatusCodes.h"
#include "util/CriticalSection.h"
#include "util/ElementList.h"

namespace Korvane::Pictora::ServerCore {

// The log source of an operation of the core: its qualified name.
inline std::string ServerSource(std::string_view operation) {
  return std::string("Korvane::Pictora::ServerCore::ServerImpl::").append(operation);
}

class ServerImpl : public Global::Object, public IServer {
 public:
  struct Seams {
    IListener* listener = nullptr;
    IProviderCalls* providerCalls = nullptr;
    IManagementInfo* managementInfo = nullptr;     // may come later, see SetManagementInfo
    std::unique_ptr<MemoryGuard> memoryGuard;     // null: the process's own
    std::chrono::milliseconds livenessPeriod{60000};  // how often the host runs Manage
    IClusterStore* clusterStore = nullptr;  // set: cluster mode
    std::string clusterPrefix;
  };

  ServerImpl() : ServerImpl(Seams{}) {}
  explicit ServerImpl(Seams seams);
  ~ServerImpl() override;

  // The administration facade, once it exists (the server-manager report needs it).
  void SetManagementInfo(IManagementInfo* info) { managementInfo_ = info; }

  long Init(const std::string& endpoint) override;
  bool Close() override;
  using IServer::OpenSession;
  using IServer::SetStopFlag;
  bool SetStopFlag(const CallerIdentity& caller) override;
  bool GetStopFlag() override { return stopFlag_.load(); }
  void Manage() override;
  std::string GetVersion() override;

  bool OpenSession(const std::string& sessionInfoXml, const CallerIdentity& caller, std::string& sessionId,
                   std::string& error) override;
  std::shared_ptr<ISession> GetSession(const std::string& sessionId) override;
  bool CloseSession(const std::string& sessionId, std::string& out) override;

  std::string GetInfo(const CallerIdentity& caller, const std::string& reportKind, std::string& out) override;
  bool AddServiceProvider(const std::string& name, const std::string& sessionId, const std::string& providerXml,
                          std::string& statusXml) override;
  bool RemoveServiceProvider(const std::string& name) override;
  bool UpdateServiceProviderInfo(const std::string& name, const std::string& providerXml, std::string& out) override;
  bool AddServices(const std::string& providerName, const std::string& servicesXml, std::string& out) override;
  bool RemoveServices(const std::string& providerName, const std::string& servicesXml, std::string& out) override;
  bool RemoveService(const std::string& providerName, const std::string& serviceName, std::string& out) override;
  bool GetServiceProvidersFor(const ISession& session, const CallerIdentity& caller, const std::string& serviceName,
                              std::string& xml) override;
  std::string GetServiceProviders() override;
  std::string GetServiceProviderInfo(const std::string& name) override;
  bool GetServiceProviderHostAndPort(const std::string& name, std::string& host, std::string& endpoint,
                                     std::string& statusXml) override;
  std::string GetServices(const std::string& providerName) override;
  std::string GetServiceInfo(const std::string& providerName, const std::string& serviceName) override;
  std::string GetServicesForServiceProvider(const std::string& providerName) override;
  std::string GetServiceProviderConfiguration(const std::string& providerName) override;
  std::string GetServerInfoForClient(const std::string& first, const std::string& second) override;
  unsigned GetServiceProvidersCount() override { return providersCount_.load(); }
  int GetServicesCount() override { return allocationsCount_.load(); }
  // Reads the session table's atomic count without the registry lock, hence no analysis.
  ServerCounts GetCounts() override NO_THREAD_SAFETY_ANALYSIS;
  GeneralUtilityLib::ElementList GetConfiguration() override EXCLUDES(configurationLock_);
  bool GetServiceName(const std::string& name, std::string& storedName, std::string& message) override;
  bool Synchronize(const std::string& configuration) override;
  IServicesCatalogue* SharedCatalogue() override { return catalogue_.get(); }

  // Reports go to the status reporter (the global reporter) as one-entry status records,
  // messages cut to 5000 characters.
  void ReportStatus() override EXCLUDES(reportLock_);
  void ReportV(const char* source, const char* format, va_list args) override EXCLUDES(reportLock_);

 private:
  // Runs one operation's body; anything it throws is reported as "Fatal error" under the
  // operation's qualified name and answered with `failure`.
  template <typename Result, typename Body>
  Result Guarded(const char* operation, Result failure, Body body) noexcept;

  // Start-up (ServerImplStartup.cc).
  long InitLocked(const std::string& endpoint, GeneralUtilityLib::Status& status) REQUIRES(registryLock_);
  void OpenLogs() REQUIRES(registryLock_) EXCLUDES(reportLock_);

  // The registry (ServerImplRegistry.cc): the services follow the file before each change,
  // and a provider leaves with its services and its session.
  void RefreshServicesLocked() REQUIRES(registryLock_);
  bool RemoveProviderLocked(const std::string& name, GeneralUtilityLib::Status& status) REQUIRES(registryLock_);
  // False, with 1130 in status, while the process holds its memory limit.
  bool AdmitLocked(const std::string& incoming, const char* operation, GeneralUtilityLib::Status& status)
      REQUIRES(registryLock_);
  void RegisterServiceLocked(const std::string& providerName, const ServiceElement& element,
                             GeneralUtilityLib::Status& status) REQUIRES(registryLock_);

  // Cluster mode (ServerImplCluster.cc): the replica's start and the changes it applies.
  void StartReplicaLocked(const std::string& endpoint) REQUIRES(registryLock_);
  void ApplyReplicated(const std::vector<IClusterStore::Change>& changes) EXCLUDES(registryLock_);
  void ReplaceReplicated(const std::vector<IClusterStore::Entry>& entries) EXCLUDES(registryLock_);
  void ApplyChangeLocked(const IClusterStore::Change& change) REQUIRES(registryLock_);
  void PutProviderLocked(const std::string& value) REQUIRES(registryLock_);
  void PutServiceLocked(const std::string& providerKey, const std::string& serviceKey, const std::string& value,
                        bool failure) REQUIRES(registryLock_);
  void WriteCatalogueLocked(const std::string& text) REQUIRES(registryLock_);
  // The registry changes of cluster mode: committed first, answered once arrived.
  bool AddServiceProviderReplicated(const std::string& name, const std::string& sessionId,
                                    const std::string& providerXml, std::string& statusXml) EXCLUDES(registryLock_);
  bool UpdateServiceProviderReplicated(const std::string& name, const std::string& providerXml, std::string& out)
      EXCLUDES(registryLock_);
  bool RemoveServiceProviderReplicated(const std::string& name) EXCLUDES(registryLock_);
  bool RemoveServiceReplicated(const std::string& providerName, const std::string& serviceName, std::string& out)
      EXCLUDES(registryLock_);
  bool ChangeServicesReplicated(const char* operation, const std::string& providerName, const std::string& servicesXml,
                                bool add, std::string& out) EXCLUDES(registryLock_);
  // True, with the reason in status, while the store is known not to answer: a change is then
  // refused at once rather than after a timeout.
  bool RefusedWhileUnreachable(GeneralUtilityLib::Status& status);
  // Whether a commit landed; when it did not, why, in status.
  bool Landed(ClusterWriter::Result result, std::int64_t revision, const std::string& error,
              GeneralUtilityLib::Status& status);

  // The status record each operation leaves, copied in once at its end.
  void PublishLocked(const GeneralUtilityLib::Status& status) REQUIRES(registryLock_) { status_ = status; }
  ServerFacts FactsLocked() REQUIRES(registryLock_) EXCLUDES(reportLock_, configurationLock_);
  std::string ServerManagerReportLocked(GeneralUtilityLib::Status& status) REQUIRES(registryLock_);
  void CountLocked() REQUIRES(registryLock_);

  // Whether a provider whose ping failed has failed often enough to be dropped; false too in a
  // pass that runs far later than due (the host was stalled: its failures prove nothing).
  bool DropAfterFailedPing(const std::string& name, bool passIsLate);

  std::atomic<IListener*> listener_;
  std::atomic<IProviderCalls*> providerCalls_;
  std::atomic<IManagementInfo*> managementInfo_;
  std::unique_ptr<MemoryGuard> memoryGuard_;
  AuthenticationFiles authentication_;

  const std::chrono::milliseconds livenessPeriod_;
  // The host's loop thread only: when the last liveness pass ended.
  std::chrono::steady_clock::time_point lastPassEnd_;
  std::unique_ptr<ParallelLoads> parallelLoads_;  // with ParallelLoadQueries only; set by Init

  // Fixed by Init before any call can arrive; read-only afterwards.
  ResilienceSettings settings_;
  std::string serverFolder_;
  std::string configPath_;
  std::string servicesPath_;

  GeneralUtilityLib::ActiveCriticalSection registryLock_;
  Registry registry_ GUARDED_BY(registryLock_);
  SessionTable sessions_ GUARDED_BY(registryLock_);
  ServicesFile servicesFile_ GUARDED_BY(registryLock_);
  ConfigurationFile configFile_ GUARDED_BY(registryLock_);
  bool listening_ GUARDED_BY(registryLock_) = false;

  GeneralUtilityLib::ActiveCriticalSection reportLock_ ACQUIRED_AFTER(registryLock_);
  ServerLog log_ GUARDED_BY(reportLock_);

  GeneralUtilityLib::ActiveCriticalSection configurationLock_ ACQUIRED_AFTER(registryLock_);
  GeneralUtilityLib::ElementList configuration_ GUARDED_BY(configurationLock_);

  // Cluster mode only; fixed by Init.
  IClusterStore* const clusterStore_;
  const std::string clusterPrefix_;
  std::unique_ptr<ClusterKeys> clusterKeys_;
  std::unique_ptr<ClusterReplica> replica_;
  std::unique_ptr<ClusterWriter> writer_;
  std::unique_ptr<ClusterCatalogue> catalogue_;

  std::atomic<bool> stopFlag_{false};
  std::atomic<unsigned> providersCount_{0};
  std::atomic<int> allocationsCount_{0};
  std::atomic<std::uint64_t> droppedCount_{0};
};

}  // namespace Korvane::Pictora::ServerCore

namespace Korvane::Pictora::ServerCore {

template <typename Result, typename Body>
Result ServerImpl::Guarded(const char* operation, Result failure, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    try {
      Report(ServerSource(operation).c_str(), "Fatal error");
    } catch (...) {
    }
    return failure;
  }
}

}  // namespace Korvane::Pictora::ServerCore
