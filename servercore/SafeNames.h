// Names that come from the network and end up in file paths must stay inside their folder.
#pragma once

#include <string>
#include <string_view>

namespace Korvane::Pictora::ServerCore {

// A service name may name a sub-folder ("Folder/Name"), but no piece may be "..", it may not
// hold a NUL and may not be an absolute path. On false, reason says why.
bool IsSafeServiceName(std::string_view name, std::string& reason);

// A provider name becomes "<Server folder><name>.PTPConfig": besides the rules above it may
// hold no "/" or "\" at all, and may not be empty.
bool IsSafeProviderName(std::string_view name, std::string& reason);

}  // namespace Korvane::Pictora::ServerCore
