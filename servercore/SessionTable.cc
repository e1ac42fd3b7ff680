#include "servercore/SessionTable.h"

namespace Korvane::Pictora::ServerCore {

void SessionTable::Add(std::shared_ptr<Session> session) {
  const std::string id = session->GetSessionId();
  sessions_[id] = Entry{std::move(session), std::chrono::steady_clock::now()};
  Recount();
}

std::shared_ptr<Session> SessionTable::Find(std::string_view sessionId) {
  auto found = sessions_.find(sessionId);
  if (found == sessions_.end()) return nullptr;
  found->second.lastUse = std::chrono::steady_clock::now();
  return found->second.session;
}

bool SessionTable::Close(std::string_view sessionId) {
  auto found = sessions_.find(sessionId);
  if (found == sessions_.end()) return false;
  sessions_.erase(found);
  Recount();
  return true;
}

std::size_t SessionTable::CloseIdle(std::chrono::milliseconds idleTime) {
  const auto cutoff = std::chrono::steady_clock::now() - idleTime;
  const std::size_t closed =
      std::erase_if(sessions_, [cutoff](const auto& entry) { return entry.second.lastUse < cutoff; });
  Recount();
  return closed;
}

}  // namespace Korvane::Pictora::ServerCore
