// Critical sections, the scoped lock that holds one for an operation, and a condition to wait
// on under one.
#pragma once

#include <chrono>
#include <condition_variable>
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
  friend class SectionCondition;
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

// A change announced under a section. The waits leave the section while they block and hold it
// again when they return; they may return spuriously, so callers wait in a loop on their
// condition, which the analysis then sees read under the section.
class SectionCondition {
 public:
  void Wait(ActiveCriticalSection& section) REQUIRES(section) { changed_.wait(section.mutex_); }
  // False once the deadline has passed.
  bool WaitUntil(ActiveCriticalSection& section, std::chrono::steady_clock::time_point deadline) REQUIRES(section) {
    return changed_.wait_until(section.mutex_, deadline) == std::cv_status::no_timeout;
  }
  void NotifyAll() { changed_.notify_all(); }

 private:
  std::condition_variable_any changed_;  // waits on the section's std::mutex itself
};

}  // namespace Korvane::Pictora::GeneralUtilityLib
