// How the administration answers a failure: the entry is added to the operation's status record
// and the whole record is written as status XML into the caller's status argument.
#pragma once

#include <cstdint>
#include <string>

#include "util/Status.h"

namespace Korvane::Pictora::ServerCore {

// Always false, so that an operation can `return Fail(...)`.
inline bool Fail(GeneralUtilityLib::Status& status, std::uint32_t code, const std::string& message,
                 std::string& statusXml) {
  status.Add(code, message);
  statusXml = status.ToXml();
  return false;
}

}  // namespace Korvane::Pictora::ServerCore
