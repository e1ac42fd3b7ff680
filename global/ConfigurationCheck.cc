#include "global/ConfigurationCheck.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

#include "global/Installation.h"
#include "util/FileUtil.h"
#include "util/Globber.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::Global {
namespace GU = GeneralUtilityLib;
namespace {

// A value quoted in a problem is cut to this many characters: documents may come from anyone.
constexpr std::size_t kMaxQuoted = 60;
constexpr std::size_t kMaxProblems = 100;

enum class ValueKind { kText, kWholeNumber, kNumber, kSwitch };

struct KnownSetting {
  const char* name;
  ValueKind kind;
};

using Settings = std::initializer_list<KnownSetting>;

// The children of the server configuration's Config element the server reads (the core, the
// resilience settings, the host's call time-outs and the listener), and those it writes itself.
constexpr Settings kServerSettings = {
    {"Endpoint", ValueKind::kText},
    {"CreateLogs", ValueKind::kSwitch},
    {"LogsFolder", ValueKind::kText},
    {"ActivateAuthentication", ValueKind::kSwitch},
    {"LicenseManager", ValueKind::kText},
    {"HostMachine", ValueKind::kText},
    {"Version", ValueKind::kText},
    {"ServerType", ValueKind::kText},
    {"Protocol", ValueKind::kText},
    {"RpcConnectTimeoutMs", ValueKind::kWholeNumber},
    {"RpcCallTimeoutMs", ValueKind::kWholeNumber},
    {"ParallelLoadQueries", ValueKind::kSwitch},
    {"LoadQueryBudgetMs", ValueKind::kWholeNumber},
    {"LivenessFailuresBeforeRemoval", ValueKind::kWholeNumber},
    {"SessionIdleTimeout", ValueKind::kWholeNumber},
    {"MaxSessions", ValueKind::kWholeNumber},
    {"MaxSessionInfoBytes", ValueKind::kWholeNumber},
    {"VerifyPeerAddress", ValueKind::kSwitch},
    {"RemoteStopFrom", ValueKind::kText},
    {"MaxConnectionsPerPeer", ValueKind::kWholeNumber},
};

constexpr Settings kAllowLists = {
    {"ServerManagerAllowList", ValueKind::kText},
    {"ServiceProviderAllowList", ValueKind::kText},
    {"ServiceEditorAllowList", ValueKind::kText},
};

// A provider configuration as the server and its management procedures write it.
constexpr Settings kProviderSettings = {
    {"HostMachine", ValueKind::kText},
    {"Endpoint", ValueKind::kText},
    {"CreateLogs", ValueKind::kSwitch},
    {"MaxNumConnections", ValueKind::kWholeNumber},
    {"ConnectionTimeout", ValueKind::kWholeNumber},
    {"ManageInterval", ValueKind::kWholeNumber},
    {"AutoSyncInterval", ValueKind::kWholeNumber},
    {"NumCPU", ValueKind::kWholeNumber},
    {"PowerRating", ValueKind::kNumber},
    {"ExternalIP", ValueKind::kText},
    {"State", ValueKind::kSwitch},
};

constexpr Settings kServiceFields = {
    {"Name", ValueKind::kText},       {"Source", ValueKind::kText},           {"State", ValueKind::kSwitch},
    {"Properties", ValueKind::kText}, {"ServiceProviders", ValueKind::kText},
};

// The installation key: where the product is, and the operator's settings.
constexpr Settings kKeySettings = {
    {"Version", ValueKind::kText},
    {"Home", ValueKind::kText},
    {"MaxDocumentBytes", ValueKind::kWholeNumber},
    {"LogsFolderRoots", ValueKind::kText},
    {"ProviderStartCommand", ValueKind::kText},
    {"ProviderStopCommand", ValueKind::kText},
    {"ProviderCommandTimeoutSeconds", ValueKind::kWholeNumber},
    {"MetricsEndpoint", ValueKind::kText},
    {"ClusterEndpoints", ValueKind::kText},
    {"ClusterPrefix", ValueKind::kText},
    {"LogRetentionDays", ValueKind::kWholeNumber},
};

// Control characters dropped, cut to `most` characters (then "...").
std::string Printable(std::string_view value, std::size_t most) {
  std::string printable;
  for (const char c : value) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) continue;
    if (printable.size() == most) return printable + "...";
    printable += c;
  }
  return printable;
}

std::string Quoted(std::string_view value) { return "'" + Printable(value, kMaxQuoted) + "'"; }

