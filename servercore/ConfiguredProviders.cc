#include "servercore/ConfiguredProviders.h"

#include "util/FileUtil.h"
#include "util/Globber.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;

const std::vector<std::string>& ConfiguredProviders::Names(const std::string& serverFolder) {
  const FileStamp stamp = FileStamp::Of(serverFolder);
  if (folder_ == serverFolder && stamp == folderStamp_) return names_;
  Rescan(serverFolder);
  folder_ = serverFolder;
  // A folder changed within the last clock ticks is scanned again next time.
  folderStamp_ = stamp.Settled() ? stamp : FileStamp();
  ++generation_;
  return names_;
}

void ConfiguredProviders::Rescan(const std::string& serverFolder) {
  names_.clear();
  if (serverFolder.empty()) return;
  GU::Globber globber;
  if (!globber.SetPattern(serverFolder + "*.PTPConfig")) return;
  while (const GU::FindData* found = globber.Next()) {
    names_.push_back(GU::SplitFileName(found->name).first);
  }
}

}  // namespace Korvane::Pictora::ServerCore
