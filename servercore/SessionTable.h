// The open sessions by identifier (ordered like every registry key), with the time each was last
// used. A caller that found a session keeps it alive through its shared_ptr even when another call
// closes it meanwhile. Not thread-safe: the core uses it under its registry lock; only OpenCount
// may be read from any thread without it.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "servercore/RegistryKeyLess.h"
#include "servercore/Session.h"

namespace Korvane::Pictora::ServerCore {

class SessionTable {
 public:
  void Add(std::shared_ptr<Session> session);
  // Finding a session counts as using it.
  std::shared_ptr<Session> Find(std::string_view sessionId);
  // False when no session has that identifier.
  bool Close(std::string_view sessionId);
  void CloseAll() {
    sessions_.clear();
    Recount();
  }
  // Closes the sessions unused for longer than idleTime; how many.
  std::size_t CloseIdle(std::chrono::milliseconds idleTime);
  std::size_t Size() const { return sessions_.size(); }
  // The number of open sessions as of the last change; any thread, no lock.
  std::size_t OpenCount() const { return openCount_.load(std::memory_order_relaxed); }

 private:
  struct Entry {
    std::shared_ptr<Session> session;
    std::chrono::steady_clock::time_point lastUse;
  };
  void Recount() { openCount_.store(sessions_.size(), std::memory_order_relaxed); }

  std::map<std::string, Entry, RegistryKeyLess> sessions_;
  std::atomic<std::size_t> openCount_{0};
};

}  // namespace Korvane::Pictora::ServerCore
