// Serves the runtime's test interface for the interoperability tests: listens on a free TCP port
// and, when asked, on a pipe socket; prints "PORT <n>" once ready and stops at the end of its
// standard input.
#include <cstdio>
#include <iostream>
#include <string>

#include "dcerpc/Server.h"
#include "tests/dcerpc/TestInterface.h"

using namespace Korvane::Pictora::DceRpc;

int main(int argc, char** argv) {
  std::string pipe = argc > 1 ? argv[1] : "";
  ServerOptions options;
  options.maxOutBytes = 1 << 20;
  Server server(options);
  server.RegisterInterface(Testing::MakeTestInterface());
  server.RegisterInterface(Testing::MakeSecondInterface());
  RpcStatus status = server.Listen("ncacn_ip_tcp", "0");
  if (status.ok() && !pipe.empty()) status = server.Listen("ncacn_np", "\\pipe\\" + pipe);
  if (!status.ok()) {
    std::cerr << "listen failed: " << status.code << " " << status.text << "\n";
    return 1;
  }
  std::cout << "PORT " << server.TcpPort() << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  server.StopListening();
  return 0;
}