bool IsWholeNumber(const std::string& text) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  return std::stoull(text) <= static_cast<unsigned long long>(std::numeric_limits<std::int32_t>::max());
}

bool IsNumber(const std::string& text) {
  const std::size_t point = text.find('.');
  if (point == std::string::npos) return IsWholeNumber(text);
  const std::string whole = text.substr(0, point), fraction = text.substr(point + 1);
  return (whole.empty() || IsWholeNumber(whole)) && !fraction.empty() && fraction.size() <= 9 &&
         fraction.find_first_not_of("0123456789") == std::string::npos;
}

bool IsSwitch(const std::string& text) {
  static constexpr const char* kWords[] = {"true", "false", "on", "off", "yes", "no", "1", "0"};
  return std::any_of(std::begin(kWords), std::end(kWords),
                     [&](const char* word) { return GU::Equals(text, word, true); });
}

// Why `value` does not suit `kind`; empty when it does. An empty value always does: the
// server then takes the default.
std::string WrongType(ValueKind kind, const std::string& value) {
  if (value.empty()) return {};
  switch (kind) {
    case ValueKind::kText:
      return {};
    case ValueKind::kWholeNumber:
      return IsWholeNumber(value) ? std::string() : Quoted(value) + " is not a whole number";
    case ValueKind::kNumber:
      return IsNumber(value) ? std::string() : Quoted(value) + " is not a number";
    case ValueKind::kSwitch:
      return IsSwitch(value) ? std::string() : Quoted(value) + " is not true or false (on/off, yes/no, 1/0)";
  }
  return {};
}

class ProblemList {
 public:
  ProblemList(const std::string& file, ConfigurationProblems& problems) : file_(file), problems_(problems) {}

  // Element names come from the document: each is cut, and a document lists at most kMaxProblems.
  void Add(const std::string& element, const std::string& message) {
    if (++added_ <= kMaxProblems) {
      problems_.push_back({file_, Printable(element, 4 * kMaxQuoted), message});
    } else if (added_ == kMaxProblems + 1) {
      problems_.push_back({file_, "", "more problems not listed"});
    }
  }

  // The parser's position and reason, without the document's text its message starts with.
  void Unreadable(GU::XmlDocument& document) {
    std::string reason = GU::Trim(document.GetStatus().ToString());
    const std::size_t where = reason.find("Line: ");
    if (where != std::string::npos) reason = reason.substr(where);
    GU::Replace(reason, "'", "");
    GU::Replace(reason, ";  ", ", ");
    Add("", "the document does not parse: " + Printable(reason, 2 * kMaxQuoted));
  }

  // One setting against the known ones; `element` names it in the problem.
  void CheckValue(const std::string& element, const std::string& name, const std::string& value, Settings known) {
    const auto setting =
        std::find_if(known.begin(), known.end(), [&](const KnownSetting& s) { return GU::Equals(name, s.name, true); });
    if (setting == known.end()) {
      Add(element, "unknown setting");
    } else if (const std::string wrong = WrongType(setting->kind, GU::Trim(value)); !wrong.empty()) {
      Add(element, wrong);
    }
  }

  void CheckValues(const std::string& parent, const std::vector<std::pair<std::string, std::string>>& values,
                   Settings known) {
    for (const auto& [name, value] : values) CheckValue(parent + "/" + name, name, value, known);
  }

 private:
  const std::string& file_;
  ConfigurationProblems& problems_;
  std::size_t added_ = 0;
};

bool Load(GU::XmlDocument& document, std::string_view text, ProblemList& problems) {
  if (document.LoadXml(text)) return true;
  problems.Unreadable(document);
  return false;
}

// The children of the element xpath selects first; none (and a problem) when there is no such element.
bool ChildValues(GU::XmlDocument& document, const char* xpath, const char* name, ProblemList& problems,
                 std::vector<std::pair<std::string, std::string>>& values) {
  std::optional<std::vector<std::pair<std::string, std::string>>> children;
  if (document.SelectNode(xpath, 0)) children = document.GetChildValues();
  if (!children) {
    problems.Add(name, "missing: the server reads its settings from this element");
    return false;
  }
  values = std::move(*children);
  return true;
}

void CheckConfiguration(std::string_view text, Settings known, bool withAllowLists, ProblemList& problems) {
  GU::XmlDocument document;
  std::vector<std::pair<std::string, std::string>> values;
  if (!Load(document, text, problems) || !ChildValues(document, "//Config", "Config", problems, values)) return;
  problems.CheckValues("Config", values, known);
  std::optional<std::vector<std::pair<std::string, std::string>>> allowLists;
  if (withAllowLists && document.SelectNode("//Config/LicenseManager", 0)) allowLists = document.GetChildValues();
  if (allowLists) problems.CheckValues("Config/LicenseManager", *allowLists, kAllowLists);
}

