#include "admin/ServerManagerProxy.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

#include "admin/AdminStatusCodes.h"
#include "admin/ProviderFiles.h"
#include "admin/StatusFailure.h"
#include "global/Installation.h"
#include "global/MachineIdentity.h"
#include "global/NameValueMap.h"
#include "servercore/AllowList.h"
#include "servercore/ConfigurationFile.h"
#include "servercore/SafeNames.h"
#include "servercore/StatusCodes.h"
#include "util/FileUtil.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;
namespace {

// The allow list of that name in the configuration file, read afresh.
std::string AllowList(const std::string& configFile, const char* name) {
  Global::NameValueMap licenseManager;
  licenseManager.LoadFile(configFile, "//LicenseManager");
  return licenseManager.Get(name);
}

// A provider name that reaches the file system may not lead out of the Server folder.
bool SafeProviderName(const std::string& name, GU::Status& status, std::string& out) {
  std::string reason;
  if (IsSafeProviderName(name, reason)) return true;
  return Fail(status, kStatusNameRefused,
              GU::Format("ServiceProvider name '%s' refused: %s", name.c_str(), reason.c_str()), out);
}

// The largest document a management call may have the server write: far above any real
// installation's, far below what one reply carries, so that whatever is written can be read.
constexpr std::size_t kDefaultDocumentLimit = 4u << 20;
constexpr std::size_t kMostDocumentLimit = 12u << 20;

std::size_t ConfiguredDocumentLimit() {
  const std::string text = GU::Trim(Global::ReadInstallationValue("MaxDocumentBytes"));
  std::size_t limit = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), limit);
  if (error != std::errc() || end != text.data() + text.size() || limit == 0) return kDefaultDocumentLimit;
  return std::min(limit, kMostDocumentLimit);
}

// A folder in the form LogsFolderAllowedLocked compares: "/" for "\", normalised, ending in "/".
std::string NormalFolder(std::string path) {
  GU::Replace(path, "\\", "/");
  return std::filesystem::path(path + "/").lexically_normal().string();
}

// LogsFolderRoots from the installation key: folders separated by ";".
std::vector<std::string> ConfiguredLogsFolderRoots() {
  std::vector<std::string> roots;
  for (const std::string& root : GU::Tokenize(Global::ReadInstallationValue("LogsFolderRoots"), ";")) {
    if (!GU::Trim(root).empty()) roots.push_back(NormalFolder(GU::Trim(root)));
  }
  return roots;
}

}  // namespace

ServerManagerProxy::ServerManagerProxy(IProviderCalls* calls, IProviderLauncher* launcher)
    : calls_(calls),
      launcher_(launcher),
      homeFolder_(Global::InstallationFolder(Global::kHomeFolder)),
      servicesFile_(homeFolder_ + "Server/" + ServicesDocument::kFileName),
      configFile_(homeFolder_ + "Server/Pictora.PTSConfig"),
      maxDocumentBytes_(ConfiguredDocumentLimit()),
      logsFolderRoots_(ConfiguredLogsFolderRoots()) {}

bool ServerManagerProxy::WithinDocumentLimit(const std::string& text, std::uint32_t code, GU::Status& status) const {
  if (text.size() <= maxDocumentBytes_) return true;
  status.Add(code, GU::Format("The document would be %zu bytes, more than the %zu the server writes (MaxDocumentBytes)",
                              text.size(), maxDocumentBytes_));
  return false;
}

template <typename Result, typename Body>
Result ServerManagerProxy::Run(const char* operation, Result failure, Body body) {
  try {
    Result result = failure;
    DeferredCalls network;
    {
      CriticalSectionLock lock(&facadeLock_);
      GU::Status status(std::string("ServerManagerProxy.") + operation);
      result = body(status);
      network = std::exchange(deferred_, {});
    }
    network.RunAll();
    return result;
  } catch (...) {
    RecordFatal(operation);
    return failure;
  }
}

template <typename Result, typename Body>
Result ServerManagerProxy::RunOnStore(const char* operation, Result failure, Body body) {
  try {
    Result result = failure;
    DeferredCalls network;
    {
      CriticalSectionLock lock(&storeLock_);
      GU::Status status(std::string("ServerManagerProxy.") + operation);
      result = body(status);
      network = serviceManager_.TakeProviderCalls();
    }
    network.RunAll();
    return result;
  } catch (...) {
    RecordFatal(operation);
    return failure;
  }
}

