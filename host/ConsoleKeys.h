// The console's key input on standard input. A terminal is switched to single keys without
// Enter or echo (signals from the keyboard such as Ctrl-C still work) and restored on
// destruction; a pipe or file is read as characters arrive. End of input is not a stop: once
// it is reached, input is simply no longer read. A terminal of which the process is not in the
// foreground (a background job) is left alone.
//
// Not thread-safe: owned by the console loop.
#pragma once

#include <termios.h>

namespace Korvane::Pictora::Host {

class ConsoleKeys {
 public:
  ConsoleKeys();
  ~ConsoleKeys();  // restores the terminal
  ConsoleKeys(const ConsoleKeys&) = delete;
  ConsoleKeys& operator=(const ConsoleKeys&) = delete;

  // Reads what is available without waiting; true when it held "q" or "Q" (other keys are
  // consumed and ignored).
  bool QuitPressed();
  // A descriptor to poll for input, or -1 once input has ended.
  int Fd() const { return open_ ? 0 : -1; }
  bool IsTerminal() const { return terminal_; }
  // Waits for one key, but only on a terminal in the foreground (nobody can press a key into a
  // pipe).
  void WaitForAnyKey();

 private:
  bool terminal_ = false;
  bool open_ = true;
  bool restore_ = false;
  termios saved_{};
};

}  // namespace Korvane::Pictora::Host
