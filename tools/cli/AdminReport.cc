#include "tools/cli/AdminReport.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "tools/cli/Output.h"
#include "util/Status.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::Tools {

namespace GU = GeneralUtilityLib;

namespace {

constexpr const char* kInfo = "/Pictora/Server/Info";
constexpr const char* kProviders = "/Pictora/Server/Info/Detailed/ServiceProviders/ServiceProvider";
constexpr const char* kServices = "/Pictora/Server/Info/Detailed/Services/Service";

// The readable lines of a <Status> element holding status items; empty for "OK" or nothing.
std::string StatusLines(GU::XmlDocument& document, const std::string& xpath) {
  if (!document.SelectNode(xpath, 0)) return {};
  GU::Status status;
  if (!status.AddXml(document.GetNodeXml()) || status.Count() == 0) return {};
  return GU::Trim(status.ToString());
}

std::string Or(const std::string& text, const char* fallback) { return text.empty() ? fallback : text; }

std::vector<TableRow> ProviderRows(GU::XmlDocument& document) {
  std::vector<TableRow> rows;
  const long count = document.CountNodes(kProviders);
  for (long i = 0; i < count; ++i) {
    const std::string at = std::string(kProviders) + "[" + std::to_string(i) + "]/";
    auto text = [&](const char* child) { return document.GetText(at + child, ""); };
    rows.push_back({{Or(text("Name"), "-"), Or(text("HostMachine"), "-"), Or(text("Endpoint"), "-"),
                     Or(text("State"), "-"), Or(text("Basic/Load"), "-")},
                    StatusLines(document, at + "Status")});
  }
  return rows;
}

std::vector<TableRow> ServiceRows(GU::XmlDocument& document) {
  std::vector<TableRow> rows;
  const long count = document.CountNodes(kServices);
  for (long i = 0; i < count; ++i) {
    const std::string at = std::string(kServices) + "[" + std::to_string(i) + "]/";
    auto text = [&](const char* child) { return document.GetText(at + child, ""); };
    rows.push_back({{Or(text("Name"), "-"), Or(text("State"), "-"), Or(text("ServiceProviders"), "all"),
                     Or(text("RunningOnServiceProviders"), "-"), Or(text("FailedOnServiceProviders"), "-")},
                    StatusLines(document, at + "Status")});
  }
  return rows;
}

}  // namespace

std::string ServerReportText(const std::string& reportXml) {
  GU::XmlDocument document;
  if (!document.LoadXml(reportXml) || document.CountNodes(kInfo) != 1) return {};
  const std::string basic = std::string(kInfo) + "/Basic/";
  std::ostringstream text;
  text << "Server " << Or(document.GetText(basic + "Version", ""), "?") << " at endpoint "
       << Or(document.GetText(basic + "Endpoint", ""), "?") << ", started "
       << Or(document.GetText(basic + "StartedAt", ""), "?") << "\n\n"
       << Table({"PROVIDER", "HOST", "ENDPOINT", "STATE", "LOAD"}, ProviderRows(document)) << "\n"
       << Table({"SERVICE", "STATE", "PROVIDERS", "RUNNING ON", "FAILED ON"}, ServiceRows(document));
  return text.str();
}

}  // namespace Korvane::Pictora::Tools
