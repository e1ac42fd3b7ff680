// Test helpers: a temporary folder removed at the end, and an environment variable set for
// the length of a scope.
#pragma once

#include <optional>
#include <string>

namespace Korvane::Pictora::Global::Testing {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder's path, ending in "/".
  const std::string& Path() const { return path_; }
  // Writes a file below the folder and returns its full path.
  std::string WriteFile(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

std::string ReadWholeFile(const std::string& path);

}  // namespace Korvane::Pictora::Global::Testing
