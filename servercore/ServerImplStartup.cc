// Start-up, shut-down, configuration and reporting of the server core.
#include <sys/stat.h>

#include "global/ConfigurationCheck.h"
#include "global/IReporter.h"
#include "global/Installation.h"
#include "servercore/ServerImpl.h"
#include "util/FileUtil.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;
namespace {


bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ServerFolder() {
  const std::string folder = Global::InstallationFolder(Global::kHomeFolder) + "Server/";
  return IsFolder(folder) || GU::CreateDirectories(folder) ? folder : std::string();
}

}  // namespace

ServerImpl::~ServerImpl() {
  Close();
  const std::string endpoint = GetConfiguration().GetValue("Endpoint");
  Report(nullptr, "Shutting down Server running at endpoint: '%s'", endpoint.c_str());
}

long ServerImpl::Init(const std::string& endpoint) {
  return Guarded("Init", static_cast<long>(kStatusFatal), [&]() -> long {
    CriticalSectionLock lock(&registryLock_);
    GU::Status status("ServerCore.Server.Init");
    const long code = InitLocked(endpoint, status);
    PublishLocked(status);
    // The reason a start failed reaches the log.
    if (code != 0) ReportStatus();
    return code;
  });
}

long ServerImpl::InitLocked(const std::string& endpoint, GU::Status& status) {
  serverFolder_ = ServerFolder();
  // What a process killed halfway through rewriting a file left behind.
  if (!serverFolder_.empty()) GU::RemoveStaleTemporaries(serverFolder_, {".PTSConfig", ".Services", ".PTPConfig"});
  std::string saveError;
  configFile_.Open(serverFolder_, saveError);
  if (!saveError.empty()) Report(ServerSource("WriteDefaultConfiguration").c_str(), "%s", saveError.c_str());
  saveError.clear();
  if (!endpoint.empty()) configFile_.ApplyEndpoint(endpoint, saveError);
  if (!saveError.empty()) Report(ServerSource("Init").c_str(), "%s", saveError.c_str());
  configPath_ = configFile_.Path();
  servicesFile_.Open(serverFolder_);
  servicesPath_ = servicesFile_.Path();

  GU::ElementList values;
  if (!configFile_.Read(values, status)) return kStatusBadConfiguration;
  authentication_.SetActive(values.GetBool("ActivateAuthentication", false));
  settings_ = ResilienceSettings::From(values);
  if (settings_.parallelLoadQueries && !parallelLoads_) parallelLoads_ = std::make_unique<ParallelLoads>(providerCalls_.load());
  // The administration facade reads where the server listens from this property.
  SetProperty("Endpoint", values.GetValue("Endpoint"));
  {
    CriticalSectionLock configurationLock(&configurationLock_);
    configuration_ = values;
  }
  RefreshServicesLocked();
  OpenLogs();
  // Mistakes in the files reach the log now, not later as a setting quietly ignored or an empty
  // catalogue.
  for (const Global::ConfigurationProblem& problem : Global::CheckInstallation()) {
    Report(ServerSource("CheckConfiguration").c_str(), "Configuration problem: %s", problem.ToString().c_str());
  }
  Report(ServerSource("Init").c_str(), "Starting Server: Version '%s'", Global::InstalledVersion().c_str());
  if (clusterStore_ != nullptr && cluster_ == nullptr) JoinClusterLocked(values.GetValue("Endpoint"));

  std::string message;
  long error = 0;
  IListener* listener = listener_.load();
  if (listener == nullptr) {
    message = "No endpoint listener is available";
  } else if (listener->StartListening(values.GetValue("Endpoint"), values.GetValue("Protocol"), message, error)) {
    listening_ = true;
    Report(nullptr, "Server listening at endpoint: %s", values.GetValue("Endpoint").c_str());
    return 0;
  }
  status.AddFront(kStatusConfigurationError, message);
  return error != 0 ? error : kStatusConfigurationError;
}

void ServerImpl::OpenLogs() {
  const GU::ElementList config = GetConfiguration();
  if (!config.GetBool("CreateLogs", true)) return;
  const std::string folder = ServerLog::FolderFromSetting(config.GetValue("LogsFolder"));
  bool opened = false;
  {
    CriticalSectionLock lock(&reportLock_);
    opened = log_.OpenIn(folder);
  }
  if (!opened) {
    Report(ServerSource("OpenLogs").c_str(), "Failed to open the log file in '%s'", folder.c_str());
  }
  SetStatusReporter(Global::GetGlobalReporter());
}

bool ServerImpl::Close() {
  return Guarded("Close", false, [&] {
    // Before the lock: the replica's thread may be waiting for it.
    if (cluster_ != nullptr) cluster_->Replica().Stop();
    CriticalSectionLock lock(&registryLock_);
    IListener* listener = listener_.load();
    if (listening_ && listener != nullptr) listener->StopListening();
    listening_ = false;
    // Callers still holding a session keep it alive until their call ends.
    sessions_.CloseAll();
    configFile_.Close();
    PublishLocked(GU::Status("ServerCore.Server.Close"));
    return true;
  });
}

bool ServerImpl::SetStopFlag(const CallerIdentity& caller) {
  return Guarded("SetStopFlag", false, [&] {
    if (!settings_.MayStop(caller)) {
      Report(ServerSource("SetStopFlag").c_str(), "Stop request from '%s' refused: RemoteStopFrom is '%s'",
             caller.peerAddress.c_str(), settings_.remoteStopFrom.c_str());
      return false;
    }
    CriticalSectionLock lock(&registryLock_);
    stopFlag_ = true;
    return true;
  });
}

std::string ServerImpl::GetVersion() {
  // Built once: the record never changes, and copying it into the published one allocates nothing.
  static const GU::Status kVersionStatus("ServerCore.Server.GetVersion");
  Guarded("GetVersion", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    PublishLocked(kVersionStatus);
    return true;
  });
  return kServerInterfaceVersion;
}

bool ServerImpl::Synchronize(const std::string&) {
  return Guarded("Synchronize", false, [&] {
    // The registry lock for the status record, taken first as everywhere.
    CriticalSectionLock registryLock(&registryLock_);
    GU::Status status("ServerCore.Server.Synchronize");
    std::string folder;
    const bool read = configFile_.ReadLogsFolder(folder, status);
    if (read && !folder.empty()) {
      GU::Replace(folder, "\\", "/");
      CriticalSectionLock reportLock(&reportLock_);
      log_.OpenIn(folder + "/Server/");
    }
    PublishLocked(status);
    return read;
  });
}

}  // namespace Korvane::Pictora::ServerCore
