// The runtime's mutex, its scoped lock and a condition to wait on under it, annotated so that
// clang's thread-safety analysis checks what each mutex guards and the order they are taken in.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "dcerpc/ThreadAnnotations.h"

namespace Korvane::Pictora::DceRpc {

// Not re-entrant: code that already holds it calls a helper that REQUIRES it.
class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }

 private:
  friend class CondVar;
  std::mutex mutex_;
};

// Holds a mutex from construction until Unlock or destruction.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() RELEASE() {
    if (held_) mutex_.Unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  // Lets the mutex go before the end of the scope.
  void Unlock() RELEASE() {
    mutex_.Unlock();
    held_ = false;
  }

 private:
  Mutex& mutex_;
  bool held_ = true;
};

// A change announced under a mutex. The waits release the mutex while they block and hold it
// again when they return; they may return spuriously, so callers wait in a loop on their
// condition, which the analysis then sees read under the mutex.
class CondVar {
 public:
  void Wait(Mutex& mutex) REQUIRES(mutex) {
    std::unique_lock lock(mutex.mutex_, std::adopt_lock);
    changed_.wait(lock);
    lock.release();
  }
  // False once the deadline has passed.
  bool WaitUntil(Mutex& mutex, std::chrono::steady_clock::time_point deadline) REQUIRES(mutex) {
    std::unique_lock lock(mutex.mutex_, std::adopt_lock);
    const bool notified = changed_.wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return notified;
  }
  void NotifyAll() { changed_.notify_all(); }

 private:
  std::condition_variable changed_;
};

}  // namespace Korvane::Pictora::DceRpc
