#include "host/CommandProviderLauncher.h"

#include "global/IReporter.h"
#include "global/Installation.h"
#include "host/ChildProcess.h"
#include "host/CommandTemplate.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::Host {
namespace GU = GeneralUtilityLib;
using ServerCore::LaunchResult;

namespace {

constexpr const char* kSource = "Korvane::Pictora::Host::CommandProviderLauncher";

std::chrono::milliseconds ConfiguredTimeout() {
  const long seconds = GU::ParseLong(Global::ReadInstallationValue("ProviderCommandTimeoutSeconds"), 0);
  return seconds > 0 ? std::chrono::seconds(seconds) : CommandProviderLauncher::kDefaultTimeout;
}

LaunchResult Run(const char* setting, const ServerCore::ProviderAddress& provider, std::string& failure) {
  const std::string line = Global::ReadInstallationValue(setting);
  if (GU::Trim(line).empty()) return LaunchResult::kNoMeans;
  std::string error;
  const std::optional<CommandTemplate> command = CommandTemplate::Parse(line, error);
  const std::optional<std::vector<std::string>> words =
      command
          ? command->Fill({{"name", provider.name}, {"host", provider.host}, {"endpoint", provider.endpoint}}, error)
          : std::nullopt;
  if (!words) {
    failure = GU::Format("the %s '%s' was not run: %s", setting, line.c_str(), error.c_str());
    Global::ReportToGlobal(kSource, failure);
    return LaunchResult::kFailed;
  }
  const std::chrono::milliseconds limit = ConfiguredTimeout();
  const ProgramRun run = RunProgram(*words, limit, CommandProviderLauncher::kOutputLimit);
  const std::string outcome =
      GU::Format("the %s '%s' for ServiceProvider '%s' %s", setting, CommandText(*words).c_str(), provider.name.c_str(),
                 run.Describe(limit).c_str());
  Global::ReportToGlobal(kSource, outcome);
  if (run.Succeeded()) return LaunchResult::kDone;
  failure = outcome + (run.output.empty() ? "; it wrote nothing" : "; it wrote: " + run.output) +
            (run.outputCut ? " [cut]" : "");
  return LaunchResult::kFailed;
}

}  // namespace

LaunchResult CommandProviderLauncher::Start(const ServerCore::ProviderAddress& provider, std::string& failure) {
  return Run("ProviderStartCommand", provider, failure);
}

LaunchResult CommandProviderLauncher::Stop(const ServerCore::ProviderAddress& provider, std::string& failure) {
  return Run("ProviderStopCommand", provider, failure);
}

}  // namespace Korvane::Pictora::Host
