#include "admin/ProviderFiles.h"

#include "util/FileUtil.h"
#include "util/Globber.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;

std::string StateRewriteText(const Global::NameValueMap& config) {
  return GU::Format(
      "<?xml version=\"1.0\" standalone=\"yes\"?>\n<Pictora><ServiceProvider>\n%s</ServiceProvider></Pictora>",
      config.ToXmlString("Config").c_str());
}

bool RewriteProviderFile(const std::string& path, const Global::NameValueMap& config) {
  GU::XmlDocument document;
  if (!document.LoadXml(StateRewriteText(config))) return false;
  try {
    return document.Save(path);
  } catch (const GU::XmlSaveError&) {
    return false;
  }
}

bool ListProviderNames(const std::string& folder, std::vector<std::string>& names, std::string& error) {
  names.clear();
  GU::Globber globber;
  if (folder.empty() || !globber.SetPattern(folder + "*.PTPConfig")) {
    error = GU::Format("Cannot list the provider configuration files of '%s'", folder.c_str());
    return false;
  }
  while (const GU::FindData* found = globber.Next()) names.push_back(GU::SplitFileName(found->name).first);
  return true;
}

}  // namespace Korvane::Pictora::ServerCore
