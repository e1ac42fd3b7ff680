// The open management sessions and who opened each, as the caller described itself. The audit
// of management calls reads it while an operation may hold the facade lock, so it has a lock of
// its own, always taken last. A session nobody used for the idle time-out is closed when it is
// next named, or when another session opens.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "global/NameValueMap.h"
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
  using Clock = std::chrono::steady_clock;

  // idleTimeout 0: sessions stay open until closed.
  void Open(std::string sessionId, ManagementCaller caller, std::chrono::milliseconds idleTimeout) EXCLUDES(lock_);
  // Closes the session of exactly that identifier; nothing when there is none.
  void Close(const std::string& sessionId) EXCLUDES(lock_);
  // Identifiers are compared ignoring letter case; a session found counts as used now.
  ManagementSession Find(const std::string& sessionId) EXCLUDES(lock_);
  std::size_t Count() const EXCLUDES(lock_);

 private:
  struct Entry {
    ManagementCaller caller;
    Clock::time_point lastUsed;
  };
  bool ExpiredLocked(const Entry& entry, Clock::time_point now) const REQUIRES(lock_);

  mutable GeneralUtilityLib::ActiveCriticalSection lock_;
  std::map<std::string, Entry, Global::CaseInsensitiveStringComparer> sessions_ GUARDED_BY(lock_);
  std::chrono::milliseconds idleTimeout_ GUARDED_BY(lock_){0};
};

}  // namespace Korvane::Pictora::ServerCore