void ServerManagerProxy::RecordFatal(const char* operation) {
  try {
    {
      CriticalSectionLock lock(&storeLock_);
      serviceManager_.TakeProviderCalls();  // an operation that failed tells nobody
    }
    CriticalSectionLock lock(&facadeLock_);
    deferred_ = {};
    status_.Reset(std::string("ServerManagerProxy.") + operation);
    status_.Add(kFacadeFatal, std::string("Unknown fatal error occured in '") + operation + "'");
  } catch (...) {
  }
}

bool ServerManagerProxy::Init(IServer* server, const std::string& extraAllowList) {
  return Run("Init", false, [&](GU::Status& status) REQUIRES(facadeLock_) {
    server_ = server;
    serverEndpoint_ = server != nullptr ? server->GetProperty("Endpoint") : std::string();
    notRunning_.Clear();
    providerManager_.Init(homeFolder_, serverEndpoint_, &notRunning_, launcher_);
    CriticalSectionLock storeLock(&storeLock_);
    serviceManager_.Init(servicesFile_, homeFolder_ + "Server/", server != nullptr ? server->SharedCatalogue() : nullptr,
                         server, calls_, maxDocumentBytes_);

    GU::XmlDocument document;
    if (!document.LoadFile(configFile_) || !document.SelectNode("//", 0)) return false;
    xmlDeclaration_ = document.GetNodeXml();
    if (!document.SelectNode("//Pictora/X_DEF", 0)) return false;
    extraDefinitions_ = document.GetNodeXml();
    configElements_ = GU::NodesToList(document, "//Config/*");
    localLogsFolder_ = configElements_.GetValue("LogsFolder");
    allowListElements_ = GU::NodesToList(document, "//LicenseManager/*");
    if (extraAllowList.empty()) return true;

    std::vector<std::string> entries = GU::Tokenize(allowListElements_.GetValue("ServerManagerAllowList"), ",;");
    for (const std::string& extra : GU::Tokenize(extraAllowList, ",;")) {
      const bool present = std::any_of(entries.begin(), entries.end(),
                                       [&](const std::string& entry) { return GU::Equals(entry, extra, true); });
      if (!present) entries.push_back(extra);
    }
    allowListElements_["ServerManagerAllowList"] = GU::Join(entries, ";");
    if (SaveConfigurationLocked(configElements_, allowListElements_, status)) return true;
    status_ = status;
    return false;
  });
}

bool ServerManagerProxy::SaveConfigurationLocked(const GU::ElementList& config, const GU::ElementList& allowLists,
                                                 GU::Status& status) {
  const std::string text = ConfigurationText(xmlDeclaration_, extraDefinitions_, config, allowLists);
  if (!WithinDocumentLimit(text, kFacadeUpdateFailed, status)) return false;
  GU::XmlDocument document;
  if (!document.LoadXml(text)) {
    status.Add(kFacadeUpdateFailed, "Failed to update service xml. The xml is invalid");
    status.AddAll(document.GetStatus());
    return false;
  }
  try {
    return document.Save(configFile_);
  } catch (const GU::XmlSaveError&) {
    status.Add(kFacadeUpdateFailed, GU::Format("Failed to save xml to file: '%s'", configFile_.c_str()));
    status.AddAll(document.GetStatus());
    return false;
  }
}

bool ServerManagerProxy::CheckSession(const ManagementSession& session, GU::Status& status, std::string& statusXml) {
  if (session.caller) return true;
  return Fail(status, kFacadeInvalidSession, GU::Format("The current session '%s' is invalid.", session.id.c_str()),
              statusXml);
}

