// The server as a systemd service: OnInit builds and starts the server (core published, Init
// listening, on the endpoint of the parsed command line), Run drives the main loop until the stop control, then closes the server. The
// core's stop flag (remote procedure 24) is not looked at here: only the service manager stops
// a service.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "host/CommandLine.h"
#include "host/ServerHost.h"
#include "host/WinServiceBase.h"

namespace Korvane::Pictora::Host {

class ServerService : public WinServiceBase {
 public:
  static constexpr const char* kServiceName = "KorvanePictora";

  explicit ServerService(CommandLine line);
  ~ServerService() override;

 protected:
  bool OnInit(int argumentCount, char** arguments) override;
  void OnStop() override;
  void Run(int argumentCount, char** arguments) override;

 private:
  std::unique_ptr<ServerHost> host_;
  const CommandLine line_;
  std::atomic<bool> stopRequested_{false};
};

}  // namespace Korvane::Pictora::Host
