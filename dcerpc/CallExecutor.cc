#include "dcerpc/CallExecutor.h"

#include <new>

#include "dcerpc/Ndr.h"
#include "dcerpc/Status.h"

namespace Korvane::Pictora::DceRpc {

CallOutcome ExecuteCall(const Procedure& procedure, std::span<const uint8_t> requestStub, bool bigEndian,
                        const CallContext& context, size_t maxOutBytes, std::vector<uint8_t>& responseStub,
                        BudgetCharge* replyCharge) {
  responseStub.clear();
  try {
    Arguments args;
    switch (DecodeRequestStub(procedure.spec, requestStub, bigEndian, maxOutBytes, args)) {
      case NdrStatus::kOk:
        break;
      case NdrStatus::kBadStubData:
        return {FaultStatus::kBadStubData, FaultRun::kMayHaveRun};
      case NdrStatus::kTooLarge:
        return {FaultStatus::kRemoteNoMemory, FaultRun::kMayHaveRun};
    }
    // Out buffers are sized by the caller: make sure the reply fits before doing the work.
    if (replyCharge != nullptr && !replyCharge->Resize(ResponseStubBound(procedure.spec, args)))
      return {FaultStatus::kServerTooBusy, FaultRun::kDidNotRun};
    try {
      if (procedure.handler) procedure.handler(context, args);
    } catch (const CallRefused& refused) {
      return {refused.faultStatus() != 0 ? refused.faultStatus() : FaultStatus::kFaultUnspec, FaultRun::kMayHaveRun};
    } catch (...) {
      return {FaultStatus::kFaultUnspec, FaultRun::kMayHaveRun};
    }
    EncodeResponseStub(procedure.spec, args, responseStub);
  } catch (const std::bad_alloc&) {
    responseStub.clear();
    return {FaultStatus::kRemoteNoMemory, FaultRun::kMayHaveRun};
  } catch (...) {
    responseStub.clear();
    return {FaultStatus::kFaultUnspec, FaultRun::kMayHaveRun};
  }
  return {};
}

}  // namespace Korvane::Pictora::DceRpc
