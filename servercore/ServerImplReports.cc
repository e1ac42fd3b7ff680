// The XML information reports. Built as plain text: the documents are exactly these
// concatenations.
#include <map>
#include <set>

#include "global/Installation.h"
#include "global/NameValueMap.h"
#include "servercore/SafeNames.h"
#include "servercore/ServerImpl.h"
#include "util/FileUtil.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;
namespace {

using Statistics = std::map<std::string, std::vector<Global::NameValueMap>>;

std::string Element(const char* name, const std::string& value) {
  return std::string("<") + name + ">" + value + "</" + name + ">\n";
}

std::string ProviderHead(const std::string& name, const GU::ElementList& config) {
  return "<ServiceProvider>\n" + Element("Name", name) +
         Element("Endpoint", config.GetValue("Endpoint")) +
         Element("HostMachine", config.GetValue("HostMachine"));
}

std::string NotRunningStatus(const char* format, const std::string& name) {
  GU::Status status;
  status.Add(kStatusProviderNotRunning, GU::Format(format, name.c_str()));
  return status.ToXml(false);
}

// Collects the provider's per-service statistics and returns its Basic element.
std::string ReadProviderInfo(const std::string& info, Statistics& statistics) {
  GU::XmlDocument document;
  if (!LooksLikeMarkup(info) || !document.Load(info)) return std::string();
  const std::string basic = document.SelectNode("//Basic", 0) ? document.GetNodeXml() : "";
  const long count = document.CountChildren("//Services");
  for (long i = 0; i < count; ++i) {
    if (!document.SelectNode("//Services/*", static_cast<std::size_t>(i))) continue;
    Global::NameValueMap entry;
    entry.LoadXml(document.GetNodeXml(), "//Service");
    const std::string name = entry.Get("Name");
    if (!name.empty()) statistics[name].push_back(std::move(entry));
  }
  return basic;
}

std::string FindNotRunningText(const std::map<std::string, std::string>& notRunning,
                               const std::string& name) {
  for (const auto& [provider, text] : notRunning) {
    if (GU::Equals(provider, name, true)) return text;
  }
  return std::string();
}

}  // namespace

GU::ElementList ServerImpl::BasicInformation() {
  const GU::ElementList config = GetConfiguration();
  std::set<std::string, RegistryKeyLess> serviceNames;
  for (const auto& provider : serviceProviders_) {
    for (const auto& service : provider.second.services) serviceNames.insert(service.first);
  }
  GU::ElementList info;
  info["StartedAt"] = GU::TimeStamp();
  info["PTSConfigFile"] = configFile_;
  info["HostMachine"] = config.GetValue("HostMachine");
  info["Endpoint"] = config.GetValue("Endpoint");
  info["Version"] = Global::InstalledVersion();
  info["LogsFolder"] = logsFolder_;
  info["ServerType"] = "undefined";
  info["NumServiceProviders"] =
      GU::Format("%lu", static_cast<unsigned long>(serviceProviders_.size()));
  info["NumServices"] = GU::Format("%lu", static_cast<unsigned long>(serviceNames.size()));
  return info;
}

std::string ServerImpl::GetInfo(const CallerIdentity& caller, const std::string& reportKind,
                                std::string& out) {
  try {
    CriticalSectionLock lock(&registryLock_, "GetInfo");
    status_.Reset("ServerCore.Server.GetInfo");
    if (GU::Equals(reportKind, "Basic", true)) return BasicReport();
    if (GU::Equals(reportKind, "ServerManager", true)) return ServerManagerReport(out);
    return DetailedReport(caller, GU::Equals(reportKind, "ServerInfoForClient", true));
  } catch (...) {
    ReportFatal("GetInfo");
    return std::string();
  }
}

std::string ServerImpl::BasicReport() {
  return "<Pictora><Server><Info><Basic>\n" + GU::ListToXml(BasicInformation()) +
         "</Basic></Info></Server></Pictora>\n";
}

std::string ServerImpl::DetailedHeader() {
  return "<Pictora><Server><Info>\n<Basic>\n" + GU::ListToXml(BasicInformation()) +
         "</Basic>\n<Detailed><ServiceProviders>\n";
}

