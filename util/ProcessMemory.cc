#include "util/ProcessMemory.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>

namespace Korvane::Pictora::GeneralUtilityLib {
namespace {

// The text as a whole decimal number; 0 when it is anything else.
std::uint64_t WholeNumber(const std::string& text) {
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

// A memory.max file in bytes; 0 when it is missing or reads "max".
std::size_t LimitInFile(const std::string& path) {
  std::ifstream limit(path);
  std::string text;
  if (!(limit >> text)) return 0;
  return static_cast<std::size_t>(std::min<std::uint64_t>(WholeNumber(text), std::numeric_limits<std::size_t>::max()));
}

// The smallest limit in the named file of a control group and the groups above it; 0 when
// none is set.
std::size_t SmallestLimitUpwards(const std::string& root, std::string group, const char* fileName) {
  std::size_t smallest = 0;
  while (true) {
    const std::size_t limit = LimitInFile(root + group + (group.back() == '/' ? "" : "/") + fileName);
    if (limit != 0 && (smallest == 0 || limit < smallest)) smallest = limit;
    if (group.size() <= 1) return smallest;
    group.erase(group.rfind('/') == 0 ? 1 : group.rfind('/'));
  }
}

// The memory limit of this process's control group (v2 "memory.max", or v1
// "memory.limit_in_bytes"); 0 when none is set.
std::size_t ControlGroupLimit() {
  std::ifstream membership("/proc/self/cgroup");
  std::string line;
  while (std::getline(membership, line)) {
    // "0::/system.slice/name.service" (v2) or "4:memory:/path" (v1)
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos || second + 1 >= line.size() || line[second + 1] != '/') continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string group = line.substr(second + 1);
    if (line.rfind("0::", 0) == 0) return SmallestLimitUpwards("/sys/fs/cgroup", group, "memory.max");
    if (controllers == "memory") {
      return SmallestLimitUpwards("/sys/fs/cgroup/memory", group, "memory.limit_in_bytes");
    }
  }
  return 0;
}

}  // namespace

std::size_t ResidentBytes() {
  // pread on a descriptor kept open: one system call per reading.
  static const int statm = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  if (statm < 0) return 0;
  char text[128];
  const ssize_t length = ::pread(statm, text, sizeof text - 1, 0);
  if (length <= 0) return 0;
  text[length] = '\0';
  // "size resident shared text lib data dt", in pages.
  unsigned long long size = 0;
  unsigned long long resident = 0;
  if (std::sscanf(text, "%llu %llu", &size, &resident) != 2) return 0;
  return static_cast<std::size_t>(resident) * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

std::size_t DefaultMemoryLimit() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  std::size_t available = pages > 0 && pageSize > 0
                              ? static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize)
                              : std::numeric_limits<std::size_t>::max();
  const std::size_t groupLimit = ControlGroupLimit();
  if (groupLimit != 0) available = std::min(available, groupLimit);
  return available / 2;
}

std::size_t MemoryLimitFromText(const std::string& mebibytes) {
  const std::uint64_t value = WholeNumber(mebibytes);
  if (value > std::numeric_limits<std::size_t>::max() / (1024 * 1024)) return 0;
  return static_cast<std::size_t>(value) * 1024 * 1024;
}

void ReturnFreedMemory() { ::malloc_trim(0); }

}  // namespace Korvane::Pictora::GeneralUtilityLib