bool ServerManagerProxy::OpenSession(const std::string& sessionInfoXml, const CallerIdentity& caller,
                                     std::string& sessionId, std::string& statusXml) {
  return Run("OpenSession", false, [&](GU::Status& status) REQUIRES(facadeLock_) {
    Global::NameValueMap info;
    info.LoadXml(sessionInfoXml, "//SessionInfo");
    if (!GU::Equals(info.Get("Application"), "ServerManager", true)) {
      return Fail(status, kFacadeSessionRefused, "Not a valid session", statusXml);
    }
    const CallerMachine machine{info.Get("MachineName"), info.Get("IPAddress"), info.Get("FQDN")};
    const std::string allowList = AllowList(configFile_, "ServerManagerAllowList");
    const bool verifyPeer = server_ != nullptr && server_->GetConfiguration().GetBool("VerifyPeerAddress", false);
    if (!AllowListAdmits(allowList, machine, Global::LocalIdentities()) ||
        (verifyPeer && !AllowListAdmitsPeer(allowList, caller, Global::LocalIdentities()))) {
      return Fail(status, kFacadeSessionRefused,
                  GU::Format("Cannot manage the server running on host '%s'. You are not in the allow list.",
                             Global::LocalHostName().c_str()),
                  statusXml);
    }
    if (server_ != nullptr && !server_->AdmitSession(sessionInfoXml, sessions_.Count(), statusXml)) return false;
    sessionId = Global::NewUniqueId();
    sessions_.Open(sessionId, ManagementCaller{info.Get("UserName"), info.Get("MachineName")},
                   server_ != nullptr ? server_->SessionIdleTimeout() : std::chrono::milliseconds(0));
    return true;
  });
}

bool ServerManagerProxy::CloseSession(const ManagementSession& session, std::string&) {
  return Run("CloseSession", false, [&](GU::Status&) REQUIRES(facadeLock_) {
    sessions_.Close(session.id);
    return true;
  });
}

std::string ServerManagerProxy::GetServerInfo(const CallerIdentity& caller, const ManagementSession& session,
                                              std::string& statusXml) {
  IServer* server = nullptr;
  const bool allowed = Run("GetServerInfo", false, [&](GU::Status& status) REQUIRES(facadeLock_) {
    if (server_ == nullptr) {
      return Fail(status, kFacadeNotInitialized, "The ServerManagerProxy has not been initialized.", statusXml);
    }
    server = server_;
    return CheckSession(session, status, statusXml);
  });
  if (!allowed) return std::string();
  // The report asks every running provider for its information: not under the facade's lock.
  try {
    return server->GetInfo(caller, "ServerManager", statusXml);
  } catch (...) {
    RecordFatal("GetServerInfo");
    return std::string();
  }
}

std::string ServerManagerProxy::GetServiceProvidersInfo(const ManagementSession& session, std::string& statusXml) {
  return Run("GetServiceProvidersInfo", std::string(), [&](GU::Status& status) REQUIRES(facadeLock_) {
    if (server_ == nullptr) {
      Fail(status, kFacadeNotInitialized, "The ServerManagerProxy has not been initialized.", statusXml);
    } else {
      CheckSession(session, status, statusXml);  // an open session gets no text either
    }
    return std::string();
  });
}

std::string ServerManagerProxy::GetServicesXml(const ManagementSession& session, std::string& statusXml) {
  return RunOnStore("GetServicesXml", std::string(), [&](GU::Status& status) REQUIRES(storeLock_) {
    if (!CheckSession(session, status, statusXml)) return std::string();
    return serviceManager_.GetServicesXml(statusXml);
  });
}

template <typename Call>
bool ServerManagerProxy::ForwardToStore(const char* operation, const ManagementSession& session, std::string& statusXml,
                                        Call call) {
  return RunOnStore(operation, false, [&](GU::Status& status) REQUIRES(storeLock_) {
    return CheckSession(session, status, statusXml) && call(serviceManager_);
  });
}

bool ServerManagerProxy::UpdateServicesXml(const ManagementSession& session, const std::string& servicesXml,
                                           std::string& statusXml) {
  return ForwardToStore("UpdateServicesXml", session, statusXml,
                        [&](ServiceManager& store) { return store.UpdateServicesXml(servicesXml, statusXml); });
}

bool ServerManagerProxy::AddService(const ManagementSession& session, const std::string& source,
                                    const std::string& name, const std::string& properties,
                                    const std::string& providers, std::string& statusXml) {
  return ForwardToStore("AddService", session, statusXml, [&](ServiceManager& store) {
    return store.AddService(source, name, properties, providers, statusXml);
  });
}

bool ServerManagerProxy::RemoveService(const ManagementSession& session, const std::string& service,
                                       const std::string& providers, std::string& statusXml) {
  return ForwardToStore("RemoveService", session, statusXml,
                        [&](ServiceManager& store) { return store.RemoveService(service, providers, statusXml); });
}

