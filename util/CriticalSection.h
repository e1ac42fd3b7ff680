// Critical sections and the scoped lock that holds one for an operation.
#pragma once

#include <mutex>

#include "util/ThreadAnnotations.h"

namespace Korvane::Pictora::GeneralUtilityLib {

// A plain (not re-entrant) mutex: an operation that needs the section while already holding it
// calls a helper that requires it instead of taking it again. Clang's thread-safety analysis
// checks the annotations.
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
  std::mutex mutex_;
};

// Holds a section (when not null) from construction until Release or destruction.
class SCOPED_CAPABILITY CriticalSectionLock {
 public:
  explicit CriticalSectionLock(ActiveCriticalSection* section) ACQUIRE(section) : section_(section) {
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

 private:
  ActiveCriticalSection* section_;
};

}  // namespace Korvane::Pictora::GeneralUtilityLib
