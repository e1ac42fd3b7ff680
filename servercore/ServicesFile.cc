#include "servercore/ServicesFile.h"

#include "global/NameValueMap.h"
#include "servercore/RegistryKeyLess.h"
#include "util/FileUtil.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
namespace {

constexpr const char* kFileName = "Pictora.Services";
constexpr const char* kEntries = "//Services/*";
constexpr const char* kEmptyFile =
    "<?xml version=\"1.0\" standalone=\"yes\"?>\n<Pictora><Server><Services>\n"
    "</Services></Server></Pictora>";

// The entry at the document's current node, as a name/value map with its name in normal form.
Global::NameValueMap CurrentEntry(GU::XmlDocument& document, std::string& markup) {
  markup = document.GetNodeXml();
  Global::NameValueMap entry;
  entry.LoadXml(markup, "//Service");
  return entry;
}

}  // namespace

void ServicesFile::Open(const std::string& serverFolder) {
  serverFolder_ = serverFolder;
  path_ = serverFolder.empty() ? std::string() : serverFolder + kFileName;
  if (path_.empty() || GU::FileExists(path_)) return;
  if (!GU::WriteFileAtomically(path_, kEmptyFile)) path_.clear();
}

bool ServicesFile::Refresh(Registry& registry) {
  // Every change rewrites the file whole (a new inode), so device, inode, size and the
  // nanosecond modification time together tell an unchanged file.
  const FileStamp stamp = FileStamp::Of(path_);
  if (!(stamp == stamp_)) {
    std::vector<ServiceDefinition> definitions;
    if (!Read(definitions)) return false;
    registry.ReplaceDefinitions(std::move(definitions));
    // A file changed within the last clock ticks is read again next time.
    stamp_ = stamp.Settled() ? stamp : FileStamp();
    allocatedGeneration_ = 0;
  }
  const std::vector<std::string>& configured = ConfiguredProviders();
  if (configured_.Generation() != allocatedGeneration_) {
    registry.AllocateUnassigned(configured);
    allocatedGeneration_ = configured_.Generation();
  }
  return true;
}

const std::vector<std::string>& ServicesFile::ConfiguredProviders() { return configured_.Names(serverFolder_); }

bool ServicesFile::Read(std::vector<ServiceDefinition>& definitions) const {
  GU::XmlDocument document;
  if (path_.empty() || !document.LoadFile(path_)) return false;
  const long count = document.CountChildren("//Services");
  for (long i = 0; i < count; ++i) {
    if (!document.SelectNode(kEntries, static_cast<std::size_t>(i))) continue;
    std::string markup;
    const Global::NameValueMap entry = CurrentEntry(document, markup);
    ServiceDefinition definition;
    definition.name = NormalizeServiceName(entry.Get("Name"));
    if (definition.name.empty()) continue;
    definition.source = entry.Get("Source");
    definition.state = entry.Get("State");
    GU::XmlDocument own;
    if (own.LoadXml(markup)) definition.application = own.GetText("/*/Properties/Application", "");
    definition.serviceProvidersText = GU::Trim(entry.Get("ServiceProviders"));
    definition.allocatedOn = GU::Tokenize(definition.serviceProvidersText, ",;");
    definitions.push_back(std::move(definition));
  }
  return true;
}

std::string ServicesFile::ServicesFor(const std::string& path, const std::string& providerName) {
  GU::XmlDocument document;
  if (path.empty() || !document.LoadFile(path)) return std::string();
  std::string out = "<Pictora><Services>";
  const long count = document.CountChildren("//Services");
  for (long i = 0; i < count; ++i) {
    if (!document.SelectNode(kEntries, static_cast<std::size_t>(i))) continue;
    std::string markup;
    Global::NameValueMap entry = CurrentEntry(document, markup);
    if (entry.Contains("Name")) entry["Name"] = NormalizeServiceName(entry.Get("Name"));
    if (!GU::ParseBool(entry.Get("State"), true)) continue;
    const std::vector<std::string> providers = GU::Tokenize(entry.Get("ServiceProviders"), ";,");
    bool meant = providers.empty();
    for (const std::string& provider : providers) meant = meant || GU::Equals(provider, providerName, true);
    if (meant) out += entry.ToXmlString("Service");
  }
  return out + "</Services></Pictora>";
}

}  // namespace Korvane::Pictora::ServerCore
