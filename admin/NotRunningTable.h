// The configured providers whose start failed, by name, with the status text of that start.
// Written by the provider administration, read by the server-manager report while the core
// holds its registry lock, so it has a lock of its own that is taken last: nothing else is
// locked while it is held.
#pragma once

#include <map>
#include <string>

#include "util/CriticalSection.h"

namespace Korvane::Pictora::ServerCore {

class NotRunningTable {
 public:
  void Set(const std::string& name, const std::string& statusText) {
    GeneralUtilityLib::CriticalSectionLock lock(&section_);
    entries_[name] = statusText;
  }
  void Remove(const std::string& name) {
    GeneralUtilityLib::CriticalSectionLock lock(&section_);
    entries_.erase(name);
  }
  void Clear() {
    GeneralUtilityLib::CriticalSectionLock lock(&section_);
    entries_.clear();
  }
  std::map<std::string, std::string> Copy() const {
    GeneralUtilityLib::CriticalSectionLock lock(&section_);
    return entries_;
  }

 private:
  mutable GeneralUtilityLib::ActiveCriticalSection section_;
  std::map<std::string, std::string> entries_ GUARDED_BY(section_);
};

}  // namespace Korvane::Pictora::ServerCore
