// The session table's operations.
#include "global/IReporter.h"
#include "servercore/ServerImpl.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;

bool ServerImpl::OpenSession(const std::string& sessionInfoXml, const CallerIdentity& caller, std::string& sessionId,
                             std::string& error) {
  return Guarded("OpenSession", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    GU::Status status("ServerCore.Server.OpenSession");
    const bool opened = [&]() REQUIRES(registryLock_) {
      if (!AdmitSessionLocked(sessionInfoXml, sessions_.Size(), status)) {
        error = status.ToXml();
        return false;
      }
      auto session = std::make_shared<Session>();
      if (settings_.verifyPeerAddress) session->RequirePeer(caller);
      if (!session->Init(sessionInfoXml, configPath_)) {
        error = session->GetStatus().ToXml();
        return false;
      }
      sessionId = session->GetSessionId();
      {
        CriticalSectionLock reportLock(&reportLock_);
        log_.Attach();
      }
      session->SetStatusReporter(Global::GetGlobalReporter());
      sessions_.Add(std::move(session));
      return true;
    }();
    PublishLocked(status);
    return opened;
  });
}

bool ServerImpl::AdmitSession(const std::string& sessionInfoXml, std::size_t openSessions, std::string& statusXml) {
  return Guarded("AdmitSession", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    GU::Status status("ServerCore.Server.OpenSession");
    if (AdmitSessionLocked(sessionInfoXml, openSessions, status)) return true;
    statusXml = status.ToXml();
    return false;
  });
}

std::chrono::milliseconds ServerImpl::SessionIdleTimeout() {
  CriticalSectionLock lock(&registryLock_);
  return settings_.sessionIdleTimeout;
}

bool ServerImpl::AdmitSessionLocked(const std::string& sessionInfoXml, std::size_t openSessions, GU::Status& status) {
  if (settings_.maxSessionInfoBytes > 0 && sessionInfoXml.size() > settings_.maxSessionInfoBytes) {
    status.Add(kStatusSessionLimit,
               GU::Format("The session information of %zu bytes is longer than the %zu the server takes "
                          "(MaxSessionInfoBytes)",
                          sessionInfoXml.size(), settings_.maxSessionInfoBytes));
    return false;
  }
  if (!AdmitLocked(sessionInfoXml, "OpenSession", status)) return false;
  if (settings_.maxSessions == 0 || openSessions < settings_.maxSessions) return true;
  status.Add(kStatusSessionLimit,
             GU::Format("The server holds its limit of %zu open sessions (MaxSessions)", settings_.maxSessions));
  return false;
}

std::shared_ptr<ISession> ServerImpl::GetSession(const std::string& sessionId) {
  return Guarded("GetSession", std::shared_ptr<ISession>(), [&]() -> std::shared_ptr<ISession> {
    CriticalSectionLock lock(&registryLock_);
    PublishLocked(GU::Status("ServerCore.Server.GetSession"));
    return sessions_.Find(sessionId);
  });
}

bool ServerImpl::CloseSession(const std::string& sessionId, std::string&) {
  return Guarded("CloseSession", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    PublishLocked(GU::Status("ServerCore.Server.CloseSession"));
    return sessions_.Close(sessionId);
  });
}

}  // namespace Korvane::Pictora::ServerCore
