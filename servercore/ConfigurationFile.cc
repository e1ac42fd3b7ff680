#include "servercore/ConfigurationFile.h"

#include "global/Installation.h"
#include "servercore/StatusCodes.h"
#include "util/FileUtil.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
namespace {

constexpr const char* kFileName = "Pictora.PTSConfig";
constexpr const char* kPipeEndpoint = "\\pipe\\KorvanePictora";

// One line, each tag preceded by as many tabs as its depth below Pictora.
std::string DefaultTemplate() {
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

bool Save(GU::XmlDocument& document, const std::string& path, std::string& saveError) {
  try {
    return document.Save(path);
  } catch (const GU::XmlSaveError& error) {
    saveError = error.what();
    return false;
  }
}

}  // namespace

std::string ConfigurationText(const std::string& declaration, const std::string& definitions,
                              const GU::ElementList& config, const GU::ElementList& allowLists) {
  constexpr const char* kAllowLists = "LicenseManager";
  const auto allowListsElement = [&](const std::string& name) {
    return "<" + name + ">" + GU::ListToXml(allowLists) + "</" + name + ">\n";
  };
  std::string values;
  for (const GU::ElementList::Pair& pair : config.Pairs()) {
    if (GU::Equals(pair.first, kAllowLists, true)) {
      values += allowListsElement(pair.first);
      continue;
    }
    GU::ElementList one;
    one[pair.first] = pair.second;
    values += GU::ListToXml(one);
  }
  if (!config.Contains(kAllowLists)) values += allowListsElement(kAllowLists);
  return GU::Format("%s\n<Pictora>\n%s\n<Server><Config>%s</Config></Server></Pictora>", declaration.c_str(),
                    definitions.c_str(), values.c_str());
}

void ConfigurationFile::Open(const std::string& serverFolder, std::string& saveError) {
  // Without a Server folder there is no place for the file: the configuration then fails to
  // read instead of landing in the working directory.
  path_ = serverFolder.empty() ? std::string() : serverFolder + kFileName;
  if (path_.empty()) return;
  GU::XmlDocument document;
  if (!GU::FileExists(path_) && (!document.LoadXml(DefaultTemplate()) || !Save(document, path_, saveError))) {
    path_.clear();
    return;
  }
  if (!handle_) handle_.reset(std::fopen(path_.c_str(), "re"));
}

void ConfigurationFile::ApplyEndpoint(const std::string& endpoint, std::string& saveError) {
  GU::XmlDocument document;
  if (path_.empty() || !document.LoadFile(path_)) return;
  GU::ElementList config = GU::NodesToList(document, "//Config/*");
  const GU::ElementList licenseManager = GU::NodesToList(document, "//LicenseManager/*");
  config["Endpoint"] = endpoint;
  if (!document.SelectNode("//", 0)) return;
  const std::string declaration = document.GetNodeXml();
  if (!document.SelectNode("//Pictora/X_DEF", 0)) return;
  const std::string definitions = document.GetNodeXml();
  if (document.LoadXml(ConfigurationText(declaration, definitions, config, licenseManager))) {
    Save(document, path_, saveError);
  }
}

bool ConfigurationFile::Load(GU::XmlDocument& document, GU::Status& status) const {
  if (!path_.empty() && document.LoadFile(path_)) return true;
  status.AddAll(document.GetStatus());
  status.AddFront(kStatusConfigurationError, GU::Format("Failed to read configuration xml: %s", path_.c_str()));
  return false;
}

bool ConfigurationFile::Read(GU::ElementList& values, GU::Status& status) const {
  GU::XmlDocument document;
  if (!Load(document, status)) return false;
  values = GU::NodesToList(document, "//Pictora/Server/Config/*");
  const bool authentication = values.GetBool("ActivateAuthentication", false);
  values["Version"] = Global::InstalledVersion();
  values["ServerType"] = "undefined";
  values["Protocol"] = authentication ? "ncacn_np" : "ncacn_ip_tcp";
  if (authentication) values["Endpoint"] = kPipeEndpoint;
  return true;
}

bool ConfigurationFile::ReadLogsFolder(std::string& folder, GU::Status& status) const {
  GU::XmlDocument document;
  if (!Load(document, status)) return false;
  folder = document.GetText("//LogsFolder", "");
  return true;
}

}  // namespace Korvane::Pictora::ServerCore
