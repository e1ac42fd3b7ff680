#include "util/Globber.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "util/FileUtil.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::GeneralUtilityLib {

namespace {

bool HasWildcard(std::string_view text) { return text.find_first_of("*?") != std::string_view::npos; }

// Only "*" and "?" are wildcards in our patterns; brackets and backslashes match themselves.
std::string ToFnmatchPattern(std::string_view pattern) {
  std::string escaped;
  for (const char c : pattern) {
    if (c == '[' || c == ']' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

struct FolderEntry {
  std::string name;
  bool isDirectory = false;
};

// The folder's entries without "." and "..", sorted by name: the directory listing order of
// the platform is arbitrary, and callers see a stable, reproducible order this way. Symbolic
// links are not taken for folders.
std::vector<FolderEntry> ListFolder(const std::string& folder) {
  std::vector<FolderEntry> entries;
  const std::string listed = folder.empty() ? "." : folder;
  DIR* dir = ::opendir(listed.c_str());
  if (dir == nullptr) return entries;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    bool isDirectory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat info {};
      isDirectory = ::lstat((folder + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    entries.push_back({name, isDirectory});
  }
  ::closedir(dir);
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return entries;
}

}  // namespace

Globber::Globber() { Reset(); }

bool Globber::Reset() {
  pendingDirectories_.clear();
  pendingFiles_.clear();
  namePattern_.clear();
  directoryPart_.clear();
  singleFile_ = false;
  return true;
}

bool Globber::SetPattern(std::string_view pattern) {
  Reset();
  if (!HasWildcard(pattern)) {
    if (!FileExists(std::string(pattern))) return false;
    pendingFiles_.emplace_back(pattern);
    singleFile_ = true;
  }
  std::tie(directoryPart_, namePattern_) = SplitPath(pattern);
  if (HasWildcard(directoryPart_)) return false;
  pendingDirectories_.push_back(directoryPart_);
  return true;
}

const FindData* Globber::Next() {
  for (;;) {
    if (pendingFiles_.empty()) {
      if (pendingDirectories_.empty()) return nullptr;
      currentDirectory_ = pendingDirectories_.front();
      pendingDirectories_.pop_front();
      if (!singleFile_) ScanCurrentDirectory();
    }
    while (!pendingFiles_.empty()) {
      const std::string path = pendingFiles_.front();
      pendingFiles_.pop_front();
      struct stat info {};
      // A file may vanish or turn out to be a folder between listing and handing out.
      if (::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) continue;
      findData_.path = path;
      findData_.name = SplitPath(path).second;
      findData_.lastWriteTime = info.st_mtime;
      findData_.size = static_cast<std::uint64_t>(info.st_size);
      return &findData_;
    }
  }
}

void Globber::ScanCurrentDirectory() {
  const std::string pattern = ToFnmatchPattern(namePattern_);
  for (const FolderEntry& entry : ListFolder(currentDirectory_)) {
    if (!entry.isDirectory && ::fnmatch(pattern.c_str(), entry.name.c_str(), 0) == 0) {
      pendingFiles_.push_back(currentDirectory_ + entry.name);
    }
  }
}

}  // namespace Korvane::Pictora::GeneralUtilityLib
