// The one server core object of the process (see IServer): start-up and shut-down, sessions,
// the information reports, the liveness pass, and in cluster mode this server's side of the
// replica. The registry's operations are RegistryOperations', the shared state and the lock
// order CoreState's.
//
// In cluster mode (a cluster store among the seams) the registry is a replica: a change is
// committed to the store without the registry lock, and reaches the registry of every server,
// this one included, only through the replica, which applies it under the registry lock. The
// caller is answered once the change has arrived here.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "servercore/ClusterRegistryChanges.h"
#include "servercore/RegistryOperations.h"
#include "servercore/Reports.h"

namespace Korvane::Pictora::ServerCore {

class ServerImpl : public RegistryOperations {
 public:
  ServerImpl() : ServerImpl(Seams{}) {}
  explicit ServerImpl(Seams seams) : RegistryOperations(std::move(seams)) {}
  ~ServerImpl() override;

  // The administration facade, once it exists (the server-manager report needs it).
  void SetManagementInfo(IManagementInfo* info) { managementInfo_ = info; }

  long Init(const std::string& endpoint) override;
  bool Close() override;
  using IServer::OpenSession;
  using IServer::SetStopFlag;
  bool SetStopFlag(const CallerIdentity& caller) override;
  void Manage() override;
  std::string GetVersion() override;

  bool OpenSession(const std::string& sessionInfoXml, const CallerIdentity& caller, std::string& sessionId,
                   std::string& error) override;
  bool AdmitSession(const std::string& sessionInfoXml, std::size_t openSessions, std::string& statusXml) override;
  std::chrono::milliseconds SessionIdleTimeout() override;
  std::shared_ptr<ISession> GetSession(const std::string& sessionId) override;
  bool CloseSession(const std::string& sessionId, std::string& out) override;

  std::string GetInfo(const CallerIdentity& caller, const std::string& reportKind, std::string& out) override;
  bool Synchronize(const std::string& configuration) override;
  ServerCounts GetCounts() override;
  IServicesCatalogue* SharedCatalogue() override { return cluster_ != nullptr ? cluster_->Catalogue() : nullptr; }

 private:
  // Start-up (ServerImplStartup.cc).
  long InitLocked(const std::string& endpoint, GeneralUtilityLib::Status& status) REQUIRES(registryLock_);
  void OpenLogs() REQUIRES(registryLock_) EXCLUDES(reportLock_);
  // Sessions (ServerImplSessions.cc): the bounds every new session meets.
  bool AdmitSessionLocked(const std::string& sessionInfoXml, std::size_t openSessions, GeneralUtilityLib::Status& status)
      REQUIRES(registryLock_);

  // Cluster mode (ServerImplCluster.cc): joining, and the changes the replica reads from the store.
  void JoinClusterLocked(const std::string& endpoint) REQUIRES(registryLock_);
  void ApplyStored(const std::vector<IClusterStore::Change>& changes) EXCLUDES(registryLock_);
  void ReplaceStored(const std::vector<IClusterStore::Entry>& entries) EXCLUDES(registryLock_);
  void ApplyStoredLocked(const IClusterStore::Change& change) REQUIRES(registryLock_);
  void WriteCatalogueLocked(const std::string& text) REQUIRES(registryLock_);

  // Reports (ServerImplReports.cc). removals: providers found gone that are still to land.
  ServerFacts FactsLocked() REQUIRES(registryLock_) EXCLUDES(reportLock_, configurationLock_);
  std::string ServerManagerReportLocked(GeneralUtilityLib::Status& status, std::vector<RegistryChange>& removals)
      REQUIRES(registryLock_);

  // Whether a provider whose ping failed has failed often enough to be dropped; false too in a
  // pass that runs far later than due (the host was stalled: its failures prove nothing).
  bool DropAfterFailedPing(const std::string& name, bool passIsLate);
};

}  // namespace Korvane::Pictora::ServerCore
