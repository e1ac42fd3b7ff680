#include "host/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "util/TextUtil.h"

extern char** environ;

namespace Korvane::Pictora::Host {
namespace {

using Clock = std::chrono::steady_clock;

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// The spawn attributes and file actions, destroyed with the object.
class SpawnSetup {
 public:
  explicit SpawnSetup(int outputFd) {
    posix_spawn_file_actions_init(&actions_);
    posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions_, outputFd, 1);
    posix_spawn_file_actions_adddup2(&actions_, outputFd, 2);
    // The server's sockets and files stay with the server.
    posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    posix_spawnattr_init(&attributes_);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes_, 0);
    // The host blocks its stop signals in every thread and ignores SIGPIPE; the program must not
    // inherit either.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes_, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes_, &defaults);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  int Spawn(pid_t& pid, const std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    // The server's environment, except its line to systemd: readiness is the server's to report.
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      if (std::strncmp(*entry, "NOTIFY_SOCKET=", 14) != 0) environment.push_back(*entry);
    }
    environment.push_back(nullptr);
    return posix_spawnp(&pid, argv[0], &actions_, &attributes_, argv.data(), environment.data());
  }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

void Append(ProgramRun& run, const char* data, std::size_t size, std::size_t limit) {
  const std::size_t room = limit > run.output.size() ? limit - run.output.size() : 0;
  run.output.append(data, std::min(size, room));
  if (size > room) run.outputCut = true;
}

// Reads what the pipe holds within `wait`; false once it is closed or has nothing more.
bool ReadSome(int fd, std::chrono::milliseconds wait, ProgramRun& run, std::size_t limit) {
  pollfd ready{fd, POLLIN, 0};
  const int polled = ::poll(&ready, 1, static_cast<int>(wait.count()));
  if (polled < 0) return errno == EINTR;
  if (polled == 0) return wait.count() > 0;
  char buffer[4096];
  const ssize_t got = ::read(fd, buffer, sizeof buffer);
  if (got > 0) Append(run, buffer, static_cast<std::size_t>(got), limit);
  return got > 0 || (got < 0 && errno == EINTR);
}

void Finish(ProgramRun& run, int status) {
  if (WIFEXITED(status)) {
    run.end = ProgramRun::End::kExited;
    run.code = WEXITSTATUS(status);
  } else {
    run.end = ProgramRun::End::kSignalled;
    run.code = WTERMSIG(status);
  }
}

}  // namespace

std::string ProgramRun::Describe(std::chrono::milliseconds limit) const {
  namespace GU = GeneralUtilityLib;
  switch (end) {
    case End::kExited:
      return GU::Format("exited with status %d", code);
    case End::kSignalled:
      return GU::Format("was ended by signal %d (%s)", code, strsignal(code));
    case End::kTimedOut:
      return GU::Format("did not end within %lld s and was killed",
                        static_cast<long long>(std::chrono::ceil<std::chrono::seconds>(limit).count()));
    case End::kNotStarted:
      break;
  }
  return "could not be run: " + std::string(std::strerror(code));
}

ProgramRun RunProgram(const std::vector<std::string>& words, std::chrono::milliseconds limit, std::size_t outputLimit) {
  ProgramRun run;
  if (words.empty()) {
    run.code = ENOENT;
    return run;
  }
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    run.code = errno;
    return run;
  }
  Descriptor reader(ends[0]);
  Descriptor writer(ends[1]);
  pid_t pid = 0;
  if (const int failed = SpawnSetup(writer.Get()).Spawn(pid, words); failed != 0) {
    run.code = failed;
    return run;
  }
  writer.Close();  // the pipe ends when the program and its children are done with it

  const Clock::time_point deadline = Clock::now() + limit;
  const auto slice = std::chrono::milliseconds(20);
  bool reading = true;
  while (true) {
    int status = 0;
    pid_t waited = ::waitpid(pid, &status, WNOHANG);
    if (waited == pid) {
      // What is still in the pipe, without waiting for children that keep it open.
      while (reading && Clock::now() < deadline &&
             ReadSome(reader.Get(), std::chrono::milliseconds(0), run, outputLimit)) {
      }
      Finish(run, status);
      return run;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    if (reading) {
      reading = ReadSome(reader.Get(), std::min(left, slice), run, outputLimit);
    } else {
      std::this_thread::sleep_for(std::min(left, slice));
    }
  }
  ::kill(-pid, SIGKILL);
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  run.end = ProgramRun::End::kTimedOut;
  return run;
}

}  // namespace Korvane::Pictora::Host
