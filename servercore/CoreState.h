// What every operation of the server core shares: the seams the host wires, the settings and
// files Init fixes, the registry with its sessions and services file, the log, the counters, and
// the locks that guard them, with the status record each operation leaves. The operations live
// in the classes built on it: RegistryOperations (the registry's) and ServerImpl (start-up,
// sessions, reports, the liveness pass and the cluster's replica).
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
// The seams (listener, provider calls, management information) are not owned; the host wires
// them and keeps them alive until the core is destroyed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <memory>
#include <string>

#include "global/Object.h"
#include "servercore/AuthenticationFiles.h"
#include "servercore/ConfigurationFile.h"
#include "servercore/IClusterStore.h"
#include "servercore/IListener.h"
#include "servercore/IManagementInfo.h"
#include "servercore/IProviderCalls.h"
#include "servercore/IServer.h"
#include "servercore/MemoryGuard.h"
#include "servercore/ParallelLoads.h"
#include "servercore/Registry.h"
#include "servercore/ResilienceSettings.h"
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

class CoreState : public Global::Object, public IServer {
 public:
  struct Seams {
    IListener* listener = nullptr;
    IProviderCalls* providerCalls = nullptr;
    IManagementInfo* managementInfo = nullptr;        // may come later, see SetManagementInfo
    std::unique_ptr<MemoryGuard> memoryGuard;         // null: the process's own
    std::chrono::milliseconds livenessPeriod{60000};  // how often the host runs Manage
    IClusterStore* clusterStore = nullptr;            // set: cluster mode
    std::string clusterPrefix;
  };

  explicit CoreState(Seams seams);

  bool GetStopFlag() override { return stopFlag_.load(); }
  unsigned GetServiceProvidersCount() override { return providersCount_.load(); }
  int GetServicesCount() override { return allocationsCount_.load(); }
  // Reads the session table's atomic count without the registry lock, hence no analysis.
  ServerCounts GetCounts() override NO_THREAD_SAFETY_ANALYSIS;
  std::shared_ptr<const RegistrySnapshot> GetRegistrySnapshot() override EXCLUDES(registryLock_, snapshotLock_);
  GeneralUtilityLib::ElementList GetConfiguration() override EXCLUDES(configurationLock_);

  // Reports go to the status reporter (the global reporter) as one-entry status records,
  // messages cut to 5000 characters.
  void ReportStatus() override EXCLUDES(reportLock_);
  void ReportV(const char* source, const char* format, va_list args) override EXCLUDES(reportLock_);

 protected:
  // Runs one operation's body; anything it throws is reported as "Fatal error" under the
  // operation's qualified name and answered with `failure`.
  template <typename Result, typename Body>
  Result Guarded(const char* operation, Result failure, Body body) noexcept;

  // The status record each operation leaves, copied in once at its end.
  void PublishLocked(const GeneralUtilityLib::Status& status) REQUIRES(registryLock_) { status_ = status; }
  // The services follow the file before each change.
  void RefreshServicesLocked() REQUIRES(registryLock_);
  void CountLocked() REQUIRES(registryLock_);
  // False, with 1130 in status, while the process holds its memory limit.
  bool AdmitLocked(const std::string& incoming, const char* operation, GeneralUtilityLib::Status& status)
      REQUIRES(registryLock_);

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

  // The registry lock if it comes free within a moment (see GetRegistrySnapshot).
  bool EnterRegistrySoon() TRY_ACQUIRE(true, registryLock_);
  std::shared_ptr<const RegistrySnapshot> LastSnapshot() EXCLUDES(snapshotLock_);
  // The last registry copy GetRegistrySnapshot took; never held with another lock.
  GeneralUtilityLib::ActiveCriticalSection snapshotLock_;
  std::shared_ptr<const RegistrySnapshot> lastSnapshot_ GUARDED_BY(snapshotLock_);

  // Cluster mode only.
  IClusterStore* const clusterStore_;
  const std::string clusterPrefix_;

  std::atomic<bool> stopFlag_{false};
  std::atomic<unsigned> providersCount_{0};
  std::atomic<int> allocationsCount_{0};
  std::atomic<std::uint64_t> droppedCount_{0};
};

template <typename Result, typename Body>
Result CoreState::Guarded(const char* operation, Result failure, Body body) noexcept {
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
