// dcerpc_bench
//
// Forks a server process that runs the runtime's server (test interface), then measures from
// this process over loopback, with raw pre-encoded PDUs so that the figures are the server's:
//   1. server RSS with 10,000 idle bound connections;
//   2. 1234 calls in progress at once (each handler sleeps 1 s), all answered.
// Null-call speed is measured by bench/speed/run.sh.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/dcerpc/BenchWire.h"
#include "dcerpc/PduCodec.h"
#include "dcerpc/Server.h"
#include "tests/dcerpc/TestInterface.h"

using namespace Korvane::Pictora::DceRpc;
using Clock = std::chrono::steady_clock;

namespace {

void RaiseFileLimit() {
  rlimit limit;
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

using Bench::ConnectBound;
using Bench::RequestPdu;
using Bench::WriteFull;

int ReadPdu(int fd, std::vector<uint8_t>& pdu) { return Bench::ReadPdu(fd, pdu); }

// ---- server process ----

[[noreturn]] void RunServerProcess(int reportFd, int stopFd) {
  ServerOptions options;
  options.maxConnections = 19000;
  options.maxConnectionsPerPeer = options.maxConnections;  // every client here is 127.0.0.1
  Server server(options);
  server.RegisterInterface(Testing::MakeTestInterface());
  RpcStatus status = server.Listen("ncacn_ip_tcp", "0");
  if (!status.ok()) {
    std::fprintf(stderr, "listen failed: %s\n", status.text.c_str());
    _exit(1);
  }
  const uint16_t port = server.TcpPort();
  if (write(reportFd, &port, sizeof port) != sizeof port) _exit(1);
  char byte;
  while (read(stopFd, &byte, 1) > 0) {
  }
  server.StopListening();
  _exit(0);
}

// ---- measurements ----

long ProcessValueKb(pid_t pid, const char* field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
  }
  return -1;
}

void IdleConnections(uint16_t port, pid_t server, int count) {
  long before = ProcessValueKb(server, "VmRSS:");
  std::vector<int> fds;
  fds.reserve(static_cast<size_t>(count));
  auto started = Clock::now();
  for (int i = 0; i < count; ++i) {
    int fd = ConnectBound(port);
    if (fd < 0) break;
    fds.push_back(fd);
  }
  double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  long after = ProcessValueKb(server, "VmRSS:");
  long threads = ProcessValueKb(server, "Threads:");
  std::printf("idle connections: %zu bound in %.1f s; server RSS %.1f MB before, %.1f MB with them (%.2f KB each); "
              "server threads %ld\n",
              fds.size(), seconds, before / 1024.0, after / 1024.0,
              fds.empty() ? 0.0 : static_cast<double>(after - before) / static_cast<double>(fds.size()), threads);
  for (int fd : fds) close(fd);
}

void ConcurrentCalls(uint16_t port, pid_t server, int count, int sleepMs) {
  std::vector<uint8_t> stub(4);
  std::memcpy(stub.data(), &sleepMs, 4);
  const std::vector<uint8_t> request = RequestPdu(Testing::Op::kSleep, stub);
  std::vector<int> fds;
  for (int i = 0; i < count; ++i) {
    int fd = ConnectBound(port);
    if (fd < 0) break;
    fds.push_back(fd);
  }
  auto started = Clock::now();
  for (int fd : fds) WriteFull(fd, request.data(), request.size());
  std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs / 2));
  long threads = ProcessValueKb(server, "Threads:");
  long rss = ProcessValueKb(server, "VmRSS:");
  int answered = 0, busy = 0, failed = 0;
  std::vector<uint8_t> reply;
  for (int fd : fds) {
    int type = ReadPdu(fd, reply);
    if (type == PduType::kResponse) {
      ++answered;
    } else if (type == PduType::kFault) {
      ++busy;
    } else {
      ++failed;
    }
    close(fd);
  }
  double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  std::printf("concurrent calls: %zu sent (handler sleeps %d ms): %d answered, %d faults, %d lost, all done in "
              "%.2f s; server threads at the peak %ld, RSS %.1f MB\n",
              fds.size(), sleepMs, answered, busy, failed, seconds, threads, rss / 1024.0);
}

}  // namespace

int main() {
  RaiseFileLimit();
  signal(SIGPIPE, SIG_IGN);
  int report[2], stop[2];
  if (pipe(report) != 0 || pipe(stop) != 0) return 1;
  pid_t server = fork();
  if (server == 0) {
    close(report[0]);
    close(stop[1]);
    RunServerProcess(report[1], stop[0]);
  }
  close(report[1]);
  close(stop[0]);
  uint16_t port = 0;
  if (read(report[0], &port, sizeof port) != sizeof port) {
    std::fprintf(stderr, "server process did not start\n");
    return 1;
  }
  IdleConnections(port, server, 10000);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ConcurrentCalls(port, server, 1234, 1000);
  close(stop[1]);
  int status = 0;
  waitpid(server, &status, 0);
  return 0;
}
