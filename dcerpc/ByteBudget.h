// Internal: memory held on behalf of peers (reassembled requests, replies being written), bounded
// server-wide and per peer, so that neither many connections nor one peer's many can together
// exhaust the server's memory. Thread-safe.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace Korvane::Pictora::DceRpc {

class ByteBudget {
 public:
  explicit ByteBudget(size_t limit = SIZE_MAX) : limit_(limit) {}
  ByteBudget(const ByteBudget&) = delete;
  ByteBudget& operator=(const ByteBudget&) = delete;

  // False, and nothing charged, when the bytes do not fit.
  bool TryCharge(size_t bytes) {
    size_t used = used_.load(std::memory_order_relaxed);
    do {
      if (bytes > limit_ || used > limit_ - bytes) return false;
    } while (!used_.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
    return true;
  }
  void Release(size_t bytes) { used_.fetch_sub(bytes, std::memory_order_relaxed); }
  size_t Used() const { return used_.load(std::memory_order_relaxed); }

 private:
  const size_t limit_;
  std::atomic<size_t> used_{0};
};

// Bytes charged to the server's budget and to the peer's share of it together (either may be
// absent), given back when the charge ends. Not thread-safe: one owner.
class BudgetCharge {
 public:
  BudgetCharge(ByteBudget* server, ByteBudget* peer) : server_(server), peer_(peer) {}
  ~BudgetCharge() { Resize(0); }
  BudgetCharge(const BudgetCharge&) = delete;
  BudgetCharge& operator=(const BudgetCharge&) = delete;

  // Grows or shrinks the charge to `bytes`; false, with the charge unchanged, when growing it
  // would exceed either budget.
  bool Resize(size_t bytes) {
    if (bytes > charged_) {
      const size_t more = bytes - charged_;
      if (server_ != nullptr && !server_->TryCharge(more)) return false;
      if (peer_ != nullptr && !peer_->TryCharge(more)) {
        if (server_ != nullptr) server_->Release(more);
        return false;
      }
    } else {
      const size_t less = charged_ - bytes;
      if (server_ != nullptr) server_->Release(less);
      if (peer_ != nullptr) peer_->Release(less);
    }
    charged_ = bytes;
    return true;
  }

 private:
  ByteBudget* server_;
  ByteBudget* peer_;
  size_t charged_ = 0;
};

}  // namespace Korvane::Pictora::DceRpc
