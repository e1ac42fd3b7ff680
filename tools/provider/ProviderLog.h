// One line per event on standard error, so a person or a test can follow the provider.
#pragma once

#include <cstdio>
#include <string>

#include "util/CriticalSection.h"

namespace Korvane::Pictora::Tools {

inline void ProviderLog(const std::string& name, const std::string& line) {
  // One line at a time, so lines written by several threads do not interleave.
  static GeneralUtilityLib::ActiveCriticalSection section;
  GeneralUtilityLib::CriticalSectionLock lock(&section);
  std::fprintf(stderr, "pictora-provider[%s]: %s\n", name.c_str(), line.c_str());
  std::fflush(stderr);
}

}  // namespace Korvane::Pictora::Tools
