#include "host/WinServiceBase.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "util/StopSignals.h"

namespace Korvane::Pictora::Host {

namespace {

std::atomic<WinServiceBase*> g_service{nullptr};

// How often the dispatcher looks whether the service thread has ended.
constexpr std::chrono::milliseconds kDispatcherPoll{200};

}  // namespace

WinServiceBase::WinServiceBase() { g_service.store(this); }

WinServiceBase::~WinServiceBase() {
  WinServiceBase* self = this;
  g_service.compare_exchange_strong(self, nullptr);
}

WinServiceBase* WinServiceBase::Instance() { return g_service.load(); }

bool WinServiceBase::Start(const std::string& serviceName, int argumentCount, char** arguments) {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  if (socket == nullptr || *socket == '\0') return false;
  serviceName_ = serviceName;
  argumentCount_ = argumentCount;
  arguments_ = arguments;
  runningAsService_ = true;

  GeneralUtilityLib::StopSignals signals;
  std::thread serviceThread([this] {
    ServiceMain(argumentCount_, arguments_);
    serviceEnded_.store(true);
  });
  bool stopHandled = false;
  while (!serviceEnded_.load()) {
    if (signals.Wait(kDispatcherPoll) && !stopHandled) {
      stopHandled = true;
      Handler(kControlStop);
    }
  }
  serviceThread.join();
  return true;
}

void WinServiceBase::ServiceMain(int argumentCount, char** arguments) {
  std::atomic<bool> watchdogStop{false};
  std::thread watchdog([this, &watchdogStop] { RunWatchdog(watchdogStop); });
  if (OnInit(argumentCount, arguments)) {
    if (Notify("READY=1\nSTATUS=Running")) Run(argumentCount, arguments);
  } else {
    // One notification line per assignment: a reason of several lines becomes one.
    std::string reason = failureReason_;
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    Notify("STATUS=" + reason);
  }
  watchdogStop.store(true);
  watchdog.join();
}

void WinServiceBase::Handler(int control) {
  // Only the stop control is acted on.
  if (control != kControlStop) return;
  Notify("STOPPING=1\nSTATUS=Stopping");
  OnStop();
}

void WinServiceBase::Run(int, char**) {}

void WinServiceBase::SetStartFailure(long serviceSpecificCode, const std::string& reason) {
  win32ExitCode_ = kServiceSpecificError;
  serviceSpecificExitCode_ = serviceSpecificCode;
  failureReason_ = reason;
}

bool WinServiceBase::Notify(const std::string& state) { return sd_notify(0, state.c_str()) > 0; }

void WinServiceBase::RunWatchdog(const std::atomic<bool>& stop) {
  uint64_t intervalUs = 0;
  if (sd_watchdog_enabled(0, &intervalUs) <= 0 || intervalUs == 0) return;
  const auto half = std::chrono::microseconds(intervalUs / 2);
  // Sleeps in short steps so that the service thread's end is noticed quickly.
  const auto step = std::min<std::chrono::microseconds>(half, std::chrono::milliseconds(100));
  auto next = std::chrono::steady_clock::now();
  while (!stop.load()) {
    if (std::chrono::steady_clock::now() >= next) {
      Notify("WATCHDOG=1");
      next = std::chrono::steady_clock::now() + half;
    }
    std::this_thread::sleep_for(step);
  }
}

}  // namespace Korvane::Pictora::Host
