// Start-up, configuration, logs, reporting and shut-down of the server core.
#include <sys/stat.h>

#include <ctime>

#include "global/Application.h"
#include "global/IReporter.h"
#include "global/Installation.h"
#include "servercore/ServerImpl.h"
#include "util/FileUtil.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;
namespace {

constexpr const char* kSourcePrefix = "Korvane::Pictora::ServerCore::ServerImpl::";
constexpr std::size_t kMaxReportLength = 5000;
constexpr const char* kInterfaceVersion = "1.0.0.2";
constexpr const char* kPipeEndpoint = "\\pipe\\KorvanePictora";
constexpr const char* kDefaultServices =
    "<?xml version=\"1.0\" standalone=\"yes\"?>\n<Pictora><Server><Services>\n"
    "</Services></Server></Pictora>";

// One line, each tag preceded by as many tabs as its depth below Pictora.
std::string DefaultConfigurationTemplate() {
  return "<?xml version=\"1.0\" standalone=\"yes\"?><Pictora>"
         "\t<X_DEF>"
         "\t\t<XAD_Path>PTSConfig.xad</XAD_Path>"
         "\t\t<XFD_Path>PTSConfig.xfd</XFD_Path>"
         "\t\t<HELP_Path>Pictora_Help.chm</HELP_Path>"
         "\t</X_DEF>"
         "\t<Server>"
         "\t\t<Config>" +
         GU::Format("\t\t\t<Endpoint>%s</Endpoint>", "3982") +
         "\t\t\t<CreateLogs>true</CreateLogs>"
         "\t\t\t<LogsFolder></LogsFolder>"
         "\t\t\t<ActivateAuthentication>False</ActivateAuthentication>"
         "\t\t\t<LicenseManager>"
         "\t\t\t\t<ServerManagerAllowList></ServerManagerAllowList>"
         "\t\t\t\t<ServiceProviderAllowList></ServiceProviderAllowList>"
         "\t\t\t\t<ServiceEditorAllowList></ServiceEditorAllowList>"
         "\t\t\t</LicenseManager>"
         "\t\t</Config>"
         "\t</Server>"
         "</Pictora>";
}

std::string Source(const char* operation) { return std::string(kSourcePrefix) + operation; }

std::string LogFileName() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char date[16] = {};
  std::strftime(date, sizeof date, "%Y%m%d", &local);
  return GU::Format("%s-Server.log", date);
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string DefaultLogsFolder() {
  std::string folder;
  if (Global::IApplication* application = Global::GetApplicationObject()) {
    application->GetFolder(folder, Global::kLogsFolder);
  } else {
    folder = Global::InstallationFolder(Global::kLogsFolder);
  }
  return folder + "Server/";
}

}  // namespace

ServerImpl::ServerImpl(IListener* listener, IProviderCalls* providerCalls,
                       IManagementInfo* managementInfo)
    : listener_(listener),
      providerCalls_(providerCalls),
      managementInfo_(managementInfo),
      memoryGuard_(MemoryGuard::ForThisProcess()) {
  // Reports reach the global reporter from the start, log file or not.
  SetStatusReporter(Global::GetGlobalReporter());
}

ServerImpl::~ServerImpl() {
  Close();
  const std::string endpoint = GetConfiguration().GetValue("Endpoint");
  Report(nullptr, "Shutting down Server running at endpoint: '%s'", endpoint.c_str());
  if (Global::IReporter* reporter = Global::GetGlobalReporter()) {
    reporter->DetachHandler(&logFileHandler_);
  }
}

long ServerImpl::Init(const std::string& endpoint) {
  try {
    CriticalSectionLock lock(&registryLock_, "Init");
    status_.Reset("ServerCore.Server.Init");
    long code = 0;
    PrepareServerFolder();
    PrepareConfigurationFile();
    if (!endpoint.empty()) ApplyEndpoint(endpoint);
    PrepareServicesFile();
    if (!ReadConfiguration(code) || !OpenLogs(code)) {
      ReportStatus();
      return code;
    }
    Report(Source("Init").c_str(), "Starting Server: Version '%s'",
           Global::InstalledVersion().c_str());
    if (!StartListening(code)) {
      ReportStatus();
      return code;
    }
    Report(nullptr, "Server listening at endpoint: %s",
           GetConfiguration().GetValue("Endpoint").c_str());
    return 0;
  } catch (...) {
    ReportFatal("Init");
    return kStatusFatal;
  }
}

