// Internal: runs one reassembled call: decodes the request stub, calls the handler and encodes
// the response stub, turning every failure into the fault status the caller should see.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "dcerpc/Interface.h"

namespace Korvane::Pictora::DceRpc {

struct CallOutcome {
  uint32_t faultStatus = 0;  // 0: success, `stub` holds the response stub
  std::vector<uint8_t> stub;
};

// Never throws. maxOutBytes caps each out-buffer size the caller may ask for.
CallOutcome ExecuteCall(const Procedure& procedure, std::span<const uint8_t> requestStub, bool bigEndian,
                        const CallContext& context, size_t maxOutBytes);

}  // namespace Korvane::Pictora::DceRpc
