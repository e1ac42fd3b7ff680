// dcerpc_speed_server: the servers bench/speed/run.sh measures, side by side in one process:
//   echo      a plain thread-per-connection TCP echo server (the loopback limit)
//   null      the runtime's server with the test interface (procedure 0 is the null call)
//   observed  the same with the server's metrics observer (rpc/CallMetrics) counting every call
// Prints "NAME PORT" for each, then "ready", and serves until its standard input ends.
// DCERPC_BENCH_LINGER_US overrides the runtime servers' lingerMicros, for experiments.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "bench/dcerpc/BenchWire.h"
#include "dcerpc/Server.h"
#include "rpc/CallMetrics.h"

using namespace Korvane::Pictora::DceRpc;

namespace {

void EchoConnection(int fd) {
  char buffer[4096];
  while (true) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0 || !Bench::WriteFull(fd, buffer, static_cast<size_t>(n))) break;
  }
  close(fd);
}

uint16_t StartEchoServer() {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 128) != 0)
    return 0;
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

std::unique_ptr<Server> StartRuntime(ServerOptions options) {
  if (const char* linger = std::getenv("DCERPC_BENCH_LINGER_US")) options.lingerMicros = std::chrono::microseconds(std::atoi(linger));
  auto server = std::make_unique<Server>(options);
  server->RegisterInterface(Testing::MakeTestInterface());
  RpcStatus status = server->Listen("ncacn_ip_tcp", "0");
  if (!status.ok()) {
    std::fprintf(stderr, "listen failed: %s\n", status.text.c_str());
    std::exit(1);
  }
  return server;
}

}  // namespace

int main() {
  signal(SIGPIPE, SIG_IGN);
  rlimit limit;
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);

  const uint16_t echoPort = StartEchoServer();
  auto plain = StartRuntime({});
  Korvane::Pictora::Rpc::CallMetrics metrics;
  ServerOptions observedOptions;
  observedOptions.callObserver = metrics.Observer();
  auto observed = StartRuntime(observedOptions);
  std::cout << "echo " << echoPort << "\nnull " << plain->TcpPort() << "\nobserved " << observed->TcpPort()
            << "\nready" << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  plain->StopListening();
  observed->StopListening();
  uint64_t calls = 0;
  for (const auto& procedure : metrics.Procedures()) calls += procedure.calls;
  std::fprintf(stderr, "observer saw %llu calls\n", static_cast<unsigned long long>(calls));
  return 0;
}