void ServerImpl::PrepareServerFolder() {
  serverFolder_ = Global::InstallationFolder(Global::kHomeFolder) + "Server/";
  if (!IsFolder(serverFolder_) && !GU::CreateDirectories(serverFolder_)) serverFolder_.clear();
}

void ServerImpl::PrepareConfigurationFile() {
  // Without a Server folder there is no place for the file: the configuration then fails
  // to read instead of landing in the working directory.
  configFile_ = serverFolder_.empty() ? std::string() : serverFolder_ + "Pictora.PTSConfig";
  if (configFile_.empty()) return;
  if (!GU::FileExists(configFile_) && !WriteDefaultConfiguration()) {
    configFile_.clear();
    return;
  }
  if (configHandle_ == nullptr) configHandle_ = std::fopen(configFile_.c_str(), "re");
}

bool ServerImpl::WriteDefaultConfiguration() {
  if (!document_.Load(DefaultConfigurationTemplate())) return false;
  try {
    return document_.Save(configFile_);
  } catch (const GU::XmlSaveError& error) {
    Report(Source("WriteDefaultConfiguration").c_str(), "%s", error.what());
    return false;
  }
}

void ServerImpl::ApplyEndpoint(const std::string& endpoint) {
  if (configFile_.empty() || !document_.Load(configFile_)) return;
  GU::ElementList config = GU::NodesToList(document_, "//Config/*");
  const GU::ElementList licenseManager = GU::NodesToList(document_, "//LicenseManager/*");
  config["Endpoint"] = endpoint;
  if (!document_.SelectNode("//", 0)) return;
  const std::string declaration = document_.GetNodeXml();
  if (!document_.SelectNode("//Pictora/X_DEF", 0)) return;
  const std::string definitions = document_.GetNodeXml();
  config["LicenseManager"] = GU::ListToXml(licenseManager);
  const std::string text =
      GU::Format("%s\n<Pictora>\n%s\n<Server><Config>%s</Config></Server></Pictora>",
                 declaration.c_str(), definitions.c_str(), GU::ListToXml(config).c_str());
  if (!document_.Load(text)) return;
  try {
    document_.Save(configFile_);
  } catch (const GU::XmlSaveError& error) {
    Report(Source("Init").c_str(), "%s", error.what());
  }
}

void ServerImpl::PrepareServicesFile() {
  servicesFile_ = serverFolder_.empty() ? std::string() : serverFolder_ + "Pictora.Services";
  if (servicesFile_.empty() || GU::FileExists(servicesFile_)) return;
  if (!GU::WriteFileAtomically(servicesFile_, kDefaultServices)) servicesFile_.clear();
}

bool ServerImpl::LoadConfigurationDocument(GU::XmlDocument& document) {
  document.GetStatus().Reset("");
  if (!configFile_.empty() && document.Load(configFile_)) return true;
  status_.AddAll(document.GetStatus());
  status_.AddFront(kStatusConfigurationError,
                   GU::Format("Failed to read configuration xml: %s", configFile_.c_str()));
  return false;
}

bool ServerImpl::ReadConfiguration(long& code) {
  try {
    if (!LoadConfigurationDocument(document_)) {
      code = kStatusBadConfiguration;
      return false;
    }
    GU::ElementList values = GU::NodesToList(document_, "//Pictora/Server/Config/*");
    const bool authentication = values.GetBool("ActivateAuthentication", false);
    values["Version"] = Global::InstalledVersion();
    values["ServerType"] = "undefined";
    values["Protocol"] = authentication ? "ncacn_np" : "ncacn_ip_tcp";
    if (authentication) values["Endpoint"] = kPipeEndpoint;
    authenticationActive_ = authentication;
    {
      CriticalSectionLock lock(&configurationLock_, "ReadConfiguration");
      configuration_ = values;
    }
    LoadServices();
    return true;
  } catch (...) {
    code = kStatusFatal;
    return false;
  }
}

bool ServerImpl::OpenLogs(long& code) {
  try {
    const GU::ElementList config = GetConfiguration();
    if (!config.GetBool("CreateLogs", true)) return true;
    std::string folder = config.GetValue("LogsFolder");
    if (folder.empty()) folder = DefaultLogsFolder();
    GU::Replace(folder, "\\", "/");
    if (!GU::EndsWith(folder, "/")) folder += "/";
    logsFolder_ = folder;
    {
      CriticalSectionLock reportLock(&reportLock_, "OpenLogs");
      logFileHandler_.SetFile(folder, LogFileName());
      if (!logFileHandler_.Open()) {
        Report(Source("OpenLogs").c_str(), "Failed to open the log file in '%s'", folder.c_str());
      }
    }
    Global::IReporter* reporter = Global::GetGlobalReporter();
    if (reporter != nullptr) reporter->AttachHandler(&logFileHandler_);
    SetStatusReporter(reporter);
    return true;
  } catch (...) {
    code = kStatusFatal;
    return false;
  }
}

