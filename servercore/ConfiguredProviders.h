// The names of the configured service providers: the base names of the "*.PTPConfig" files
// of the Server folder, in name order. The list is cached and read again only when the
// folder's modification time changed, so an unchanged folder costs one stat.
// Not thread-safe: the core uses it under its registry lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "servercore/FileStamp.h"

namespace Korvane::Pictora::ServerCore {

class ConfiguredProviders {
 public:
  // serverFolder ends in "/".
  const std::vector<std::string>& Names(const std::string& serverFolder);
  // Changes whenever Names returned a list different from the previous one's source.
  std::uint64_t Generation() const { return generation_; }

 private:
  void Rescan(const std::string& serverFolder);

  std::string folder_;
  FileStamp folderStamp_;
  std::uint64_t generation_ = 0;
  std::vector<std::string> names_;
};

}  // namespace Korvane::Pictora::ServerCore
