// The management facade: the one object behind the management procedures. Administration tools
// open a management session (only from a machine on the allow list), and every further call
// carries its identifier, looked up once per call (FindSession). The facade checks the session
// and answers itself (the server configuration file, the provider configuration files) or hands
// the call to the service store, the provider administration or the running core.
//
// Every operation starts a status record of its own, named "ServerManagerProxy.<operation>",
// and writes it as status XML into its status argument when it fails.
//
// Thread safety: management calls arrive on many threads; facadeLock_ is held while an operation
// decides and changes files, never across the network: the calls to providers and the
// operator's provider commands it decided on are made after the lock is released, in the order
// decided (DeferredCalls), so a provider that does not answer holds no other management call.
// The service store has a lock of its own (storeLock_), as in cluster mode its reads and saves
// go to the cluster store. Lock order: facadeLock_, storeLock_, then the core's locks (an operation may call into the
// core); the core calls back into the facade only through IManagementInfo, whose two operations
// take no facade lock (the not-running table and the sessions have locks of their own, always
// taken last).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "admin/DeferredCalls.h"
#include "admin/ManagementSessions.h"
#include "admin/NotRunningTable.h"
#include "admin/ServiceManager.h"
#include "admin/ServiceProviderManager.h"
#include "global/Object.h"
#include "servercore/CallerIdentity.h"
#include "servercore/IManagementInfo.h"
#include "servercore/IProviderCalls.h"
#include "servercore/IProviderLauncher.h"
#include "servercore/IServer.h"
#include "servercore/ServicesDocument.h"
#include "util/CriticalSection.h"
#include "util/ElementList.h"

namespace Korvane::Pictora::ServerCore {

class ServerManagerProxy : public Global::Object, public IManagementInfo {
 public:
  // calls: how the facade and the service store reach providers; launcher: how configured
  // providers are started and stopped (may be null: every start fails). Neither is owned.
  explicit ServerManagerProxy(IProviderCalls* calls, IProviderLauncher* launcher = nullptr);
  ~ServerManagerProxy() override = default;

  // Once, after the core has started. Starts the providers marked on and merges the extra
  // allow-list entries (from the command line) into the configuration file.
  bool Init(IServer* server, const std::string& extraAllowList);

  // caller: who is on the connection, checked against the allow list with VerifyPeerAddress.
  bool OpenSession(const std::string& sessionInfoXml, const CallerIdentity& caller, std::string& sessionId,
                   std::string& status);
  bool OpenSession(const std::string& sessionInfoXml, std::string& sessionId, std::string& status) {
    return OpenSession(sessionInfoXml, CallerIdentity::InProcess(), sessionId, status);
  }
  bool CloseSession(const ManagementSession& session, std::string& status);
  std::string GetServerInfo(const CallerIdentity& caller, const ManagementSession& session, std::string& status);
  std::string GetServiceProvidersInfo(const ManagementSession& session, std::string& status);

  std::string GetServicesXml(const ManagementSession& session, std::string& status);
  bool UpdateServicesXml(const ManagementSession& session, const std::string& servicesXml, std::string& status);
  bool AddService(const ManagementSession& session, const std::string& source, const std::string& name,
                  const std::string& properties, const std::string& providers, std::string& status);
  bool RemoveService(const ManagementSession& session, const std::string& service, const std::string& providers,
                     std::string& status);
  bool StartService(const ManagementSession& session, const std::string& service, std::string& status);
  bool StopService(const ManagementSession& session, const std::string& service, std::string& status);
  bool RefreshService(const ManagementSession& session, const std::string& service, std::string& status);
  bool RefreshAllServices(const ManagementSession& session, std::string& status);
  // The stored spelling of a service name; empty text when the core does not know it.
  std::string GetServiceName(const ManagementSession& session, const std::string& service, std::string& status);

  std::string GetServerConfigXml(const ManagementSession& session, std::string& status);
  bool UpdateServerConfigXml(const ManagementSession& session, const std::string& configXml, std::string& status);
  std::string GetServiceProviderConfigXml(const ManagementSession& session, const std::string& name,
                                          std::string& status);
  bool UpdateServiceProviderConfigXml(const ManagementSession& session, const std::string& name,
                                      const std::string& configXml, std::string& status);

