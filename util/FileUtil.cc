#include "util/FileUtil.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <cstdlib>
#include <vector>

#include "util/TextUtil.h"

namespace Korvane::Pictora::GeneralUtilityLib {

namespace {

constexpr mode_t kNewFileMode = 0644;
constexpr mode_t kNewFolderMode = 0755;

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

mode_t ModeToKeep(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return info.st_mode & 07777;
  return kNewFileMode;
}

// Makes the rename itself durable; a failure here does not undo the completed write.
void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::string FolderFromEnvironment(const char* variable, const std::string& fallback) {
  const char* value = std::getenv(variable);
  std::string folder = (value != nullptr && *value != '\0') ? std::string(value) : fallback;
  if (!folder.empty() && !EndsWith(folder, "/")) folder += '/';
  return folder;
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool CreateDirectories(std::string_view path) {
  std::string normal(path);
  Replace(normal, "\\", "/");
  const std::vector<std::string> pieces = Tokenize(normal, "/");
  if (pieces.empty()) return false;
  std::string current = StartsWith(normal, "/") ? "" : ".";
  for (const std::string& piece : pieces) {
    current += '/';
    current += piece;
    if (IsDirectory(current)) continue;
    if (::mkdir(current.c_str(), kNewFolderMode) != 0 && !(errno == EEXIST && IsDirectory(current))) {
      return false;
    }
  }
  return true;
}

std::pair<std::string, std::string> SplitPath(std::string_view path) {
  const std::string_view limited = path.substr(0, kMaxPath);
  const std::size_t slash = limited.rfind('/');
  if (slash == std::string_view::npos) return {std::string(), std::string(limited)};
  return {std::string(limited.substr(0, slash + 1)), std::string(limited.substr(slash + 1))};
}

std::pair<std::string, std::string> SplitFileName(std::string_view path) {
  const std::string fileName = SplitPath(path).second;
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string::npos) return {fileName, std::string()};
  return {fileName.substr(0, dot), fileName.substr(dot + 1)};
}

std::string GetSpecialFolder(SpecialFolder folder) {
  switch (folder) {
    case SpecialFolder::CommonApplicationData:
      return FolderFromEnvironment("PICTORA_COMMON_APPDATA", "/var/lib");
    case SpecialFolder::PersonalDocuments: {
      const char* home = std::getenv("HOME");
      const std::string fallback =
          (home != nullptr && *home != '\0') ? std::string(home) + "/Documents" : std::string();
      return FolderFromEnvironment("PICTORA_DOCUMENTS", fallback);
    }
  }
  return {};
}

bool ReadFile(const std::string& path, std::string& content) {
  // Names can come from the network (XML input that happens to name a file): a FIFO must not
  // block the caller, nor a device feed it without end, so only regular files are read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  std::string data;
  char buffer[65536];
  bool ok = true;
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    data.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  if (ok) content = std::move(data);
  return ok;
}

bool WriteFileAtomically(const std::string& path, std::string_view content) {
  // The temporary file sits beside the target so that the rename stays in one file system.
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = path.substr(folder.size());
  if (name.empty()) return false;
  std::string temporary = folder + "." + name + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  const bool written = ::fchmod(fd, ModeToKeep(path)) == 0 && WriteAll(fd, content) &&
                       ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  SyncFolder(folder.empty() ? "." : folder);
  return true;
}

int RemoveStaleTemporaries(const std::string& folder, const std::vector<std::string_view>& extensions) {
  std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.c_str()), &::closedir);
  if (!listing) return 0;
  int removed = 0;
  while (const dirent* entry = ::readdir(listing.get())) {
    // "." + the target's name + "." + the six characters mkstemp chose.
    const std::string_view name = entry->d_name;
    if (entry->d_type != DT_REG || name.size() < 9 || name[0] != '.' || name[name.size() - 7] != '.') continue;
    const std::string_view target = name.substr(1, name.size() - 8);
    if (std::none_of(extensions.begin(), extensions.end(), [&](std::string_view e) { return target.ends_with(e); })) {
      continue;
    }
    if (::unlinkat(::dirfd(listing.get()), entry->d_name, 0) == 0) ++removed;
  }
  return removed;
}

}  // namespace Korvane::Pictora::GeneralUtilityLib
