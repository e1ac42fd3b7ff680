#include "rpc/ProcessFigures.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace Korvane::Pictora::Rpc {
namespace {

double OpenDescriptors() {
  DIR* directory = opendir("/proc/self/fd");
  if (directory == nullptr) return -1;
  double count = 0;
  while (const dirent* entry = readdir(directory)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(directory);
  return count - 1;  // the directory's own descriptor
}

// The boot time from /proc/stat, in seconds since the epoch.
double BootTime() {
  std::ifstream stat("/proc/stat");
  std::string key;
  double value = 0;
  while (stat >> key) {
    if (key == "btime" && stat >> value) return value;
    stat.ignore(4096, '\n');
  }
  return -1;
}

}  // namespace

ProcessFigures ProcessFigures::OfThisProcess() {
  ProcessFigures figures;
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  const double pageSize = static_cast<double>(sysconf(_SC_PAGESIZE));
  std::ifstream statm("/proc/self/statm");
  double sizePages = 0, residentPages = 0;
  if (statm >> sizePages >> residentPages) figures.residentBytes = residentPages * pageSize;
  figures.openDescriptors = OpenDescriptors();
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    figures.maxDescriptors = static_cast<double>(limit.rlim_cur);
  // /proc/self/stat: the command (field 2) may hold spaces, so the fields are read after its ')'.
  std::ifstream statFile("/proc/self/stat");
  std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
  const std::size_t commandEnd = stat.rfind(')');
  if (commandEnd == std::string::npos || ticks <= 0) return figures;
  std::istringstream fields(stat.substr(commandEnd + 2));
  std::string field;
  double userTicks = 0, systemTicks = 0, startTicks = 0;
  // Fields 3 to 22: utime is the 14th, stime the 15th, starttime the 22nd.
  for (int number = 3; number <= 22 && fields >> field; ++number) {
    if (number == 14) userTicks = std::stod(field);
    if (number == 15) systemTicks = std::stod(field);
    if (number == 22) {
      startTicks = std::stod(field);
      figures.cpuSeconds = (userTicks + systemTicks) / ticks;
      const double boot = BootTime();
      if (boot >= 0) figures.startTimeSeconds = boot + startTicks / ticks;
    }
  }
  return figures;
}

}  // namespace Korvane::Pictora::Rpc
