// Internal: runs one reassembled call: decodes the request stub, calls the handler and encodes
// the response stub, turning every failure into the fault status the caller should see.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "dcerpc/ByteBudget.h"
#include "dcerpc/Interface.h"
#include "dcerpc/PduCodec.h"

namespace Korvane::Pictora::DceRpc {

struct CallOutcome {
  uint32_t faultStatus = 0;              // 0: success, the response stub is written
  FaultRun run = FaultRun::kMayHaveRun;  // kDidNotRun: the handler was never called
};

// Never throws. Writes the response stub into `responseStub` (replacing what it held).
// maxOutBytes caps each out-buffer size the caller may ask for. `replyCharge`, when given, is
// grown to the most the reply can take before the handler runs; when that does not fit, the call
// fails as too busy without running.
CallOutcome ExecuteCall(const Procedure& procedure, std::span<const uint8_t> requestStub, bool bigEndian,
                        const CallContext& context, size_t maxOutBytes, std::vector<uint8_t>& responseStub,
                        BudgetCharge* replyCharge = nullptr);

}  // namespace Korvane::Pictora::DceRpc
