// A generic service wrapper on systemd (Type=notify). The process is a service when systemd
// started it, which it tells by $NOTIFY_SOCKET. Start() then runs ServiceMain on a service
// thread while the calling thread plays the service manager's dispatcher: it waits for the stop
// control (SIGTERM) and hands it to Handler.
//
// State reports: running = READY=1, stop pending = STOPPING=1, each with a STATUS= line; a failed
// start sends STATUS= with the reason and the process exits with status 1. When systemd's
// watchdog is on, WATCHDOG=1 goes out at half its interval from a thread of its own, so a long
// liveness pass cannot trip it.
//
// One instance per process. Start() must be called with SIGTERM blocked (StopSignals::Block),
// before any other thread exists. Handler runs on the dispatcher thread, everything else of
// the service on the service thread; OnStop must only signal the service thread.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace Korvane::Pictora::Host {

class WinServiceBase {
 public:
  static constexpr int kControlStop = 1;
  static constexpr int kServiceSpecificError = 1066;

  WinServiceBase();
  virtual ~WinServiceBase();
  WinServiceBase(const WinServiceBase&) = delete;
  WinServiceBase& operator=(const WinServiceBase&) = delete;

  // Runs the service to its end; true when it ran, false when the process was not started by
  // the service manager (nothing has been done then).
  bool Start(const std::string& serviceName, int argumentCount, char** arguments);

  // The process exit status after Start: 0, or 1 when the service failed to start.
  int ExitStatus() const { return win32ExitCode_ == 0 ? 0 : 1; }
  bool RunningAsService() const { return runningAsService_; }
  // The codes a failed start leaves: 1066 and the core's code, or 0 and 0.
  long Win32ExitCode() const { return win32ExitCode_; }
  long ServiceSpecificExitCode() const { return serviceSpecificExitCode_; }
  // The process's service object, if one exists.
  static WinServiceBase* Instance();

 protected:
  virtual void ServiceMain(int argumentCount, char** arguments);
  virtual void Handler(int control);
  virtual bool OnInit(int argumentCount, char** arguments) = 0;
  virtual void OnStop() = 0;
  virtual void Run(int argumentCount, char** arguments);

  // For OnInit: the start failed with the core's code; `reason` is the STATUS= text.
  void SetStartFailure(long serviceSpecificCode, const std::string& reason);
  // Sends one notification text ("READY=1\nSTATUS=..."); false when it could not be sent.
  bool Notify(const std::string& state);

 private:
  void RunWatchdog(const std::atomic<bool>& stop);

  bool runningAsService_ = false;
  std::string serviceName_;
  int argumentCount_ = 0;
  char** arguments_ = nullptr;
  long win32ExitCode_ = 0;
  long serviceSpecificExitCode_ = 0;
  std::string failureReason_;
  std::atomic<bool> serviceEnded_{false};
};

}  // namespace Korvane::Pictora::Host
