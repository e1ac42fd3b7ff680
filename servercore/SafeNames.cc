#include "servercore/SafeNames.h"

#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;

bool IsSafeServiceName(std::string_view name, std::string& reason) {
  if (name.find('\0') != std::string_view::npos) {
    reason = "the name holds a NUL character";
    return false;
  }
  const std::string trimmed = GU::Trim(name);
  if (!trimmed.empty() && (trimmed.front() == '/' || trimmed.front() == '\\')) {
    reason = "the name is an absolute path";
    return false;
  }
  for (const std::string& piece : GU::Tokenize(trimmed, "\\/")) {
    if (GU::Trim(piece) == "..") {
      reason = "the name leads out of its folder (\"..\")";
      return false;
    }
  }
  return true;
}

bool IsSafeProviderName(std::string_view name, std::string& reason) {
  if (!IsSafeServiceName(name, reason)) return false;
  const std::string trimmed = GU::Trim(name);
  if (trimmed.empty() || trimmed == "." || trimmed == "..") {
    reason = "the name is empty";
    return false;
  }
  if (trimmed.find_first_of("/\\") != std::string::npos) {
    reason = "the name holds a path separator";
    return false;
  }
  return true;
}

}  // namespace Korvane::Pictora::ServerCore
