#include "host/LivenessClock.h"

#include <cerrno>
#include <cstdlib>

namespace Korvane::Pictora::Host {

long LivenessClock::ConfiguredPeriod() {
  const char* text = std::getenv("PICTORA_TEST_LIVENESS_SECONDS");
  if (text == nullptr || *text == '\0') return kDefaultPeriodSeconds;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < 0) return kDefaultPeriodSeconds;
  return value;
}

}  // namespace Korvane::Pictora::Host
