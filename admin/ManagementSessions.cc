#include "admin/ManagementSessions.h"

#include "global/NameValueMap.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;

ManagementCaller ManagementCaller::FromSessionInfo(const std::string& sessionInfoXml) {
  Global::NameValueMap info;
  info.LoadXml(sessionInfoXml, "//SessionInfo");
  return ManagementCaller{info.Get("UserName"), info.Get("MachineName")};
}

void ManagementSessions::Open(std::string sessionId, ManagementCaller caller, std::chrono::milliseconds idleTimeout) {
  GU::CriticalSectionLock lock(&lock_);
  idleTimeout_ = idleTimeout;
  const Clock::time_point now = Clock::now();
  std::erase_if(sessions_, [&](const auto& session) REQUIRES(lock_) { return ExpiredLocked(session.second, now); });
  sessions_.insert_or_assign(std::move(sessionId), Entry{std::move(caller), now});
}

void ManagementSessions::Close(const std::string& sessionId) {
  GU::CriticalSectionLock lock(&lock_);
  const auto found = sessions_.find(sessionId);
  if (found != sessions_.end() && found->first == sessionId) sessions_.erase(found);
}

ManagementSession ManagementSessions::Find(const std::string& sessionId) {
  GU::CriticalSectionLock lock(&lock_);
  const auto found = sessions_.find(sessionId);
  if (found == sessions_.end()) return {sessionId, std::nullopt};
  const Clock::time_point now = Clock::now();
  if (ExpiredLocked(found->second, now)) {
    sessions_.erase(found);
    return {sessionId, std::nullopt};
  }
  found->second.lastUsed = now;
  return {sessionId, found->second.caller};
}

std::size_t ManagementSessions::Count() const {
  GU::CriticalSectionLock lock(&lock_);
  return sessions_.size();
}

bool ManagementSessions::ExpiredLocked(const Entry& entry, Clock::time_point now) const {
  return idleTimeout_.count() > 0 && now - entry.lastUsed > idleTimeout_;
}

}  // namespace Korvane::Pictora::ServerCore
