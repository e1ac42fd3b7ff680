#include "admin/ServiceProviderManager.h"

#include <cerrno>
#include <cstdio>

#include "admin/AdminStatusCodes.h"
#include "admin/ProviderFiles.h"
#include "admin/StatusFailure.h"
#include "global/MachineIdentity.h"
#include "util/FileUtil.h"
#include "util/Status.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
namespace {

constexpr const char* kFullConfigPath = "//Pictora/ServiceProvider/Config";

}  // namespace

ServiceProviderManager::ServiceProviderManager() {
  for (const auto& [key, value] : {std::pair<const char*, const char*>{"HostMachine", "127.0.0.1"},
                                   {"Endpoint", "3983"},
                                   {"CreateLogs", "true"},
                                   {"MaxNumConnections", "0"},
                                   {"ConnectionTimeout", "60"},
                                   {"ManageInterval", "60"},
                                   {"AutoSyncInterval", "3600"},
                                   {"NumCPU", "2"},
                                   {"PowerRating", "1"},
                                   {"ExternalIP", ""}}) {
    defaultConfig_[key] = value;
  }
}

ServiceProviderManager::~ServiceProviderManager() {
  std::string status;
  if (!providersFolder_.empty()) StopAllServiceProviders(status);
}

bool ServiceProviderManager::Init(const std::string& homeFolder, const std::string& serverEndpoint,
                                  NotRunningTable* notRunning, IProviderLauncher* launcher) {
  launcher_ = launcher;
  std::string home = homeFolder;
  GU::Replace(home, "\\", "/");
  if (!GU::EndsWith(home, "/")) home += "/";
  providersFolder_ = home + "Server/";
  localAddress_ = Global::LocalAddress();
  serverEndpoint_ = serverEndpoint;
  std::vector<std::string> names;
  std::string error;
  if (!ProviderNames(names, error)) return true;
  for (const std::string& name : names) {
    Global::NameValueMap config;
    ReadConfig(ConfigurationPath(name), "//Config", config);
    if (!GU::ParseBool(config.Get("State"), true)) continue;
    std::string status;
    if (StartServiceProvider(name, GU::Trim(config.Get("HostMachine")), GU::Trim(config.Get("Endpoint")), status)) {
      if (notRunning != nullptr) notRunning->Remove(name);
      continue;
    }
    if (notRunning != nullptr) notRunning->Set(name, status);
    config["State"] = "Off";
    RewriteProviderFile(ConfigurationPath(name), config);
  }
  return true;
}

bool ServiceProviderManager::CreateServiceProvider(const std::string& machine, const std::string& endpoint,
                                                   const std::string& name, std::string& statusXml) {
  GU::Status status("ServiceProviderManager.CreateServiceProvider");
  try {
    if (providersFolder_.empty())
      return Fail(status, kProvidersCreateFailed, "Service provider folder empty.", statusXml);
    std::vector<std::string> names;
    // A listing failure leaves its reason in the status argument and an empty list.
    ProviderNames(names, statusXml);
    const std::string path = ConfigurationPath(name);
    if (GU::FileExists(path)) {
      return Fail(status, kProvidersCreateFailed, GU::Format("The ServiceProvider '%s' already exists.", name.c_str()),
                  statusXml);
    }
    for (const std::string& other : names) {
      Global::NameValueMap config;
      ReadConfig(ConfigurationPath(other), "//ServiceProvider/Config", config);
      if (GU::Equals(GU::Trim(config.Get("Endpoint")), GU::Trim(endpoint), true) &&
          GU::Equals(GU::Trim(config.Get("HostMachine")), GU::Trim(machine), true)) {
        return Fail(status, kProvidersCreateFailed,
                    GU::Format("The port '%s' has been taken by another ServiceProvider on '%s'. Please use a "
                               "different port.",
                               endpoint.c_str(), machine.c_str()),
                    statusXml);
      }
    }
    Global::NameValueMap config = defaultConfig_;
    config["Endpoint"] = endpoint;
    config["HostMachine"] = machine;
    config["State"] = "Off";
    config["ExternalIP"] = machine;
    const std::string text =
        GU::Format("<?xml version=\"1.0\" standalone=\"yes\"?><Pictora><ServiceProvider>%s</ServiceProvider></Pictora>",
                   config.ToXmlString("Config").c_str());
    if (!GU::WriteFileAtomically(path, text)) {
      return Fail(status, kProvidersCreateFailed, Global::LastErrorText(), statusXml);
    }
    return true;
  } catch (...) {
    return Fail(status, kProvidersCreateFailed,
                "Unknown fatal error occurred in ServiceProviderManager.CreateServiceProvider", statusXml);
  }
}

