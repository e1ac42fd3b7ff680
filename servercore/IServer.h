// The server core: the registry of providers and services (its operations in IServerRegistry),
// the sessions, start-up and the information reports. Every operation is thread-safe and never throws; failures give false,
// -1 or the empty text and are described in the core's status record (GetStatus), which each
// operation replaces when it ends: read it only where no other call runs, prefer the out texts.
#pragma once

#include <cstdint>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "global/IObject.h"
#include "servercore/CallerIdentity.h"
#include "servercore/ISession.h"
#include "servercore/IServerRegistry.h"
#include "servercore/IServicesCatalogue.h"
#include "util/ElementList.h"

namespace Korvane::Pictora::ServerCore {

// The interface version procedure 0 (GetVersion) answers: the revision of the server's RPC
// interface that clients were built against, not the product's release (PICTORA_VERSION) nor
// the installed version of the installation key.
inline constexpr const char* kServerInterfaceVersion = "1.0.0.2";

// What the core holds at one moment, for the metrics page and the status API.
struct ServerCounts {
  std::uint64_t openSessions = 0;
  std::uint64_t providers = 0;
  std::uint64_t services = 0;          // service names at least one provider registered
  std::uint64_t providersDropped = 0;  // by the liveness passes since the start
  // Cluster mode only: whether the store answers with a quorum, the revision applied here, and
  // how often the store's stream broke (or fell behind) and was opened again on another member.
  bool clustered = false;
  bool clusterReachable = false;
  std::int64_t clusterRevision = 0;
  std::uint64_t clusterStreamBreaks = 0;
  // Whether the registry has been read from the store with no full read pending, whether this
  // server runs the liveness pass, its name in the cluster and the one the leader key names.
  bool clusterCaughtUp = false;
  bool clusterLeading = false;
  std::string clusterServerId;
  std::string clusterLeader;
};

// The registry as the status API shows it, copied out of the core.
struct RegistrySnapshot {
  struct Provider {
    std::string name;
    std::string endpoint;
    std::string host;
    double load = 1.0;  // as it last reported it, or answered the last load query
    std::chrono::system_clock::time_point lastPing;  // the epoch: never answered a ping here
    std::vector<std::string> services;
  };
  struct Service {
    std::string name;
    bool defined = false;  // in the services file
    std::string state;     // the file's state, when defined
    std::vector<std::string> providers;  // those that registered it
  };
  std::vector<Provider> providers;
  std::vector<Service> services;
  std::chrono::system_clock::time_point taken;
};

class IServer : public virtual Global::IObject, public IServerRegistry {
 public:
  // Creates the Server folder and default files, reads the configuration, opens the log and
  // starts listening. 0 on success, else a status code (15622 bad configuration, the
  // listener's code, 15871 unexpected failure).
  virtual long Init(const std::string& endpoint) = 0;
  // Stops listening and destroys every session. A second call does nothing more.
  virtual bool Close() = 0;
  // Raises the stop flag unless the caller may not stop the server (RemoteStopFrom); whether it
  // did.
  virtual bool SetStopFlag(const CallerIdentity& caller) = 0;
  void SetStopFlag() { SetStopFlag(CallerIdentity::InProcess()); }
  virtual bool GetStopFlag() = 0;
  // One liveness pass: pings every provider (without holding the registry lock) and
  // unregisters the ones that are gone. Called periodically by the host loop.
  virtual void Manage() = 0;
  virtual std::string GetVersion() = 0;

  // caller: who is on the connection, for VerifyPeerAddress and the session limits.
  virtual bool OpenSession(const std::string& sessionInfoXml, const CallerIdentity& caller, std::string& sessionId,
                           std::string& error) = 0;
  bool OpenSession(const std::string& sessionInfoXml, std::string& sessionId, std::string& error) {
    return OpenSession(sessionInfoXml, CallerIdentity::InProcess(), sessionId, error);
  }
  // Whether a session the core does not hold (a management session) may open beside openSessions
  // others of its kind: the same bounds as the core's own sessions (the information's size,
  // MaxSessions, the memory limit). statusXml says why not. Its idle time-out: SessionIdleTimeout.
  virtual bool AdmitSession(const std::string& sessionInfoXml, std::size_t openSessions, std::string& statusXml) = 0;
  virtual std::chrono::milliseconds SessionIdleTimeout() = 0;
  // The session stays valid for the holder even when another call closes it meanwhile.
  virtual std::shared_ptr<ISession> GetSession(const std::string& sessionId) = 0;
  virtual bool CloseSession(const std::string& sessionId, std::string& out) = 0;

  // reportKind "Basic", "ServerManager", "ServerInfoForClient" or anything else (detailed).
  virtual std::string GetInfo(const CallerIdentity& caller, const std::string& reportKind,
                              std::string& out) = 0;

  // Reads counters only: never waits for a lock, so a scrape never stalls behind a lookup.
  virtual ServerCounts GetCounts() = 0;
  // A copy of the registry, taken in slices of about half a millisecond under the registry lock
  // (so a change during the copy may show in part); when the lock does not come free within a
  // moment, the last copy taken (null before the first): a reader never waits behind a lookup's
  // load queries, nor a lookup long behind a reader.
  virtual std::shared_ptr<const RegistrySnapshot> GetRegistrySnapshot() = 0;
  virtual GeneralUtilityLib::ElementList GetConfiguration() = 0;
  // Re-reads the log folder from the configuration file and reopens the log there.
  virtual bool Synchronize(const std::string& configuration) = 0;
  // The services catalogue shared with other servers; null for a single server.
  virtual IServicesCatalogue* SharedCatalogue() { return nullptr; }
};

}  // namespace Korvane::Pictora::ServerCore
