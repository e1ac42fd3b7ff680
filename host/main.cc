// pictora-server: the Korvane Pictora Server process.
//   pictora-server -console [extraAllowList] [endpoint]   in the foreground
//   pictora-server <extraAllowList> [endpoint]            as a systemd service
//   pictora-server -uninstall                             remove the product's systemd units
//   pictora-server --check-config                         check the configuration, start nothing
//   pictora-server --help | --version
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>

#include "global/ConfigurationCheck.h"
#include "global/IReporter.h"
#include "global/LogFileHandler.h"
#include "host/CommandLine.h"
#include "host/ConsoleMode.h"
#include "host/ServerService.h"
#include "host/SystemdBusUnits.h"
#include "host/Uninstaller.h"
#include "util/StopSignals.h"

namespace {

using namespace Korvane::Pictora;

// Every client connection is a descriptor; the server must be able to hold well over a
// thousand at once, more than the usual soft limit allows.
void RaiseFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

int RunService(const Host::CommandLine& line, int argc, char** argv) {
  // Under systemd standard error goes to the journal, so reports reach it too.
  Global::ConsoleReportHandler journal;
  Global::GetGlobalReporter()->AttachHandler(&journal);
  Host::ServerService service(line);
  if (!service.Start(Host::ServerService::kServiceName, argc, argv)) {
    std::fprintf(stderr,
                 "pictora-server runs as a systemd service (unit korvane-pictora.service); "
                 "to run it by hand use: pictora-server -console [extraAllowList] [endpoint]\n");
    return 0;
  }
  return service.ExitStatus();
}

int RunUninstall() {
  Host::UninstallResult result;
  try {
    Host::SystemdBusUnits units;
    result = Host::Uninstaller(units).Run();
  } catch (const Host::UnitManagerError& error) {
    result.failures.push_back(error.what());
  }
  // The line carries the outcome, a failure's text included; the exit status is always 0.
  std::printf("\n Uninstalled Korvane Pictora: %s\n", result.Message().c_str());
  return 0;
}

// Each problem of the installation's configuration as one line; exit status 1 when there is any.
int RunCheckConfig() {
  const Global::ConfigurationProblems problems = Global::CheckInstallation();
  for (const Global::ConfigurationProblem& problem : problems) std::printf("%s\n", problem.ToString().c_str());
  if (problems.empty()) std::printf("configuration checked: no problem found\n");
  return problems.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const Host::CommandLine line = Host::ParseCommandLine(argc, argv);
  switch (line.mode) {
    case Host::RunMode::kNothing:
      return line.exitStatus;
    case Host::RunMode::kUninstall:
      return RunUninstall();
    case Host::RunMode::kCheckConfig:
      return RunCheckConfig();
    case Host::RunMode::kConsole:
    case Host::RunMode::kService:
      break;
  }
  RaiseFileLimit();
  signal(SIGPIPE, SIG_IGN);
  // Before any thread exists, so that every thread leaves the stop signals to the host.
  GeneralUtilityLib::StopSignals::Block();
  if (line.mode == Host::RunMode::kService) return RunService(line, argc, argv);
  GeneralUtilityLib::StopSignals signals;
  return Host::RunConsoleMode(line, signals);
}
