// Runs a program without a shell and waits for it within a time limit, with its standard output
// and error captured together and bounded. The program gets its own process group, so that on
// expiry the group is killed (a script's children go with it); standard input is /dev/null, no
// other descriptor of the server is passed on, signals start at their defaults, and the
// environment is the server's without NOTIFY_SOCKET.
//
// Thread safety: any thread; each run is independent.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace Korvane::Pictora::Host {

struct ProgramRun {
  enum class End { kExited, kSignalled, kTimedOut, kNotStarted };
  End end = End::kNotStarted;
  int code = 0;        // exit status, signal number, or the errno of a failed start
  std::string output;  // the first bytes of standard output and error, interleaved as written
  bool outputCut = false;

  bool Succeeded() const { return end == End::kExited && code == 0; }
  // "exited with status 3", "was ended by signal 9 (Killed)", "did not end within 30 s and was
  // killed", "could not be run: No such file or directory".
  std::string Describe(std::chrono::milliseconds limit) const;
};

// words[0] is searched on PATH as execvp does. Output beyond outputLimit bytes is read and
// dropped, so the program never blocks on a full pipe.
ProgramRun RunProgram(const std::vector<std::string>& words, std::chrono::milliseconds limit, std::size_t outputLimit);

}  // namespace Korvane::Pictora::Host
