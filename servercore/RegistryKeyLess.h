// The ordering of every registry map and the normal form of service names.
#pragma once

#include <string>
#include <string_view>

namespace Korvane::Pictora::ServerCore {

// Compares two keys after trimming white space at both ends and reading "\" as "/",
// ignoring ASCII letter case. So " Folder\Name " and "folder/NAME" are one key.
// Allocation-free; usable with heterogeneous lookup.
struct RegistryKeyLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

// True when RegistryKeyLess sees the two keys as one.
bool RegistryKeyEquals(std::string_view a, std::string_view b);

// Trims the text, splits it at every "\" and "/", drops empty pieces, trims each piece and
// joins the pieces with "/".
std::string NormalizeServiceName(std::string_view name);

}  // namespace Korvane::Pictora::ServerCore