std::string ServerImpl::DetailedReport(const CallerIdentity& caller, bool forClient) {
  std::string text = DetailedHeader();
  for (const auto& [name, record] : serviceProviders_) {
    text += ProviderHead(name, record.config) + "<Services>\n";
    for (const auto& [serviceName, service] : record.services) {
      std::string message;
      if (forClient && !CheckClientAccess(caller, serviceName, message)) continue;
      text += service.registrationXml;
    }
    text += "</Services>\n</ServiceProvider>\n";
  }
  return text + "</ServiceProviders></Detailed>\n</Info></Server></Pictora>\n";
}

std::string ServerImpl::ServerManagerReport(std::string& out) {
  IManagementInfo* management = managementInfo_.load();
  if (management == nullptr) {
    status_.AddFront(kStatusReportUnavailable,
                     "The server-manager report is not available: the administration facade "
                     "is not running");
    out = status_.ToXml(false);
    return std::string();
  }
  struct Registered {
    std::string name;
    GU::ElementList config;
    std::string sessionId;
  };
  std::vector<Registered> registered;
  for (const auto& [name, record] : serviceProviders_) {
    registered.push_back(Registered{name, record.config, record.sessionId});
  }
  std::vector<std::string> configured = configuredProviders_.Names(serverFolder_);
  Statistics statistics;

  std::string text = DetailedHeader();
  for (const Registered& provider : registered) {
    const std::string info = management->GetServiceProviderInfo(provider.config);
    for (auto name = configured.begin(); name != configured.end(); ++name) {
      if (GU::Equals(*name, provider.name, true)) {
        configured.erase(name);
        break;
      }
    }
    text += ProviderHead(provider.name, provider.config);
    if (info.empty()) {
      // It did not answer: it is gone.
      RemoveServiceProviderLocked(provider.name);
      CloseSessionLocked(provider.sessionId);
      text += "<State>Off</State>\n" +
              NotRunningStatus("The ServiceProvider '%s' is no longer running", provider.name);
    } else {
      text += "<State>On</State>\n<Status>OK</Status>\n" + ReadProviderInfo(info, statistics);
    }
    text += "</ServiceProvider>\n";
  }

  const std::map<std::string, std::string> notRunning = management->NotRunningProviders();
  for (const std::string& name : configured) {
    GU::XmlDocument document;
    GU::ElementList values;
    if (document.Load(serverFolder_ + name + ".PTPConfig")) {
      values = GU::NodesToList(document, "//Config/*");
    }
    text += ProviderHead(name, values) + "<State>Off</State>\n";
    if (!values.GetBool("State", true)) {
      text += "<Status></Status>\n";
    } else {
      const std::string failedStart = FindNotRunningText(notRunning, name);
      text += failedStart.empty()
                  ? NotRunningStatus("The ServiceProvider '%s' is not running", name)
                  : failedStart;
    }
    text += "</ServiceProvider>\n";
  }
  text += "</ServiceProviders>\n";

  LoadServices();
  text += "<Services>\n";
  for (const auto& [name, service] : services_) {
    text += "<Service>\n<Statistics>";
    auto entries = statistics.find(name);
    if (entries != statistics.end()) {
      for (const Global::NameValueMap& entry : entries->second) {
        text += entry.ToXmlString("ServiceProvider");
      }
    }
    text += "</Statistics>" + service.ToXml("") + "</Service>\n";
  }
  text += "</Services>\n";
  return text + "</Detailed>\n</Info></Server></Pictora>\n";
}

std::string ServerImpl::GetServerInfoForClient(const std::string&, const std::string&) {
  try {
    CriticalSectionLock lock(&registryLock_, "GetServerInfoForClient");
    status_.Reset("ServerCore.Server.GetServerInfoForClient");
    std::string text = "<Pictora><Client><ServerInfo>\n<ImageServices>\n";
    for (const auto& [serviceName, providers] : allocations_) {
      text += "<ImageService>\n" + Element("Name", serviceName);
      for (const std::string& providerName : providers) {
        auto provider = serviceProviders_.find(providerName);
        text += "<ServiceProvider>\n";
        for (const char* key : {"Name", "HostMachine", "Endpoint"}) {
          const std::string value =
              provider != serviceProviders_.end() ? provider->second.config.GetValue(key) : "";
          text += Element(key, value);
        }
        text += "</ServiceProvider>\n";
      }
      text += "</ImageService>\n";
    }
    return text + "</ImageServices>\n</ServerInfo></Client></Pictora>";
  } catch (...) {
    ReportFatal("GetServerInfoForClient");
    return std::string();
  }
}