  bool CreateServiceProvider(const ManagementSession& session, const std::string& machine, const std::string& endpoint,
                             const std::string& name, std::string& status);
  // Takes no session: any caller may delete a provider's configuration file.
  bool DeleteServiceProvider(const ManagementSession& session, const std::string& name, std::string& status);
  bool StartServiceProvider(const ManagementSession& session, const std::string& name, std::string& status);
  bool StopServiceProvider(const ManagementSession& session, const std::string& name, std::string& status);

  // The session a call names, looked up once per call and handed to the operation; who opened
  // it is what the call's audit names. No facade lock: a call looks up while another may run.
  ManagementSession FindSession(const std::string& sessionId) { return sessions_.Find(sessionId); }

  // IManagementInfo: for the core's server-manager report. No facade lock.
  std::string GetServiceProviderInfo(const GeneralUtilityLib::ElementList& config) override;
  std::map<std::string, std::string> NotRunningProviders() override { return notRunning_.Copy(); }

 private:
  // Runs an operation under the facade lock, then makes the network calls it queued; anything
  // it throws adds 901375 and answers `failure` without touching the status argument.
  template <typename Result, typename Body>
  Result Run(const char* operation, Result failure, Body body) EXCLUDES(facadeLock_);
  // The same for a service operation, under the store's lock alone: in cluster mode the store
  // talks to the cluster store, and a slow member holds no other management call.
  template <typename Result, typename Body>
  Result RunOnStore(const char* operation, Result failure, Body body) EXCLUDES(storeLock_, facadeLock_);
  // 901375 for an operation that threw; the network calls it queued are dropped.
  void RecordFatal(const char* operation) EXCLUDES(storeLock_, facadeLock_);

  // The service operations: the session checked, the call handed to the store.
  template <typename Call>
  bool ForwardToStore(const char* operation, const ManagementSession& session, std::string& statusXml, Call call);
  // False, with the invalid session added to status and written into statusXml, unless it is open.
  static bool CheckSession(const ManagementSession& session, GeneralUtilityLib::Status& status, std::string& statusXml);
  // The configuration file rebuilt from config and allowLists, loaded and saved over the file.
  bool SaveConfigurationLocked(const GeneralUtilityLib::ElementList& config,
                               const GeneralUtilityLib::ElementList& allowLists, GeneralUtilityLib::Status& status)
      REQUIRES(facadeLock_);
  // False, with code and why in status, for a document longer than MaxDocumentBytes.
  bool WithinDocumentLimit(const std::string& text, std::uint32_t code, GeneralUtilityLib::Status& status) const;
  std::string ProviderPath(const std::string& name) const;
  // A log folder named over the wire must lie below the home folder or one of the operator's
  // LogsFolderRoots, unless it is the one the configuration file named when the server started:
  // a remote caller may not make the server write files anywhere else.
  bool LogsFolderAllowedLocked(const std::string& folder) const REQUIRES(facadeLock_);

  IProviderCalls* const calls_;
  IProviderLauncher* const launcher_;
  const std::string homeFolder_;
  const std::string servicesFile_;
  const std::string configFile_;
  // From the installation key, which no management call can change.
  const std::size_t maxDocumentBytes_;
  const std::vector<std::string> logsFolderRoots_;
  NotRunningTable notRunning_;
  ManagementSessions sessions_;

  GeneralUtilityLib::ActiveCriticalSection facadeLock_;
  IServer* server_ GUARDED_BY(facadeLock_) = nullptr;
  std::string serverEndpoint_ GUARDED_BY(facadeLock_);
  ServiceProviderManager providerManager_ GUARDED_BY(facadeLock_);
  GeneralUtilityLib::ActiveCriticalSection storeLock_ ACQUIRED_AFTER(facadeLock_);
  ServiceManager serviceManager_ GUARDED_BY(storeLock_);
  DeferredCalls deferred_ GUARDED_BY(facadeLock_);  // the facade's own calls (configuration refresh)
  // What the configuration file held at Init, with every update merged in.
  GeneralUtilityLib::ElementList configElements_ GUARDED_BY(facadeLock_);
  GeneralUtilityLib::ElementList allowListElements_ GUARDED_BY(facadeLock_);
  std::string xmlDeclaration_ GUARDED_BY(facadeLock_);
  std::string extraDefinitions_ GUARDED_BY(facadeLock_);
  std::string localLogsFolder_ GUARDED_BY(facadeLock_);
};

}  // namespace Korvane::Pictora::ServerCore
