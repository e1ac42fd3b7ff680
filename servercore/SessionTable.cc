#include "servercore/SessionTable.h"

namespace Korvane::Pictora::ServerCore {

void SessionTable::Add(std::shared_ptr<Session> session) {
  const std::string id = session->GetSessionId();
  sessions_[id] = std::move(session);
}

std::shared_ptr<Session> SessionTable::Find(std::string_view sessionId) const {
  auto found = sessions_.find(sessionId);
  return found == sessions_.end() ? nullptr : found->second;
}

bool SessionTable::Close(std::string_view sessionId) {
  auto found = sessions_.find(sessionId);
  if (found == sessions_.end()) return false;
  sessions_.erase(found);
  return true;
}

}  // namespace Korvane::Pictora::ServerCore
