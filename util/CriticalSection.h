// Re-entrant critical sections and the scoped lock that holds one for an operation.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "util/ThreadAnnotations.h"

namespace Korvane::Pictora::GeneralUtilityLib {

// A recursive mutex: the owning thread may enter again.
class CAPABILITY("mutex") ActiveCriticalSection {
 public:
  ActiveCriticalSection() = default;
  virtual ~ActiveCriticalSection() = default;
  ActiveCriticalSection(const ActiveCriticalSection&) = delete;
  ActiveCriticalSection& operator=(const ActiveCriticalSection&) = delete;

  void Enter() ACQUIRE() { mutex_.lock(); }
  void Leave() RELEASE() { mutex_.unlock(); }
  // Enters without blocking; true when the section is now held by this thread.
  bool TryEnter() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  std::recursive_mutex mutex_;
};

// Holds a section (when not null) from construction until Release or destruction.
// The name records which operation holds it, for diagnostics.
class SCOPED_CAPABILITY CriticalSectionLock {
 public:
  CriticalSectionLock(ActiveCriticalSection* section, std::string_view name) ACQUIRE(section)
      : name_(name), section_(section) {
    if (section_ != nullptr) section_->Enter();
  }
  ~CriticalSectionLock() RELEASE() { Release(); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

  // Leaves the section once; a second call does nothing.
  void Release() RELEASE() {
    if (section_ != nullptr) {
      section_->Leave();
      section_ = nullptr;
    }
  }
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
  ActiveCriticalSection* section_;
};

}  // namespace Korvane::Pictora::GeneralUtilityLib
