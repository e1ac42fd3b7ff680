#include "servercore/ServicesFile.h"

#include "servercore/ServicesDocument.h"
#include "util/FileUtil.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
void ServicesFile::Open(const std::string& serverFolder) {
  serverFolder_ = serverFolder;
  path_ = serverFolder.empty() ? std::string() : serverFolder + ServicesDocument::kFileName;
  if (path_.empty() || GU::FileExists(path_)) return;
  if (!GU::WriteFileAtomically(path_, ServicesDocument::EmptyText())) path_.clear();
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
  ServiceEntries entries;
  GU::Status ignored;
  if (!ServicesDocument::Read(path_, entries, ignored)) return false;
  for (const ServiceEntry& entry : entries) {
    ServiceDefinition definition;
    definition.name = entry.fields.Get("Name");
    if (definition.name.empty()) continue;
    definition.source = entry.fields.Get("Source");
    definition.state = entry.fields.Get("State");
    definition.application = entry.application;
    definition.serviceProvidersText = GU::Trim(entry.fields.Get("ServiceProviders"));
    definition.allocatedOn = GU::Tokenize(definition.serviceProvidersText, ",;");
    definitions.push_back(std::move(definition));
  }
  return true;
}

std::string ServicesFile::ServicesFor(const std::string& path, const std::string& providerName) {
  ServiceEntries entries;
  GU::Status ignored;
  if (!ServicesDocument::Read(path, entries, ignored)) return std::string();
  std::string out = "<Pictora><Services>";
  for (const ServiceEntry& entry : entries) {
    if (!GU::ParseBool(entry.fields.Get("State"), true)) continue;
    const std::vector<std::string> providers = GU::Tokenize(entry.fields.Get("ServiceProviders"), ";,");
    bool meant = providers.empty();
    for (const std::string& provider : providers) meant = meant || GU::Equals(provider, providerName, true);
    if (meant) out += entry.fields.ToXmlString("Service");
  }
  return out + "</Services></Pictora>";
}

}  // namespace Korvane::Pictora::ServerCore
