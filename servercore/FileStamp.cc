#include "servercore/FileStamp.h"

#include <sys/stat.h>

namespace Korvane::Pictora::ServerCore {
namespace {

constexpr std::time_t kSettleSeconds = 2;

}  // namespace

FileStamp FileStamp::Of(const std::string& path) {
  FileStamp stamp;
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return stamp;
  stamp.valid = true;
  stamp.device = info.st_dev;
  stamp.inode = info.st_ino;
  stamp.size = info.st_size;
  stamp.modified = info.st_mtim;
  return stamp;
}

bool FileStamp::operator==(const FileStamp& other) const {
  return valid && other.valid && device == other.device && inode == other.inode &&
         size == other.size && modified.tv_sec == other.modified.tv_sec &&
         modified.tv_nsec == other.modified.tv_nsec;
}

bool FileStamp::Settled() const {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return valid && modified.tv_sec + kSettleSeconds < now.tv_sec;
}

}  // namespace Korvane::Pictora::ServerCore