bool ServerImpl::StartListening(long& code) {
  const GU::ElementList config = GetConfiguration();
  std::string message;
  long error = 0;
  IListener* listener = listener_.load();
  if (listener == nullptr) {
    message = "No endpoint listener is available";
  } else if (listener->StartListening(config.GetValue("Endpoint"), config.GetValue("Protocol"),
                                      message, error)) {
    listening_ = true;
    return true;
  }
  status_.AddFront(kStatusConfigurationError, message);
  code = error != 0 ? error : kStatusConfigurationError;
  return false;
}

bool ServerImpl::Close() {
  try {
    CriticalSectionLock lock(&registryLock_, "Close");
    status_.Reset("ServerCore.Server.Close");
    return CloseLocked();
  } catch (...) {
    ReportFatal("Close");
    return false;
  }
}

bool ServerImpl::CloseLocked() {
  IListener* listener = listener_.load();
  if (listening_ && listener != nullptr) listener->StopListening();
  listening_ = false;
  // Callers still holding a session keep it alive until their call ends.
  sessions_.clear();
  if (configHandle_ != nullptr) {
    std::fclose(configHandle_);
    configHandle_ = nullptr;
  }
  return true;
}

void ServerImpl::SetStopFlag() {
  try {
    CriticalSectionLock lock(&registryLock_, "SetStopFlag");
    stopFlag_ = true;
  } catch (...) {
    ReportFatal("SetStopFlag");
  }
}

std::string ServerImpl::GetVersion() {
  try {
    CriticalSectionLock lock(&registryLock_, "GetVersion");
    status_.Reset("ServerCore.Server.GetVersion");
  } catch (...) {
    ReportFatal("GetVersion");
  }
  return kInterfaceVersion;
}

GU::ElementList ServerImpl::GetConfiguration() {
  CriticalSectionLock lock(&configurationLock_, "GetConfiguration");
  return configuration_;
}

std::string ServerImpl::LogsFolder() {
  CriticalSectionLock lock(&registryLock_, "LogsFolder");
  return logsFolder_;
}

bool ServerImpl::Synchronize(const std::string&) {
  try {
    // The registry lock too: the status record and the logs folder are shared with the
    // registry operations. Taken first, as everywhere.
    CriticalSectionLock registryLock(&registryLock_, "Synchronize");
    CriticalSectionLock reportLock(&reportLock_, "Synchronize");
    status_.Reset("ServerCore.Server.Synchronize");
    GU::XmlDocument document;
    if (!LoadConfigurationDocument(document)) return false;
    std::string folder = document.GetText("//LogsFolder", "");
    if (!folder.empty()) {
      GU::Replace(folder, "\\", "/");
      logsFolder_ = folder + "/Server/";
      logFileHandler_.SetFile(logsFolder_, LogFileName());
      logFileHandler_.Open();
    }
    return true;
  } catch (...) {
    ReportFatal("Synchronize");
    return false;
  }
}

void ServerImpl::ReportV(const char* source, const char* format, va_list args) {
  try {
    CriticalSectionLock lock(&reportLock_, "Report");
    Global::IReporter* reporter = StatusReporter();
    if (reporter == nullptr) return;
    std::string message = GU::FormatV(format, args);
    if (message.size() > kMaxReportLength) message.resize(kMaxReportLength);
    GU::Status record;
    record.Add(0, message, source != nullptr ? source : "");
    reporter->Report(record.ToXml(false).c_str());
  } catch (...) {
    // A report that cannot be made is dropped; reporting never fails an operation.
  }
}

void ServerImpl::ReportStatus() {
  try {
    CriticalSectionLock lock(&reportLock_, "ReportStatus");
    Global::IReporter* reporter = StatusReporter();
    if (reporter != nullptr && status_.Count() > 0) reporter->Report(status_.ToXml(false).c_str());
  } catch (...) {
  }
}

void ServerImpl::ReportFatal(const char* operation) {
  Report(Source(operation).c_str(), "Fatal error");
}

void ServerImpl::ReportLine(const char* source, const std::string& message) {
  Report(source, "%s", message.c_str());
}

}  // namespace Korvane::Pictora::ServerCore
