#include "host/ServerService.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "host/CommandLine.h"
#include "host/LivenessClock.h"

namespace Korvane::Pictora::Host {

namespace {
constexpr std::chrono::milliseconds kLoopSleep{300};
}

ServerService::ServerService() = default;

ServerService::~ServerService() = default;

bool ServerService::OnInit(int argumentCount, char** arguments) {
  const CommandLine line = ParseCommandLine(argumentCount, arguments);
  extraAllowList_ = line.extraAllowList;
  host_ = std::make_unique<ServerHost>();
  const long code = host_->Start(line.endpoint);
  if (code == 0) return true;
  SetStartFailure(code, host_->StatusText());
  host_.reset();
  return false;
}

void ServerService::OnStop() { stopRequested_.store(true); }

void ServerService::Run(int, char**) {
  host_->StartFacade(extraAllowList_);
  LivenessClock clock(LivenessClock::ConfiguredPeriod(), std::time(nullptr));
  for (;;) {
    if (clock.Due(std::time(nullptr))) {
      host_->Core().Manage();
      clock.PassEnded(std::time(nullptr));
    }
    if (stopRequested_.load()) break;
    std::this_thread::sleep_for(kLoopSleep);
  }
  host_->Close();
  host_.reset();
}

}  // namespace Korvane::Pictora::Host
