#include "servercore/ServerManagerReport.h"

#include "servercore/Reports.h"
#include "servercore/StatusCodes.h"
#include "util/Status.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
namespace {

std::string NotRunningStatus(const char* format, const std::string& name) {
  GU::Status status;
  status.Add(kStatusProviderNotRunning, GU::Format(format, name.c_str()));
  return status.ToXml();
}

std::string FindIgnoringCase(const std::map<std::string, std::string>& texts, const std::string& name) {
  for (const auto& [key, text] : texts) {
    if (GU::Equals(key, name, true)) return text;
  }
  return std::string();
}

}  // namespace

ServerManagerReport::ServerManagerReport(std::string header, std::vector<std::string> configuredProviders,
                                         std::string serverFolder)
    : text_(std::move(header)), configured_(std::move(configuredProviders)), serverFolder_(std::move(serverFolder)) {}

void ServerManagerReport::AddRegistered(const std::string& name, const GU::ElementList& config,
                                        const std::string& info) {
  for (auto configured = configured_.begin(); configured != configured_.end(); ++configured) {
    if (GU::Equals(*configured, name, true)) {
      configured_.erase(configured);
      break;
    }
  }
  text_ += ProviderHead(name, config);
  if (info.empty()) {
    text_ += "<State>Off</State>\n" + NotRunningStatus("The ServiceProvider '%s' is no longer running", name);
  } else {
    text_ += "<State>On</State>\n<Status>OK</Status>\n";
    CollectStatistics(info);
  }
  text_ += "</ServiceProvider>\n";
}

void ServerManagerReport::CollectStatistics(const std::string& info) {
  GU::XmlDocument document;
  if (!document.LoadXml(info)) return;
  if (document.SelectNode("//Basic", 0)) text_ += document.GetNodeXml();
  const long count = document.CountChildren("//Services");
  for (long i = 0; i < count; ++i) {
    if (!document.SelectNode("//Services/*", static_cast<std::size_t>(i))) continue;
    Global::NameValueMap entry;
    entry.LoadXml(document.GetNodeXml(), "//Service");
    const std::string name = entry.Get("Name");
    if (!name.empty()) statistics_[name].push_back(std::move(entry));
  }
}

void ServerManagerReport::AddConfiguredOnly(const std::map<std::string, std::string>& notRunning) {
  for (const std::string& name : configured_) {
    GU::XmlDocument document;
    GU::ElementList values;
    if (document.LoadFile(serverFolder_ + name + ".PTPConfig")) values = GU::NodesToList(document, "//Config/*");
    text_ += ProviderHead(name, values) + "<State>Off</State>\n";
    if (!values.GetBool("State", true)) {
      text_ += "<Status></Status>\n";
    } else {
      const std::string failedStart = FindIgnoringCase(notRunning, name);
      text_ += failedStart.empty() ? NotRunningStatus("The ServiceProvider '%s' is not running", name) : failedStart;
    }
    text_ += "</ServiceProvider>\n";
  }
  configured_.clear();
}

std::string ServerManagerReport::Finish(const ServiceMap& services) {
  text_ += "</ServiceProviders>\n<Services>\n";
  for (const auto& [name, service] : services) {
    text_ += "<Service>\n<Statistics>";
    auto entries = statistics_.find(name);
    if (entries != statistics_.end()) {
      for (const Global::NameValueMap& entry : entries->second) text_ += entry.ToXmlString("ServiceProvider");
    }
    text_ += "</Statistics>" + service.ToXml("") + "</Service>\n";
  }
  text_ += "</Services>\n</Detailed>\n</Info></Server></Pictora>\n";
  return std::move(text_);
}

}  // namespace Korvane::Pictora::ServerCore
