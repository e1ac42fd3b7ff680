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
    MutexLock lock(mutex_);
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
  std::vector<std::unique_ptr<ClientConnection>> expired;  // closed outside the lock
  MutexLock lock(mutex_);
  const auto now = Clock::now();
  if (now - lastSweep_ >= std::chrono::seconds(1)) SweepLocked(now, expired);
  if (idle_.size() >= maxKeys_.load() && !idle_.count(key)) return;
  auto& list = idle_[key];
  if (list.size() >= kMaxIdlePerKey) return;
  list.push_back({now, std::move(connection)});
}

void ConnectionPool::SweepLocked(Clock::time_point now, std::vector<std::unique_ptr<ClientConnection>>& expired) {
  lastSweep_ = now;
  for (auto it = idle_.begin(); it != idle_.end();) {
    auto& list = it->second;
    // Newest last: the expired ones lead.
    auto firstFresh = list.begin();
    while (firstFresh != list.end() && now - firstFresh->since > kMaxIdleAge) ++firstFresh;
    for (auto idle = list.begin(); idle != firstFresh; ++idle) expired.push_back(std::move(idle->connection));
    list.erase(list.begin(), firstFresh);
    it = list.empty() ? idle_.erase(it) : std::next(it);
  }
}

void ConnectionPool::Clear() {
  std::map<std::string, std::vector<Idle>> dropped;
  MutexLock lock(mutex_);
  dropped.swap(idle_);
}

}  // namespace Korvane::Pictora::DceRpc
