// dcerpc_bench [SECONDS_PER_POINT [CONNECTIONS]]  (with CONNECTIONS: that throughput point only)
//
// Forks a server process that runs the runtime's server (test interface) and a plain
// thread-per-connection TCP echo server, then measures from this process over loopback:
//   1. null calls (opnum 0, empty stub, 1-byte result) per second and p50/p99 latency at 1, 4 and
//      16 connections, next to the echo of a message of the same size;
//   2. server RSS with 10,000 idle bound connections;
//   3. 1234 calls in progress at once (each handler sleeps 1 s), all answered.
// Clients use raw pre-encoded PDUs so that the figures are the server's.
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

#include "dcerpc/PduCodec.h"
#include "dcerpc/Server.h"
#include "tests/dcerpc/TestInterface.h"

using namespace Korvane::Pictora::DceRpc;
using Clock = std::chrono::steady_clock;

namespace {

struct Ports {
  uint16_t rpc = 0;
  uint16_t echo = 0;
};

void RaiseFileLimit() {
  rlimit limit;
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

bool WriteFull(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadFull(int fd, void* data, size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    ssize_t n = recv(fd, p, size, 0);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Reads one PDU with as few reads as the echo client needs (one, for small replies); returns its
// type or -1. Assumes the peer sends nothing unasked, as in request/response use.
int ReadPduFast(int fd, std::vector<uint8_t>& pdu) {
  pdu.resize(8192);
  size_t have = 0;
  while (have < 16 || have < static_cast<size_t>(pdu[8] | (pdu[9] << 8))) {
    if (have >= 16) pdu.resize(std::max<size_t>(pdu.size(), pdu[8] | (pdu[9] << 8)));
    ssize_t n = recv(fd, pdu.data() + have, pdu.size() - have, 0);
    if (n <= 0) return -1;
    have += static_cast<size_t>(n);
  }
  return pdu[2];
}

// Reads one PDU; returns its type or -1.
int ReadPdu(int fd, std::vector<uint8_t>& pdu) {
  pdu.resize(16);
  if (!ReadFull(fd, pdu.data(), 16)) return -1;
  size_t length = pdu[8] | (pdu[9] << 8);
  if (length < 16) return -1;
  pdu.resize(length);
  if (!ReadFull(fd, pdu.data() + 16, length - 16)) return -1;
  return pdu[2];
}

int Connect(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// Connects and binds to the test interface; -1 on failure.
int ConnectBound(uint16_t port) {
  int fd = Connect(port);
  if (fd < 0) return -1;
  std::vector<uint8_t> bind;
  EncodeBind(PduType::kBind, 1, BindPdu{5840, 5840, 0, {{0, Testing::TestInterfaceId(), {Ndr20Syntax()}}}}, bind);
  std::vector<uint8_t> ack;
  if (!WriteFull(fd, bind.data(), bind.size()) || ReadPdu(fd, ack) != PduType::kBindAck) {
    close(fd);
    return -1;
  }
  return fd;
}

std::vector<uint8_t> RequestPdu(uint16_t opnum, const std::vector<uint8_t>& stub) {
  std::vector<uint8_t> pdu;
  EncodeRequestFragments(2, 0, opnum, stub, 5840, pdu);
  return pdu;
}

// ---- server process ----

void EchoConnection(int fd) {
  char buffer[4096];
  while (true) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0 || !WriteFull(fd, buffer, static_cast<size_t>(n))) break;
  }
  close(fd);
}

uint16_t StartEchoServer() {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(listener, 128);
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::thread([listener] {
    while (true) {
      int fd = accept(listener, nullptr, nullptr);
      if (fd < 0) return;
      int on = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      std::thread(EchoConnection, fd).detach();
    }
  }).detach();
  return ntohs(address.sin_port);
}

[[noreturn]] void RunServerProcess(int reportFd, int stopFd) {
  ServerOptions options;
  options.maxConnections = 19000;
  if (const char* linger = std::getenv("DCERPC_BENCH_LINGER_US")) options.lingerMicros = std::chrono::microseconds(std::atoi(linger));
  Server server(options);
  server.RegisterInterface(Testing::MakeTestInterface());
  RpcStatus status = server.Listen("ncacn_ip_tcp", "0");
  if (!status.ok()) {
    std::fprintf(stderr, "listen failed: %s\n", status.text.c_str());
    _exit(1);
  }
  Ports ports{server.TcpPort(), StartEchoServer()};
  if (write(reportFd, &ports, sizeof ports) != sizeof ports) _exit(1);
  char byte;
  while (read(stopFd, &byte, 1) > 0) {
  }
  server.StopListening();
  _exit(0);
}

// ---- measurements ----

struct Point {
  double callsPerSecond = 0;
  double p50Us = 0;
  double p99Us = 0;
  size_t failures = 0;
};

// Runs `connections` client threads for `seconds`, each sending `request` and reading one reply.
Point Measure(uint16_t port, bool rpc, int connections, double seconds) {
  const std::vector<uint8_t> request = rpc ? RequestPdu(Testing::Op::kPing, {}) : std::vector<uint8_t>(24, 0x5A);
  std::atomic<bool> go{false}, stop{false};
  std::vector<std::vector<double>> latencies(static_cast<size_t>(connections));
  std::atomic<size_t> failures{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < connections; ++c) {
    threads.emplace_back([&, c] {
      int fd = rpc ? ConnectBound(port) : Connect(port);
      if (fd < 0) {
        ++failures;
        return;
      }
      std::vector<uint8_t> reply(request.size());
      auto& mine = latencies[static_cast<size_t>(c)];
      mine.reserve(1 << 20);
      while (!go) std::this_thread::yield();
      while (!stop) {
        auto start = Clock::now();
        bool ok = WriteFull(fd, request.data(), request.size()) &&
                  (rpc ? ReadPduFast(fd, reply) == PduType::kResponse : ReadFull(fd, reply.data(), reply.size()));
        if (!ok) {
          ++failures;
          break;
        }
        mine.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
      }
      close(fd);
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto started = Clock::now();
  go = true;
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stop = true;
  double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
  for (auto& t : threads) t.join();
  std::vector<double> all;
  for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
  std::sort(all.begin(), all.end());
  Point point;
  point.failures = failures;
  if (!all.empty()) {
    point.callsPerSecond = static_cast<double>(all.size()) / elapsed;
    point.p50Us = all[all.size() / 2];
    point.p99Us = all[all.size() * 99 / 100];
  }
  return point;
}

// Median of each figure over the rounds.
Point Median(std::vector<Point> points) {
  auto middle = [&](auto field) {
    std::vector<double> values;
    for (const Point& p : points) values.push_back(p.*field);
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  Point median;
  median.callsPerSecond = middle(&Point::callsPerSecond);
  median.p50Us = middle(&Point::p50Us);
  median.p99Us = middle(&Point::p99Us);
  for (const Point& p : points) median.failures += p.failures;
  return median;
}

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

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
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
  Ports ports;
  if (read(report[0], &ports, sizeof ports) != sizeof ports) {
    std::fprintf(stderr, "server process did not start\n");
    return 1;
  }
  std::printf("null calls vs echo, %.1f s per point in 5 alternating rounds, medians (loopback, %u cores)\n", seconds,
              std::thread::hardware_concurrency());
  std::printf("%-12s %14s %10s %10s %14s %10s %10s %8s\n", "connections", "calls/s", "p50 us", "p99 us",
              "echo/s", "p50 us", "p99 us", "ratio");
  std::vector<int> points = {1, 4, 16};
  if (argc > 2) points = {std::atoi(argv[2])};
  // The machine is shared: alternate short rounds of both and keep the medians, so that a change
  // of background load hits both sides alike.
  constexpr int kRounds = 5;
  for (int connections : points) {
    std::vector<Point> rpc, echo;
    std::vector<double> ratios;
    for (int round = 0; round < kRounds; ++round) {
      rpc.push_back(Measure(ports.rpc, true, connections, seconds / kRounds));
      echo.push_back(Measure(ports.echo, false, connections, seconds / kRounds));
      ratios.push_back(rpc.back().callsPerSecond / std::max(echo.back().callsPerSecond, 1.0));
    }
    Point r = Median(rpc), e = Median(echo);
    std::sort(ratios.begin(), ratios.end());
    std::printf("%-12d %14.0f %10.1f %10.1f %14.0f %10.1f %10.1f %7.0f%%%s\n", connections, r.callsPerSecond,
                r.p50Us, r.p99Us, e.callsPerSecond, e.p50Us, e.p99Us, 100.0 * ratios[kRounds / 2],
                r.failures + e.failures ? " (failures)" : "");
  }
  if (argc <= 2) {
    IdleConnections(ports.rpc, server, 10000);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ConcurrentCalls(ports.rpc, server, 1234, 1000);
  }
  close(stop[1]);
  int status = 0;
  waitpid(server, &status, 0);
  return 0;
}