bool ServerManagerProxy::StartService(const ManagementSession& session, const std::string& service,
                                      std::string& statusXml) {
  return ForwardToStore("StartService", session, statusXml,
                        [&](ServiceManager& store) { return store.StartService(service, statusXml); });
}

bool ServerManagerProxy::StopService(const ManagementSession& session, const std::string& service,
                                     std::string& statusXml) {
  return ForwardToStore("StopService", session, statusXml,
                        [&](ServiceManager& store) { return store.StopService(service, statusXml); });
}

bool ServerManagerProxy::RefreshService(const ManagementSession& session, const std::string& service,
                                        std::string& statusXml) {
  return ForwardToStore("RefreshService", session, statusXml,
                        [&](ServiceManager& store) { return store.RefreshService(service, statusXml); });
}

bool ServerManagerProxy::RefreshAllServices(const ManagementSession& session, std::string& statusXml) {
  return ForwardToStore("RefreshAllServices", session, statusXml,
                        [&](ServiceManager& store) { return store.RefreshAllServices(statusXml); });
}

std::string ServerManagerProxy::GetServiceName(const ManagementSession& session, const std::string& service,
                                               std::string& statusXml) {
  return Run("GetServiceName", std::string(), [&](GU::Status& status) REQUIRES(facadeLock_) {
    std::string stored, message;
    if (!CheckSession(session, status, statusXml)) return stored;
    if (server_ == nullptr || !server_->GetServiceName(service, stored, message)) {
      Fail(status, kStoreNoSuchService, message, statusXml);
    }
    return stored;
  });
}

std::string ServerManagerProxy::GetServerConfigXml(const ManagementSession& session, std::string& statusXml) {
  return Run("GetServerConfigXml", std::string(), [&](GU::Status& status) REQUIRES(facadeLock_) {
    if (!CheckSession(session, status, statusXml)) return std::string();
    GU::XmlDocument document;
    if (document.LoadFile(configFile_) && document.SelectNode("/Pictora", 0)) {
      return xmlDeclaration_ + document.GetNodeXml();
    }
    status.Add(kFacadeReadFailed, GU::Format("Failed to read xml: %s", configFile_.c_str()));
    status.AddAll(document.GetStatus());
    statusXml = status.ToXml();
    return std::string();
  });
}

bool ServerManagerProxy::UpdateServerConfigXml(const ManagementSession& session, const std::string& configXml,
                                               std::string& statusXml) {
  return Run("UpdateServerConfigXml", false, [&](GU::Status& status) REQUIRES(facadeLock_) {
    if (!CheckSession(session, status, statusXml)) return false;
    GU::XmlDocument update;
    if (!update.LoadXml(configXml)) {
      status.Add(kFacadeUpdateFailed, "Failed to update service xml. The xml is invalid");
      status.AddAll(update.GetStatus());
      statusXml = status.ToXml();
      return false;
    }
    const GU::ElementList config = GU::NodesToList(update, "//Config/*");
    const std::string logs = config.GetValue("LogsFolder");
    if (!logs.empty() && !LogsFolderAllowedLocked(logs)) {
      return Fail(status, kFacadeUpdateFailed,
                  GU::Format("The LogsFolder '%s' lies outside the server's home folder '%s'; only the configuration "
                             "file on the server's machine may name such a folder",
                             logs.c_str(), homeFolder_.c_str()),
                  statusXml);
    }
    // Merged into copies: what the facade holds changes only with the file.
    GU::ElementList merged = configElements_;
    GU::ElementList allowLists = allowListElements_;
    merged.Merge(config);
    allowLists.Merge(GU::NodesToList(update, "//LicenseManager/*"));
    if (!SaveConfigurationLocked(merged, allowLists, status)) {
      statusXml = status.ToXml();
      return false;
    }
    configElements_ = std::move(merged);
    allowListElements_ = std::move(allowLists);
    if (server_ != nullptr) server_->Synchronize(configXml);
    return true;
  });
}

bool ServerManagerProxy::LogsFolderAllowedLocked(const std::string& folder) const {
  const std::string wanted = NormalFolder(folder);
  if (wanted.starts_with(NormalFolder(homeFolder_))) return true;
  if (!localLogsFolder_.empty() && wanted == NormalFolder(localLogsFolder_)) return true;
  return std::any_of(logsFolderRoots_.begin(), logsFolderRoots_.end(),
                     [&](const std::string& root) { return wanted.starts_with(root); });
}

