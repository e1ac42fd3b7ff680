// What one stat says about a file or folder, to tell whether it changed since it was read.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <string>

namespace Korvane::Pictora::ServerCore {

struct FileStamp {
  bool valid = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  struct timespec modified {};

  // Invalid when the path cannot be stat'ed.
  static FileStamp Of(const std::string& path);
  // Equal stamps of valid paths.
  bool operator==(const FileStamp& other) const;
  // Whether the modification time lies far enough in the past to be trusted as a cache
  // key: the kernel stamps files with a coarse clock, so a second change within the same
  // tick keeps the time. Content read while its stamp is this recent is read again next time.
  bool Settled() const;
};

}  // namespace Korvane::Pictora::ServerCore
