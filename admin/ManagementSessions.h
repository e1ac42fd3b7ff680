// The open management sessions and who opened each, as the caller described itself. The audit
// of management calls reads it while an operation may hold the facade lock, so it has a lock of
// its own, always taken last.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "util/CriticalSection.h"

namespace Korvane::Pictora::ServerCore {

// What the session information said; nothing here is checked.
struct ManagementCaller {
  std::string userName;
  std::string machineName;

  // The caller as a session information text ("<SessionInfo>...") describes it.
  static ManagementCaller FromSessionInfo(const std::string& sessionInfoXml);
};

// The session a management call names, looked up once when the call arrives: the audit names
// its caller and the facade checks it with the same answer.
struct ManagementSession {
  std::string id;
  std::optional<ManagementCaller> caller;  // nothing: no session of that identifier is open
};

class ManagementSessions {
 public:
  void Open(std::string sessionId, ManagementCaller caller) EXCLUDES(lock_);
  // Closes the session of exactly that identifier; nothing when there is none.
  void Close(const std::string& sessionId) EXCLUDES(lock_);
  // Identifiers are compared ignoring letter case.
  ManagementSession Find(const std::string& sessionId) const EXCLUDES(lock_);

 private:
  mutable GeneralUtilityLib::ActiveCriticalSection lock_;
  std::vector<std::pair<std::string, ManagementCaller>> sessions_ GUARDED_BY(lock_);
};

}  // namespace Korvane::Pictora::ServerCore