std::string ServerManagerProxy::ProviderPath(const std::string& name) const {
  return homeFolder_ + GU::Format("Server/%s.PTPConfig", name.c_str());
}

std::string ServerManagerProxy::GetServiceProviderConfigXml(const ManagementSession& session, const std::string& name,
                                                            std::string& statusXml) {
  return Run("GetServiceProviderConfigXml", std::string(), [&](GU::Status& status) REQUIRES(facadeLock_) {
    if (!CheckSession(session, status, statusXml)) return std::string();
    if (!SafeProviderName(name, status, statusXml)) return std::string();
    const std::string path = ProviderPath(name);
    GU::XmlDocument document;
    if (!document.LoadFile(path) || !document.SelectNode("//", 0)) {
      status.Add(kFacadeReadFailed, GU::Format("Failed to read xml: %s", path.c_str()));
      status.AddAll(document.GetStatus());
      statusXml = status.ToXml();
      return std::string();
    }
    const std::string declaration = document.GetNodeText("");
    GU::ElementList config = GU::NodesToList(document, "//Config/*");
    // Where the provider finds this server; handed out, never stored.
    config["ServerHost"] = Global::LocalAddress();
    config["ServerPort"] = serverEndpoint_;
    return GU::Format("<?xml %s?><ServiceProvider><Config>%s</Config></ServiceProvider>", declaration.c_str(),
                      GU::ListToXml(config).c_str());
  });
}

bool ServerManagerProxy::UpdateServiceProviderConfigXml(const ManagementSession& session, const std::string& name,
                                                        const std::string& configXml, std::string& statusXml) {
  return Run("UpdateServiceProviderConfigXml", false, [&](GU::Status& status) REQUIRES(facadeLock_) {
    if (!CheckSession(session, status, statusXml)) return false;
    if (!SafeProviderName(name, status, statusXml)) return false;
    const std::string path = ProviderPath(name);
    const auto failWith = [&](GU::XmlDocument& document, const std::string& message) {
      status.Add(kFacadeProviderUpdateFailed, message);
      status.AddAll(document.GetStatus());
      statusXml = status.ToXml();
      return false;
    };
    GU::XmlDocument existing;
    if (!existing.LoadFile(path) || !existing.SelectNode("//", 0)) {
      return failWith(existing, GU::Format("Failed to update serviceprovider configuration. The xml file is invalid: "
                                           "'%s'",
                                           path.c_str()));
    }
    const std::string declaration = existing.GetNodeXml();
    GU::ElementList config = GU::NodesToList(existing, "//Config/*");
    GU::XmlDocument update;
    if (!update.LoadXml(configXml)) return failWith(update, "Failed to update service xml. The xml is invalid");
    config.Merge(GU::NodesToList(update, "//Config/*"));
    const std::string text = GU::Format("%s<Pictora><ServiceProvider><Config>%s</Config></ServiceProvider></Pictora>",
                                        declaration.c_str(), GU::ListToXml(config).c_str());
    if (!WithinDocumentLimit(text, kFacadeProviderUpdateFailed, status)) {
      statusXml = status.ToXml();
      return false;
    }
    GU::XmlDocument merged;
    if (!merged.LoadXml(text)) return failWith(merged, "Failed to update serviceprovider configuration.");
    try {
      merged.Save(path);
    } catch (const GU::XmlSaveError&) {
      return failWith(merged, GU::Format("Failed to save xml to file: '%s'", path.c_str()));
    }
    std::string host, endpoint, ignored;
    if (server_ != nullptr && calls_ != nullptr &&
        server_->GetServiceProviderHostAndPort(name, host, endpoint, ignored)) {
      deferred_.Add([calls = calls_, host, endpoint] { calls->RefreshConfiguration(host, endpoint); });
    }
    return true;
  });
}

