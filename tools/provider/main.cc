// pictora-provider: a stand-in service provider for demos and tests. Serves the provider
// interface on its own TCP port and, given --server, lives with that server (or that cluster's
// servers) as a provider does.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "dcerpc/Server.h"
#include "global/MachineIdentity.h"
#include "tools/provider/ProviderLog.h"
#include "tools/provider/ProviderOptions.h"
#include "tools/provider/Registration.h"
#include "tools/provider/StandInProvider.h"
#include "util/StopSignals.h"

namespace Tools = Korvane::Pictora::Tools;
namespace DceRpc = Korvane::Pictora::DceRpc;
using Clock = std::chrono::steady_clock;

namespace {

Tools::StandInSettings SettingsFrom(const Tools::ProviderOptions& options) {
  return {options.name, options.hostMachine, options.load, options.refusePing, options.silent, options.answerDelay};
}

}  // namespace

int main(int argc, char** argv) {
  int exitStatus = 0;
  auto parsed = Tools::ParseProviderOptions(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr,
                                            exitStatus);
  if (!parsed) return exitStatus;
  Tools::ProviderOptions options = *parsed;
  if (options.hostMachine.empty()) options.hostMachine = Korvane::Pictora::Global::LocalHostName();
  // Before the runtime's threads exist, so that they leave SIGINT and SIGTERM to the main loop.
  Korvane::Pictora::GeneralUtilityLib::StopSignals::Block();
  Korvane::Pictora::GeneralUtilityLib::StopSignals stopSignals;

  Tools::StandInProvider provider(SettingsFrom(options));
  provider.SetServices(options.services);
  // The server asks every candidate for its load on each lookup, one lookup after another: a
  // worker that waits a little longer on the connection catches the next query without the
  // round through epoll and another thread's wake-up.
  DceRpc::ServerOptions serverOptions;
  serverOptions.lingerMicros = std::chrono::microseconds(2000);
  DceRpc::Server rpcServer(serverOptions);
  rpcServer.RegisterInterface(provider.Definition());
  DceRpc::RpcStatus listening = rpcServer.Listen("ncacn_ip_tcp", std::to_string(options.port));
  if (!listening.ok()) {
    std::fprintf(stderr, "cannot listen on port %d: %s\n", options.port, listening.text.c_str());
    return 1;
  }
  const std::string endpoint = std::to_string(rpcServer.TcpPort());
  provider.SetEndpoint(endpoint);
  Tools::ProviderLog(options.name, "listening on port " + endpoint);

  std::unique_ptr<Tools::Registration> registration;
  if (!options.servers.empty()) registration = std::make_unique<Tools::Registration>(options, provider, endpoint);
  for (;;) {
    Clock::time_point next = registration ? registration->Step() : Clock::now() + std::chrono::hours(1);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
    if (stopSignals.Wait(std::max(left, std::chrono::milliseconds(1)))) break;
  }
  Tools::ProviderLog(options.name, "stopping");
  if (registration) registration->Leave();
  provider.Release();
  rpcServer.StopListening();
  return 0;
}
