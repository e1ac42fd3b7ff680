// One line per event on standard error, so a person or a test can follow the provider.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace Korvane::Pictora::Tools {

inline void ProviderLog(const std::string& name, const std::string& line) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  std::fprintf(stderr, "pictora-provider[%s]: %s\n", name.c_str(), line.c_str());
  std::fflush(stderr);
}

}  // namespace Korvane::Pictora::Tools
