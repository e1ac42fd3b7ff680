#include "admin/ManagementSessions.h"

#include <algorithm>

#include "global/NameValueMap.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;

ManagementCaller ManagementCaller::FromSessionInfo(const std::string& sessionInfoXml) {
  Global::NameValueMap info;
  info.LoadXml(sessionInfoXml, "//SessionInfo");
  return ManagementCaller{info.Get("UserName"), info.Get("MachineName")};
}

void ManagementSessions::Open(std::string sessionId, ManagementCaller caller) {
  GU::CriticalSectionLock lock(&lock_);
  sessions_.emplace_back(std::move(sessionId), std::move(caller));
}

void ManagementSessions::Close(const std::string& sessionId) {
  GU::CriticalSectionLock lock(&lock_);
  auto found =
      std::find_if(sessions_.begin(), sessions_.end(), [&](const auto& session) { return session.first == sessionId; });
  if (found != sessions_.end()) sessions_.erase(found);
}

ManagementSession ManagementSessions::Find(const std::string& sessionId) const {
  GU::CriticalSectionLock lock(&lock_);
  auto found = std::find_if(sessions_.begin(), sessions_.end(),
                            [&](const auto& session) { return GU::Equals(session.first, sessionId, true); });
  if (found == sessions_.end()) return {sessionId, std::nullopt};
  return {sessionId, found->second};
}

}  // namespace Korvane::Pictora::ServerCore
