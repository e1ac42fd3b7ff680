// Walks the files matching a pattern ("folder/*.ext") in one folder.
#pragma once

#include <cstdint>
#include <ctime>
#include <deque>
#include <string>
#include <string_view>

namespace Korvane::Pictora::GeneralUtilityLib {

// The entry handed out by Globber::Next.
struct FindData {
  std::string name;       // file name with extension
  std::string path;       // full path
  std::time_t lastWriteTime = 0;
  std::uint64_t size = 0;
};

class Globber {
 public:
  Globber();
  virtual ~Globber() = default;

  bool Reset();
  // Wildcards ("*", "?") are allowed in the file name only. A pattern without wildcard names
  // one existing file. False when walking cannot start.
  bool SetPattern(std::string_view pattern);
  // The next matching file (never a folder), or nullptr when the walk is over. Files of one
  // folder come in name order (byte order) before the next folder is scanned; symbolic links
  // to folders are not taken for folders. "[" and "]" in the pattern match themselves.
  const FindData* Next();

 private:
  // Queues the matching files of currentDirectory_.
  void ScanCurrentDirectory();

  FindData findData_;
  std::string currentDirectory_;
  std::string directoryPart_;
  std::string namePattern_;
  bool singleFile_ = false;
  std::deque<std::string> pendingDirectories_;
  std::deque<std::string> pendingFiles_;
};

}  // namespace Korvane::Pictora::GeneralUtilityLib
