#include "host/ServerService.h"

#include <chrono>
#include <ctime>
#include <thread>
#include <utility>

#include "host/LivenessClock.h"

namespace Korvane::Pictora::Host {

namespace {
constexpr std::chrono::milliseconds kLoopSleep{300};
}

ServerService::ServerService(CommandLine line) : line_(std::move(line)) {}

ServerService::~ServerService() = default;

bool ServerService::OnInit(int, char**) {
  host_ = std::make_unique<ServerHost>();
  const long code = host_->Start(line_.endpoint);
  if (code == 0) return true;
  SetStartFailure(code, host_->StatusText());
  host_.reset();
  return false;
}

void ServerService::OnStop() { stopRequested_.store(true); }

void ServerService::Run(int, char**) {
  host_->StartFacade(line_.extraAllowList);
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
