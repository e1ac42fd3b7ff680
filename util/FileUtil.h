// File and path functions. Paths use "/" as separator; a path of 260 characters or more
// is refused where the system applies that limit.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Korvane::Pictora::GeneralUtilityLib {

inline constexpr std::size_t kMaxPath = 260;

// The platform folders the system asks for (see the README's environment variables).
enum class SpecialFolder {
  CommonApplicationData,  // $PICTORA_COMMON_APPDATA, default /var/lib
  PersonalDocuments,      // $PICTORA_DOCUMENTS, default $HOME/Documents
};

bool FileExists(const std::string& path);
// Creates every missing folder of the path ("\" taken as "/"; a relative path below the
// working folder), mode 0755. True when all exist as folders afterwards.
bool CreateDirectories(std::string_view path);
// (folder with its trailing "/", file name with extension).
std::pair<std::string, std::string> SplitPath(std::string_view path);
// (file name without extension, extension without its dot).
std::pair<std::string, std::string> SplitFileName(std::string_view path);
// The folder's path ending in "/", or empty text when it is unknown.
std::string GetSpecialFolder(SpecialFolder folder);

// Reads a whole regular file; false when it cannot be read or is no regular file.
bool ReadFile(const std::string& path, std::string& content);
// Writes content to a temporary file in the same folder, flushes it and renames it over path,
// so that a crash never leaves half a file. The file keeps its permission bits (a new one gets
// 0644). False on any failure (the old file then stays, the temporary one is removed).
bool WriteFileAtomically(const std::string& path, std::string_view content);
// Removes the temporary files WriteFileAtomically leaves in folder when the process dies between
// creating one and renaming it, for targets whose names end in one of `extensions`; the number
// removed.
int RemoveStaleTemporaries(const std::string& folder, const std::vector<std::string_view>& extensions);

}  // namespace Korvane::Pictora::GeneralUtilityLib
