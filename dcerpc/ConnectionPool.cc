#include "dcerpc/ConnectionPool.h"

namespace Korvane::Pictora::DceRpc {

ConnectionPool& ConnectionPool::Instance() {
  static ConnectionPool pool;
  return pool;
}

std::unique_ptr<ClientConnection> ConnectionPool::Take(const std::string& key) {
  std::vector<std::unique_ptr<ClientConnection>> stale;  // closed outside the lock
  std::unique_ptr<ClientConnection> found;
  {
    std::lock_guard lock(mutex_);
    auto it = idle_.find(key);
    if (it == idle_.end()) return nullptr;
    auto& list = it->second;
    const auto oldest = Clock::now() - kMaxIdleAge;
    while (!list.empty() && !found) {
      Idle idle = std::move(list.back());
      list.pop_back();
      if (idle.since >= oldest && idle.connection->LooksAlive()) {
        found = std::move(idle.connection);
      } else {
        stale.push_back(std::move(idle.connection));
      }
    }
    if (list.empty()) idle_.erase(it);
  }
  return found;
}

void ConnectionPool::Give(const std::string& key, std::unique_ptr<ClientConnection> connection) {
  std::lock_guard lock(mutex_);
  if (idle_.size() >= kMaxKeys && !idle_.count(key)) return;
  auto& list = idle_[key];
  if (list.size() >= kMaxIdlePerKey) return;
  list.push_back({Clock::now(), std::move(connection)});
}

void ConnectionPool::Clear() {
  std::map<std::string, std::vector<Idle>> dropped;
  std::lock_guard lock(mutex_);
  dropped.swap(idle_);
}

}  // namespace Korvane::Pictora::DceRpc
