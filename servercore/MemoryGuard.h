// Keeps callers from growing the registry until the process runs out of memory. Any caller
// may open sessions and register providers, services and values, and nothing expires them;
// operations that store a caller's text ask HasRoom first and fail while the process holds
// more than its limit. Calls that free memory (closing, unregistering) are never refused.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

namespace Korvane::Pictora::ServerCore {

class MemoryGuard {
 public:
  using Gauge = std::function<std::size_t()>;

  // residentBytes measures the process; returnFreed gives freed memory back before a
  // refusal, so that memory freed by closed sessions counts. Giving back walks the heap, so it
  // happens at most once per interval: a flood of refused calls must not keep doing it.
  MemoryGuard(std::size_t limitBytes, Gauge residentBytes, std::function<void()> returnFreed,
              std::chrono::milliseconds giveBackInterval = std::chrono::seconds(1));

  // The process's own gauge; the limit from $PICTORA_MEMORY_LIMIT_MB, else half of what the
  // machine or the control group allows.
  static std::unique_ptr<MemoryGuard> ForThisProcess();

  // Whether the process may take incomingBytes more.
  bool HasRoom(std::size_t incomingBytes);

  // HasRoom, and whether the answer differs from the previous one, so that refusing can be
  // logged once when it starts and once when it ends rather than once per refused call.
  enum class Admission { kAdmitted, kResumed, kRefused, kRefusalStarted };
  Admission Admit(std::size_t incomingBytes);

  std::size_t LimitBytes() const { return limitBytes_; }
  // The resident size measured by the last HasRoom.
  std::size_t LastResidentBytes() const { return lastResident_.load(std::memory_order_relaxed); }

 private:
  std::size_t limitBytes_;
  Gauge residentBytes_;
  std::function<void()> returnFreed_;
  std::chrono::milliseconds giveBackInterval_;
  std::atomic<std::chrono::steady_clock::rep> lastGiveBack_{0};  // 0: never
  std::atomic<std::size_t> lastResident_{0};
  std::atomic<bool> refusing_{false};
};

}  // namespace Korvane::Pictora::ServerCore
