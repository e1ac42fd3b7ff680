// The configured service providers: one configuration file each in the Server folder. Creates
// a provider (a file with the defaults, switched off, its machine and port not taken by another
// provider), deletes it, records it as stopped, lists the names, and at start-up tries to start
// every provider marked on.
//
// Starting and stopping go through the launcher the host hands in (the operator's commands);
// without one, or when the operator named no start command, every start fails, the provider is
// written "Off" and recorded as not running.
//
// Every operation that fails writes status XML into its status argument (deletion's last step
// writes the system's plain error text). Not thread-safe: the management facade serialises it.
#pragma once

#include <string>
#include <vector>

#include "admin/NotRunningTable.h"
#include "global/NameValueMap.h"
#include "global/Object.h"
#include "servercore/IProviderLauncher.h"

namespace Korvane::Pictora::ServerCore {

class ServiceProviderManager : public Global::Object {
 public:
  ServiceProviderManager();
  ~ServiceProviderManager() override;

  // home: the installation's home folder ("\" and "/" alike); starts the providers marked on.
  // launcher: how providers are started and stopped (not owned; may be null).
  bool Init(const std::string& homeFolder, const std::string& serverEndpoint, NotRunningTable* notRunning,
            IProviderLauncher* launcher = nullptr);

  bool CreateServiceProvider(const std::string& machine, const std::string& endpoint, const std::string& name,
                             std::string& status);
  bool DeleteServiceProvider(const std::string& name, std::string& status);
  // Whether the launcher started the provider; status says why not. Runs the operator's
  // command: the facade calls it without its lock.
  static bool Launch(IProviderLauncher* launcher, const std::string& name, const std::string& host,
                     const std::string& endpoint, std::string& status);
  bool StartServiceProvider(const std::string& name, const std::string& host, const std::string& endpoint,
                            std::string& status) {
    return Launch(launcher_, name, host, endpoint, status);
  }
  // Checks the file. A requested stop (not the server's own shut-down) runs the launcher's stop
  // and writes a provider marked on "Off". The provider's machine is not contacted.
  bool StopServiceProvider(const std::string& name, std::string& status, bool requested);
  // The steps of a requested stop, for a caller that runs the command without its lock: the
  // file checked (its Config values in config), the operator's stop command, the state written.
  bool CheckForStop(const std::string& name, Global::NameValueMap& config, std::string& status) const;
  static bool RunStopCommand(IProviderLauncher* launcher, const std::string& name, const std::string& host,
                             const std::string& endpoint, std::string& status);
  // Writes the state into the provider's file when it says otherwise; a file gone stays gone.
  void RecordState(const std::string& name, bool on);
  void StopAllServiceProviders(std::string& status);

  std::string ConfigurationPath(const std::string& name) const;
  bool ProviderNames(std::vector<std::string>& names, std::string& error) const;

 private:
  // The file's Config values, read through any of the three paths writers use.
  bool ReadConfig(const std::string& path, const char* configPath, Global::NameValueMap& config) const;

  std::string providersFolder_;
  Global::NameValueMap defaultConfig_;
  std::string localAddress_;
  std::string serverEndpoint_;
  IProviderLauncher* launcher_ = nullptr;
};

}  // namespace Korvane::Pictora::ServerCore
