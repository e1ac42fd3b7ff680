#include "util/StopSignals.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

namespace Korvane::Pictora::GeneralUtilityLib {

namespace {

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void StopSignals::Block() {
  sigset_t set = StopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

StopSignals::StopSignals() {
  sigset_t set = StopSet();
  fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

StopSignals::~StopSignals() {
  if (fd_ >= 0) close(fd_);
}

bool StopSignals::Take() {
  if (fd_ < 0) return false;
  bool any = false;
  signalfd_siginfo info;
  while (read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) any = true;
  return any;
}

bool StopSignals::Wait(std::chrono::milliseconds timeout) {
  if (fd_ < 0) return false;
  pollfd entry{fd_, POLLIN, 0};
  int ready = poll(&entry, 1, static_cast<int>(timeout.count()));
  if (ready < 0 && errno != EINTR) return false;
  return Take();
}

}  // namespace Korvane::Pictora::GeneralUtilityLib
