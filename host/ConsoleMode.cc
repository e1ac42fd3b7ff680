#include "host/ConsoleMode.h"

#include <poll.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "global/IReporter.h"
#include "global/LogFileHandler.h"
#include "host/ConsoleKeys.h"
#include "host/LivenessClock.h"
#include "host/ServerHost.h"

namespace Korvane::Pictora::Host {

namespace {

constexpr int kLoopSleepMs = 300;

// Sleeps one loop round, waking early for a key or a stop signal.
void SleepRound(const ConsoleKeys& keys, const GeneralUtilityLib::StopSignals& signals) {
  std::vector<pollfd> entries{{signals.Fd(), POLLIN, 0}};
  if (keys.Fd() >= 0) entries.push_back({keys.Fd(), POLLIN, 0});
  poll(entries.data(), entries.size(), kLoopSleepMs);
}

void RunLoop(ServerCore::IServer& core, ConsoleKeys& keys, GeneralUtilityLib::StopSignals& signals) {
  LivenessClock clock(LivenessClock::ConfiguredPeriod(), std::time(nullptr));
  for (;;) {
    if (clock.Due(std::time(nullptr))) {
      core.Manage();
      clock.PassEnded(std::time(nullptr));
    }
    if (core.GetStopFlag()) {
      std::printf("\nStop command was issued\n");
      std::fflush(stdout);
      return;
    }
    if (keys.QuitPressed() || signals.Take()) return;
    SleepRound(keys, signals);
  }
}

}  // namespace

int RunConsoleMode(const CommandLine& line, GeneralUtilityLib::StopSignals& signals) {
  // Declared first so that it outlives the core and shows its last report too.
  Global::ConsoleReportHandler console;
  Global::GetGlobalReporter()->AttachHandler(&console);
  ConsoleKeys keys;

  auto host = std::make_unique<ServerHost>();
  if (host->Start(line.endpoint) != 0) {
    const std::string status = host->StatusText();
    host.reset();
    std::printf("%s\nPress any key\n", status.c_str());
    std::fflush(stdout);
    keys.WaitForAnyKey();
    return 0;
  }
  host->StartFacade(line.extraAllowList);
  RunLoop(host->Core(), keys, signals);
  host->Close();
  host.reset();
  return 0;
}

}  // namespace Korvane::Pictora::Host
