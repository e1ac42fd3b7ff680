#include "tools/cli/AdminReport.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "util/Status.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::Tools {

namespace GU = GeneralUtilityLib;

namespace {

constexpr const char* kInfo = "/Pictora/Server/Info";
constexpr const char* kProviders = "/Pictora/Server/Info/Detailed/ServiceProviders/ServiceProvider";
constexpr const char* kServices = "/Pictora/Server/Info/Detailed/Services/Service";

struct Row {
  std::vector<std::string> cells;
  std::string statusLines;  // printed indented under the row
};

// Columns two spaces apart, the last one unpadded; "(none)" under the heading when there are no rows.
std::string Table(const std::vector<std::string>& heading, const std::vector<Row>& rows) {
  std::vector<size_t> widths(heading.size());
  for (size_t i = 0; i < heading.size(); ++i) widths[i] = heading[i].size();
  for (const Row& row : rows) {
    for (size_t i = 0; i < row.cells.size(); ++i) widths[i] = std::max(widths[i], row.cells[i].size());
  }
  std::ostringstream text;
  auto line = [&](const std::vector<std::string>& cells) {
    for (size_t i = 0; i + 1 < cells.size(); ++i) text << cells[i] << std::string(widths[i] - cells[i].size() + 2, ' ');
    text << cells.back() << "\n";
  };
  line(heading);
  for (const Row& row : rows) {
    line(row.cells);
    std::istringstream lines(row.statusLines);
    for (std::string status; std::getline(lines, status);) text << "    " << status << "\n";
  }
  if (rows.empty()) text << "(none)\n";
  return text.str();
}

// The readable lines of a <Status> element holding status items; empty for "OK" or nothing.
std::string StatusLines(GU::XmlDocument& document, const std::string& xpath) {
  if (!document.SelectNode(xpath, 0)) return {};
  GU::Status status;
  if (!status.AddXml(document.GetNodeXml()) || status.Count() == 0) return {};
  return GU::Trim(status.ToString());
}

std::string Or(const std::string& text, const char* fallback) { return text.empty() ? fallback : text; }

std::vector<Row> ProviderRows(GU::XmlDocument& document) {
  std::vector<Row> rows;
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

std::vector<Row> ServiceRows(GU::XmlDocument& document) {
  std::vector<Row> rows;
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
