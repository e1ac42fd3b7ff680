// Starts and stops providers with the operator's commands from the installation key (which only
// root can write and nothing on the wire can change):
//   ProviderStartCommand, ProviderStopCommand   a CommandTemplate with {name}, {host}, {endpoint}
//   ProviderCommandTimeoutSeconds               the time limit of one run (default 30)
// A command is run without a shell; exit status 0 is success. Anything else fails the start or
// stop with a text naming the command, how it ended and what it wrote. Without the setting there
// is no means (the administration then fails every start as before). The key is read at each
// call, so an edit counts from the next start; each run is reported to the log.
//
// Thread safety: stateless; any thread.
#pragma once

#include <chrono>
#include <cstddef>

#include "servercore/IProviderLauncher.h"

namespace Korvane::Pictora::Host {

class CommandProviderLauncher : public ServerCore::IProviderLauncher {
 public:
  static constexpr std::chrono::seconds kDefaultTimeout{30};
  // Output kept for the status text; the management status is cut to 4000 characters anyway.
  static constexpr std::size_t kOutputLimit = 3000;

  ServerCore::LaunchResult Start(const ServerCore::ProviderAddress& provider, std::string& failure) override;
  ServerCore::LaunchResult Stop(const ServerCore::ProviderAddress& provider, std::string& failure) override;
};

}  // namespace Korvane::Pictora::Host
