#include "servercore/MemoryGuard.h"

#include <cstdlib>
#include <string>
#include <utility>

#include "util/ProcessMemory.h"

namespace Korvane::Pictora::ServerCore {

namespace GU = GeneralUtilityLib;

MemoryGuard::MemoryGuard(std::size_t limitBytes, Gauge residentBytes, std::function<void()> returnFreed)
    : limitBytes_(limitBytes), residentBytes_(std::move(residentBytes)), returnFreed_(std::move(returnFreed)) {}

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
  if (returnFreed_) returnFreed_();
  return fits();
}

}  // namespace Korvane::Pictora::ServerCore