std::string ServerImpl::GetServiceProviders() {
  try {
    CriticalSectionLock lock(&registryLock_, "GetServiceProviders");
    status_.Reset("ServerCore.Server.GetServiceProviders");
    std::string text = "<Pictora>\n";
    for (const auto& provider : serviceProviders_) {
      text += "\t<ServiceProvider>" + provider.first + "</ServiceProvider>\n";
    }
    return text + "</Pictora>\n";
  } catch (...) {
    ReportFatal("GetServiceProviders");
    return std::string();
  }
}

std::string ServerImpl::GetServiceProviderInfo(const std::string& name) {
  try {
    CriticalSectionLock lock(&registryLock_, "GetServiceProviderInfo");
    status_.Reset("ServerCore.Server.GetServiceProviderInfo");
    auto provider = serviceProviders_.find(name);
    if (provider == serviceProviders_.end()) return std::string();
    return "<ServiceProvider><Config>" + GU::ListToXml(provider->second.config) +
           "</Config></ServiceProvider>";
  } catch (...) {
    ReportFatal("GetServiceProviderInfo");
    return std::string();
  }
}

std::string ServerImpl::GetServices(const std::string& providerName) {
  try {
    CriticalSectionLock lock(&registryLock_, "GetServices");
    status_.Reset("ServerCore.Server.GetServices");
    auto provider = serviceProviders_.find(providerName);
    if (provider == serviceProviders_.end()) return std::string();
    std::string text = "<Pictora>\n";
    for (const auto& service : provider->second.services) {
      text += "\t<ImageService>" + service.first + "</ImageService>\n";
    }
    return text + "</Pictora>\n";
  } catch (...) {
    ReportFatal("GetServices");
    return std::string();
  }
}

std::string ServerImpl::GetServiceInfo(const std::string& providerName,
                                       const std::string& serviceName) {
  try {
    CriticalSectionLock lock(&registryLock_, "GetServiceInfo");
    status_.Reset("ServerCore.Server.GetServiceInfo");
    auto provider = serviceProviders_.find(providerName);
    if (provider == serviceProviders_.end()) return std::string();
    auto service = provider->second.services.find(serviceName);
    if (service == provider->second.services.end()) return std::string();
    return service->second.registrationXml;
  } catch (...) {
    ReportFatal("GetServiceInfo");
    return std::string();
  }
}

std::string ServerImpl::GetServiceProviderConfiguration(const std::string& providerName) {
  try {
    std::string reason;
    if (!IsSafeProviderName(providerName, reason)) {
      CriticalSectionLock lock(&registryLock_, "GetServiceProviderConfiguration");
      status_.Reset("ServerCore.Server.GetServiceProviderConfiguration");
      const std::string message = GU::Format("ServiceProvider name '%s' refused: %s",
                                             providerName.c_str(), reason.c_str());
      status_.Add(kStatusNameRefused, message);
      ReportLine("Korvane::Pictora::ServerCore::ServerImpl::GetServiceProviderConfiguration",
                 message);
      return std::string();
    }
    const std::string path = serverFolder_ + providerName + ".PTPConfig";
    GU::XmlDocument document;
    if (serverFolder_.empty() || !GU::FileExists(path) || !document.Load(path)) return "";
    if (!document.SelectNode("//", 0)) return std::string();
    if (!GU::StartsWith(document.GetNodeXml(), "<?xml")) return std::string();
    const std::string declaration = document.GetNodeText("");
    if (!document.SelectNode("/Pictora", 0)) return std::string();
    return GU::Format("<?xml %s?>%s", declaration.c_str(), document.GetNodeXml().c_str());
  } catch (...) {
    ReportFatal("GetServiceProviderConfiguration");
    return std::string();
  }
}

}  // namespace Korvane::Pictora::ServerCore