bool ServiceProviderManager::DeleteServiceProvider(const std::string& name, std::string& statusXml) {
  GU::Status status("ServiceProviderManager.DeleteServiceProvider");
  try {
    const std::string path = ConfigurationPath(name);
    if (!GU::FileExists(path)) {
      return Fail(status, kProvidersDeleteMissing,
                  GU::Format("The ServiceProvider configuration file '%s'  does not exist.", path.c_str()), statusXml);
    }
    Global::NameValueMap config;
    if (!ReadConfig(path, kFullConfigPath, config)) {
      return Fail(status, kProvidersInvalidFile, GU::Format("The file '%s'  is not a valid xml file.", path.c_str()),
                  statusXml);
    }
    errno = 0;
    if (std::remove(path.c_str()) == 0) return true;
    statusXml = Global::LastErrorText();
    return false;
  } catch (...) {
    return Fail(status, kProvidersFatal, "Unknown fatal error occurred in ServiceProviderManager.DeleteServiceProvider",
                statusXml);
  }
}

bool ServiceProviderManager::Launch(IProviderLauncher* launcher, const std::string& name, const std::string& host,
                                    const std::string& endpoint, std::string& statusXml) {
  GU::Status status("ServiceProviderManager.StartServiceProvider");
  std::string failure;
  const LaunchResult result = launcher != nullptr ? launcher->Start({name, host, endpoint}, failure) : LaunchResult::kNoMeans;
  if (result == LaunchResult::kDone) return true;
  if (result == LaunchResult::kNoMeans) failure = "this server has no way of starting service providers.";
  return Fail(status, kProvidersStartFailed,
              GU::Format("The ServiceProvider '%s' on '%s' port '%s' was not started: %s", name.c_str(), host.c_str(),
                         endpoint.c_str(), failure.c_str()),
              statusXml);
}

bool ServiceProviderManager::StopServiceProvider(const std::string& name, std::string& statusXml, bool requested) {
  Global::NameValueMap config;
  if (!CheckForStop(name, config, statusXml)) return false;
  if (!requested) return true;
  if (!RunStopCommand(launcher_, name, GU::Trim(config.Get("HostMachine")), GU::Trim(config.Get("Endpoint")),
                      statusXml))
    return false;
  RecordState(name, false);
  return true;
}

bool ServiceProviderManager::CheckForStop(const std::string& name, Global::NameValueMap& config,
                                          std::string& statusXml) const {
  GU::Status status("ServiceProviderManager.StopServiceProvider");
  try {
    const std::string path = ConfigurationPath(name);
    if (!GU::FileExists(path)) {
      return Fail(status, kProvidersStopMissing,
                  GU::Format("The ServiceProvider configuration file '%s'  does not exist.", path.c_str()), statusXml);
    }
    if (!ReadConfig(path, kFullConfigPath, config)) {
      return Fail(status, kProvidersInvalidFile, GU::Format("The file '%s'  is not a valid xml file.", path.c_str()),
                  statusXml);
    }
    return true;
  } catch (...) {
    return Fail(status, kProvidersFatal,
                GU::Format("Unknown fatal error occured in '%s'.", "ServiceProviderManager.StopServiceProvider"),
                statusXml);
  }
}

bool ServiceProviderManager::RunStopCommand(IProviderLauncher* launcher, const std::string& name,
                                            const std::string& host, const std::string& endpoint,
                                            std::string& statusXml) {
  std::string failure;
  if (launcher == nullptr || launcher->Stop({name, host, endpoint}, failure) != LaunchResult::kFailed) return true;
  GU::Status status("ServiceProviderManager.StopServiceProvider");
  return Fail(status, kProvidersStopFailed,
              GU::Format("The ServiceProvider '%s' was not stopped: %s", name.c_str(), failure.c_str()), statusXml);
}

void ServiceProviderManager::RecordState(const std::string& name, bool on) {
  const std::string path = ConfigurationPath(name);
  Global::NameValueMap config;
  // A file deleted meanwhile stays deleted; a failed rewrite is not reported.
  if (!GU::FileExists(path) || !ReadConfig(path, kFullConfigPath, config)) return;
  if (GU::ParseBool(config.Get("State"), true) == on) return;
  config["State"] = on ? "On" : "Off";
  RewriteProviderFile(path, config);
}

void ServiceProviderManager::StopAllServiceProviders(std::string& statusXml) {
  std::vector<std::string> names;
  std::string error;
  if (!ProviderNames(names, error)) {
    GU::Status status("ServiceProviderManager.StopAllServiceProviders");
    status.Add(kProvidersNoNames, "Could not get the names of service providers.");
    Fail(status, kProvidersNoNames, error, statusXml);
    return;
  }
  for (const std::string& name : names) StopServiceProvider(name, statusXml, false);
}

std::string ServiceProviderManager::ConfigurationPath(const std::string& name) const {
  return GU::Format("%s%s.PTPConfig", providersFolder_.c_str(), name.c_str());
}

bool ServiceProviderManager::ProviderNames(std::vector<std::string>& names, std::string& error) const {
  return ListProviderNames(providersFolder_, names, error);
}

bool ServiceProviderManager::ReadConfig(const std::string& path, const char* configPath,
                                        Global::NameValueMap& config) const {
  return config.LoadFile(path, configPath) != 0;
}

}  // namespace Korvane::Pictora::ServerCore
