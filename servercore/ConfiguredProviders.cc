#include "servercore/ConfiguredProviders.h"

#include <sys/stat.h>

#include "util/FileUtil.h"
#include "util/Globber.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;

const std::vector<std::string>& ConfiguredProviders::Names(const std::string& serverFolder) {
  struct stat info {};
  const bool statOk = ::stat(serverFolder.c_str(), &info) == 0;
  const bool unchanged = valid_ && statOk && folder_ == serverFolder &&
                         info.st_mtim.tv_sec == folderTime_.tv_sec &&
                         info.st_mtim.tv_nsec == folderTime_.tv_nsec;
  if (unchanged) return names_;
  Rescan(serverFolder);
  folder_ = serverFolder;
  valid_ = statOk;
  if (statOk) folderTime_ = info.st_mtim;
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
