// Where the installation's files live: the installation key file and the numbered folders.
//
// The installation key is a text file of "Name=Value" lines at $PICTORA_REGISTRY_FILE
// (default /etc/korvane/pictora.conf). Each call reads it afresh; nothing is cached.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace Korvane::Pictora::Global {

inline constexpr int kHomeFolder = 9;
inline constexpr int kLogsFolder = 12;
// A value of the installation key this long or longer cannot be read (it reads as empty).
inline constexpr std::size_t kMaxInstallationValueBytes = 512;

// The installation key file's path: $PICTORA_REGISTRY_FILE or the default.
std::string InstallationKeyPath();
// A value of the installation key, or empty text when the file or the value is missing.
std::string ReadInstallationValue(std::string_view name);
// The same, but nothing when the file or the value is missing, so that a setting written empty
// can mean something else than a setting left out.
std::optional<std::string> FindInstallationValue(std::string_view name);
// The "Version" value, or "0.0.0.0" when missing or empty.
std::string InstalledVersion();
// Folder 0 to 20 as a path ending in "/" (empty text for any other number). Folder 9 is the
// home folder: <common application data>/Korvane/Pictora/.
std::string InstallationFolder(int number);

}  // namespace Korvane::Pictora::Global
