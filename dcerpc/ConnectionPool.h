// Internal: idle bound client connections, kept for reuse by later calls to the same endpoint and
// interface. Thread-safe.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dcerpc/ClientConnection.h"
#include "dcerpc/Mutex.h"

namespace Korvane::Pictora::DceRpc {

class ConnectionPool {
 public:
  static ConnectionPool& Instance();

  // An idle connection for `key` that still looks alive, or nullptr.
  std::unique_ptr<ClientConnection> Take(const std::string& key);
  // Keeps the connection unless the pool is full for that key.
  void Give(const std::string& key, std::unique_ptr<ClientConnection> connection);
  void Clear();
  void SetMaxKeys(size_t keys) { maxKeys_ = keys; }

 private:
  struct Idle {
    Clock::time_point since;
    std::unique_ptr<ClientConnection> connection;
  };
  // As many as callers typically run at once against one server, so that none reconnects per call.
  static constexpr size_t kMaxIdlePerKey = 64;
  std::atomic<size_t> maxKeys_{256};  // endpoints kept; more cost a descriptor each while idle
  static constexpr std::chrono::seconds kMaxIdleAge{30};

  // Moves every connection idle for longer than kMaxIdleAge, of any key, into `expired`: an
  // endpoint nobody calls again (a provider that went away) must not keep its sockets.
  void SweepLocked(Clock::time_point now, std::vector<std::unique_ptr<ClientConnection>>& expired)
      REQUIRES(mutex_);

  Mutex mutex_;
  std::map<std::string, std::vector<Idle>> idle_ GUARDED_BY(mutex_);  // newest last
  Clock::time_point lastSweep_ GUARDED_BY(mutex_){};
};

}  // namespace Korvane::Pictora::DceRpc
