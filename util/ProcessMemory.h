// How much memory this process holds, and how much it may hold.
#pragma once

#include <cstddef>
#include <string>

namespace Korvane::Pictora::GeneralUtilityLib {

// Resident bytes of this process (from /proc/self/statm); 0 when that cannot be read.
std::size_t ResidentBytes();

// Half of the memory the process can have: the smaller of the machine's physical memory and
// the limit of its control group (memory.max under systemd's MemoryMax=), when there is one.
std::size_t DefaultMemoryLimit();

// The limit in bytes from a text of mebibytes ("512"); 0 for no text or a text that is not a
// positive whole number.
std::size_t MemoryLimitFromText(const std::string& mebibytes);

// Gives freed heap memory back to the system, so that the resident size reflects what the
// process still uses.
void ReturnFreedMemory();

}  // namespace Korvane::Pictora::GeneralUtilityLib
