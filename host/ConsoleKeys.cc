#include "host/ConsoleKeys.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace Korvane::Pictora::Host {

ConsoleKeys::ConsoleKeys() {
  terminal_ = isatty(STDIN_FILENO) == 1;
  if (!terminal_) return;
  // A job in the background of a shell would be stopped by the terminal for changing its
  // settings or reading from it: it takes no keys (Ctrl-C and signals still stop it).
  // (tcgetpgrp fails for a terminal that is not the controlling one: no job control there.)
  const pid_t foreground = tcgetpgrp(STDIN_FILENO);
  if (foreground >= 0 && foreground != getpgrp()) {
    open_ = false;
    return;
  }
  if (tcgetattr(STDIN_FILENO, &saved_) != 0) return;
  termios raw = saved_;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  restore_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

ConsoleKeys::~ConsoleKeys() {
  if (restore_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
}

bool ConsoleKeys::QuitPressed() {
  if (!open_) return false;
  pollfd entry{STDIN_FILENO, POLLIN, 0};
  if (poll(&entry, 1, 0) <= 0) return false;
  if ((entry.revents & POLLNVAL) != 0) {
    open_ = false;
    return false;
  }
  std::array<char, 256> chunk;
  const ssize_t count = read(STDIN_FILENO, chunk.data(), chunk.size());
  if (count == 0 || (count < 0 && errno != EINTR && errno != EAGAIN)) {
    // A terminal in non-canonical mode reads 0 when no key is waiting; it has ended only when
    // it hung up. A pipe or file has ended.
    if (!terminal_ || (entry.revents & POLLHUP) != 0) open_ = false;
    return false;
  }
  if (count < 0) return false;
  return std::any_of(chunk.begin(), chunk.begin() + count, [](char c) { return c == 'q' || c == 'Q'; });
}

void ConsoleKeys::WaitForAnyKey() {
  if (!terminal_ || !open_) return;
  pollfd entry{STDIN_FILENO, POLLIN, 0};
  while (poll(&entry, 1, -1) < 0 && errno == EINTR) {
  }
  char key;
  [[maybe_unused]] ssize_t ignored = read(STDIN_FILENO, &key, 1);
}

}  // namespace Korvane::Pictora::Host