bool ServerManagerProxy::CreateServiceProvider(const ManagementSession& session, const std::string& machine,
                                               const std::string& endpoint, const std::string& name,
                                               std::string& statusXml) {
  return Run("CreateServiceProvider", false, [&](GU::Status& status) REQUIRES(facadeLock_) {
    if (!CheckSession(session, status, statusXml)) return false;
    if (!SafeProviderName(name, status, statusXml)) return false;
    const std::vector<std::string> parts = GU::Tokenize(machine, ",;");
    const CallerMachine names{parts.size() > 0 ? parts[0] : std::string(), parts.size() > 1 ? parts[1] : std::string(),
                              parts.size() > 2 ? parts[2] : std::string()};
    if (AllowListAdmits(AllowList(configFile_, "ServiceProviderAllowList"), names, Global::LocalIdentities())) {
      return providerManager_.CreateServiceProvider(names.machineName, endpoint, name, statusXml);
    }
    GU::Status refusal("");
    refusal.Add(kFacadeCreateRefused,
                GU::Format("You cannot create a service provider on '%s'. %s\nMachine '%s' is not on the allowed list "
                           "of service providers.",
                           names.machineName.c_str(), statusXml.c_str(), names.machineName.c_str()));
    statusXml = refusal.ToXml();
    return false;
  });
}

bool ServerManagerProxy::DeleteServiceProvider(const ManagementSession&, const std::string& name,
                                               std::string& statusXml) {
  return Run("DeleteServiceProvider", false, [&](GU::Status& status) REQUIRES(facadeLock_) {
    if (!SafeProviderName(name, status, statusXml)) return false;
    notRunning_.Remove(name);
    return providerManager_.DeleteServiceProvider(name, statusXml);
  });
}

// The operator's start and stop commands may run for their whole time limit: each operation
// checks under the lock, runs the command without it, and records the outcome under it again.
bool ServerManagerProxy::StartServiceProvider(const ManagementSession& session, const std::string& name,
                                              std::string& statusXml) {
  std::string host, endpoint;
  const bool checked = Run("StartServiceProvider", false, [&](GU::Status& status) REQUIRES(facadeLock_) {
    if (!CheckSession(session, status, statusXml)) return false;
    if (!SafeProviderName(name, status, statusXml)) return false;
    const std::string path = providerManager_.ConfigurationPath(name);
    if (!GU::FileExists(path)) {
      return Fail(status, kFacadeProviderFileMissing,
                  GU::Format("The ServiceProvider configuration file '%s'  does not exist.", path.c_str()), statusXml);
    }
    Global::NameValueMap config;
    if (config.LoadFile(path, "//Pictora/ServiceProvider/Config") == 0) {
      return Fail(status, kFacadeProviderFileInvalid,
                  GU::Format("The file '%s' is not a valid xml format.", path.c_str()), statusXml);
    }
    host = GU::Trim(config.Get("HostMachine"));
    endpoint = GU::Trim(config.Get("Endpoint"));
    return true;
  });
  if (!checked) return false;
  const bool started = ServiceProviderManager::Launch(launcher_, name, host, endpoint, statusXml);
  return Run("StartServiceProvider", false, [&](GU::Status&) REQUIRES(facadeLock_) {
    if (started) {
      notRunning_.Remove(name);
    } else {
      notRunning_.Set(name, statusXml);
    }
    providerManager_.RecordState(name, started);
    return started;
  });
}

bool ServerManagerProxy::StopServiceProvider(const ManagementSession& session, const std::string& name,
                                             std::string& statusXml) {
  Global::NameValueMap config;
  const bool checked = Run("StopServiceProvider", false, [&](GU::Status& status) REQUIRES(facadeLock_) {
    if (!CheckSession(session, status, statusXml)) return false;
    if (!SafeProviderName(name, status, statusXml)) return false;
    std::string host, endpoint;
    if (server_ == nullptr || !server_->GetServiceProviderHostAndPort(name, host, endpoint, statusXml)) return false;
    return providerManager_.CheckForStop(name, config, statusXml);
  });
  if (!checked || !ServiceProviderManager::RunStopCommand(launcher_, name, GU::Trim(config.Get("HostMachine")),
                                                          GU::Trim(config.Get("Endpoint")), statusXml))
    return false;
  return Run("StopServiceProvider", false, [&](GU::Status&) REQUIRES(facadeLock_) {
    providerManager_.RecordState(name, false);
    return true;
  });
}

std::string ServerManagerProxy::GetServiceProviderInfo(const GU::ElementList& config) {
  if (calls_ == nullptr) return std::string();
  return calls_->GetInfo(config.GetValue("HostMachine"), config.GetValue("Endpoint"), "Detailed");
}

}  // namespace Korvane::Pictora::ServerCore
