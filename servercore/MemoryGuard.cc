#include "servercore/MemoryGuard.h"

#include <cstdlib>
#include <string>
#include <utility>

#include "util/ProcessMemory.h"

namespace Korvane::Pictora::ServerCore {

namespace GU = GeneralUtilityLib;

MemoryGuard::MemoryGuard(std::size_t limitBytes, Gauge residentBytes, std::function<void()> returnFreed,
                         std::chrono::milliseconds giveBackInterval)
    : limitBytes_(limitBytes),
      residentBytes_(std::move(residentBytes)),
      returnFreed_(std::move(returnFreed)),
      giveBackInterval_(giveBackInterval) {}

std::unique_ptr<MemoryGuard> MemoryGuard::ForThisProcess() {
  const char* configured = std::getenv("PICTORA_MEMORY_LIMIT_MB");
  std::size_t limit = configured != nullptr ? GU::MemoryLimitFromText(configured) : 0;
  if (limit == 0) limit = GU::DefaultMemoryLimit();
  return std::make_unique<MemoryGuard>(limit, &GU::ResidentBytes, &GU::ReturnFreedMemory);
}

bool MemoryGuard::HasRoom(std::size_t incomingBytes) {
  auto fits = [&] {
    const std::size_t resident = residentBytes_();
    lastResident_.store(resident, std::memory_order_relaxed);
    return resident <= limitBytes_ && incomingBytes <= limitBytes_ - resident;
  };
  if (fits()) return true;
  if (!returnFreed_) return false;
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  auto last = lastGiveBack_.load();
  const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(giveBackInterval_).count();
  if (last != 0 && now - last < interval) return false;
  // One caller gives back; the others are refused meanwhile.
  if (!lastGiveBack_.compare_exchange_strong(last, now)) return false;
  returnFreed_();
  return fits();
}

MemoryGuard::Admission MemoryGuard::Admit(std::size_t incomingBytes) {
  const bool room = HasRoom(incomingBytes);
  const bool wasRefusing = refusing_.exchange(!room);
  if (room) return wasRefusing ? Admission::kResumed : Admission::kAdmitted;
  return wasRefusing ? Admission::kRefused : Admission::kRefusalStarted;
}

}  // namespace Korvane::Pictora::ServerCore
