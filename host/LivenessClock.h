// When the host loop runs the liveness pass: when more than `period` whole seconds of wall-clock
// time have passed since the end of the previous pass (or since the loop started). A difference
// of exactly `period` does not count.
//
// Not thread-safe: owned by the loop thread.
#pragma once

#include <ctime>

namespace Korvane::Pictora::Host {

class LivenessClock {
 public:
  static constexpr long kDefaultPeriodSeconds = 60;

  LivenessClock(long periodSeconds, std::time_t start) : period_(periodSeconds), last_(start) {}

  bool Due(std::time_t now) const { return now - last_ > period_; }
  void PassEnded(std::time_t now) { last_ = now; }
  long Period() const { return period_; }

  // The period of this process: 60 seconds, unless the test-only environment variable
  // PICTORA_TEST_LIVENESS_SECONDS gives another whole number (0 or more). It exists only so that
  // tests need not wait a minute for a pass; operators have no reason to set it.
  static long ConfiguredPeriod();

 private:
  long period_;
  std::time_t last_;
};

}  // namespace Korvane::Pictora::Host
