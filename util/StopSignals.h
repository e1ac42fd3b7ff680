// SIGINT and SIGTERM as readable events instead of asynchronous handlers, so that a stop is
// handled on an ordinary thread (clean close, terminal restored, service notifications sent).
//
// Block() must run in main before any thread exists: every thread created later inherits the
// blocked mask, so the signals stay pending until a StopSignals reads them.
//
// Thread safety: one reader at a time.
#pragma once

#include <chrono>

namespace Korvane::Pictora::GeneralUtilityLib {

class StopSignals {
 public:
  // Blocks SIGINT and SIGTERM for the calling thread (and the threads it creates later).
  static void Block();

  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // A descriptor that is readable while a stop signal is pending (for poll).
  int Fd() const { return fd_; }
  // Consumes pending stop signals; true when there was one.
  bool Take();
  // Waits up to `timeout` for a stop signal; true when one arrived (consumed).
  bool Wait(std::chrono::milliseconds timeout);

 private:
  int fd_ = -1;
};

}  // namespace Korvane::Pictora::GeneralUtilityLib