void CheckServices(std::string_view text, ProblemList& problems) {
  GU::XmlDocument document;
  if (!Load(document, text, problems)) return;
  if (!document.SelectNode("//Services", 0)) {
    problems.Add("Services", "missing: the server reads the services from this element");
    return;
  }
  const long count = document.CountChildren("//Services");
  for (long i = 0; i < count; ++i) {
    if (!document.SelectNode("//Services/*", static_cast<std::size_t>(i))) continue;
    const std::string element = "Services/" + document.GetNodeName() + "[" + std::to_string(i + 1) + "]";
    if (document.GetNodeName() != "Service") {
      problems.Add(element, "not a Service element");
      continue;
    }
    const std::optional<std::vector<std::pair<std::string, std::string>>> fields = document.GetChildValues();
    if (!fields) continue;
    problems.CheckValues(element, *fields, kServiceFields);
    const bool named = std::any_of(fields->begin(), fields->end(), [](const auto& field) {
      return field.first == "Name" && !GU::Trim(field.second).empty();
    });
    if (!named) problems.Add(element, "no Name: the server skips this service");
  }
}

void CheckInstallationKey(std::string_view text, ProblemList& problems) {
  std::size_t number = 0;
  for (std::size_t begin = 0; begin < text.size();) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    const std::string line = GU::Trim(text.substr(begin, end - begin));
    begin = end + 1;
    ++number;
    if (line.empty() || line.front() == '#') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) {
      problems.Add("line " + std::to_string(number), "not Name=Value: " + Quoted(line));
      continue;
    }
    const std::string name = GU::Trim(line.substr(0, equals));
    const std::string value = GU::Trim(line.substr(equals + 1));
    const std::string element = "line " + std::to_string(number) + " " + Quoted(name);
    if (value.size() >= kMaxInstallationValueBytes) {
      problems.Add(element,
                   "the value has " + std::to_string(kMaxInstallationValueBytes) + " bytes or more and reads as empty");
    } else {
      problems.CheckValue(element, name, value, kKeySettings);
    }
  }
}

void CheckFile(DocumentKind kind, const std::string& path, bool mayBeMissing, ConfigurationProblems& problems) {
  std::string text;
  if (GU::ReadFile(path, text)) {
    ConfigurationProblems found = CheckDocument(kind, text, path);
    problems.insert(problems.end(), found.begin(), found.end());
  } else if (!mayBeMissing || GU::FileExists(path)) {
    problems.push_back({path, "", "cannot be read"});
  }
}

}  // namespace

std::string ConfigurationProblem::ToString() const {
  return file + ": " + (element.empty() ? std::string() : element + ": ") + message;
}

ConfigurationProblems CheckDocument(DocumentKind kind, std::string_view text, const std::string& file) {
  ConfigurationProblems found;
  ProblemList problems(file, found);
  switch (kind) {
    case DocumentKind::kInstallationKey:
      CheckInstallationKey(text, problems);
      break;
    case DocumentKind::kServerConfiguration:
      CheckConfiguration(text, kServerSettings, true, problems);
      break;
    case DocumentKind::kServices:
      CheckServices(text, problems);
      break;
    case DocumentKind::kProviderConfiguration:
      CheckConfiguration(text, kProviderSettings, false, problems);
      break;
  }
  return found;
}

ConfigurationProblems CheckInstallation() {
  ConfigurationProblems problems;
  CheckFile(DocumentKind::kInstallationKey, InstallationKeyPath(), false, problems);
  const std::string folder = InstallationFolder(kHomeFolder) + "Server/";
  CheckFile(DocumentKind::kServerConfiguration, folder + "Pictora.PTSConfig", true, problems);
  CheckFile(DocumentKind::kServices, folder + "Pictora.Services", true, problems);
  GU::Globber globber;
  std::vector<std::string> providerFiles;
  if (globber.SetPattern(folder + "*.PTPConfig")) {
    while (const GU::FindData* found = globber.Next()) providerFiles.push_back(folder + found->name);
  }
  std::sort(providerFiles.begin(), providerFiles.end());
  for (const std::string& path : providerFiles) CheckFile(DocumentKind::kProviderConfiguration, path, false, problems);
  return problems;
}

}  // namespace Korvane::Pictora::Global
