#include "dcerpc/CallExecutor.h"

#include <new>

#include "dcerpc/Ndr.h"
#include "dcerpc/Status.h"

namespace Korvane::Pictora::DceRpc {

CallOutcome ExecuteCall(const Procedure& procedure, std::span<const uint8_t> requestStub, bool bigEndian,
                        const CallContext& context, size_t maxOutBytes) {
  CallOutcome outcome;
  try {
    Arguments args;
    switch (DecodeRequestStub(procedure.spec, requestStub, bigEndian, maxOutBytes, args)) {
      case NdrStatus::kOk: break;
      case NdrStatus::kBadStubData: outcome.faultStatus = FaultStatus::kBadStubData; return outcome;
      case NdrStatus::kTooLarge: outcome.faultStatus = FaultStatus::kRemoteNoMemory; return outcome;
    }
    try {
      if (procedure.handler) procedure.handler(context, args);
    } catch (const CallRefused& refused) {
      outcome.faultStatus = refused.faultStatus() != 0 ? refused.faultStatus() : FaultStatus::kFaultUnspec;
      return outcome;
    } catch (...) {
      outcome.faultStatus = FaultStatus::kFaultUnspec;
      return outcome;
    }
    EncodeResponseStub(procedure.spec, args, outcome.stub);
  } catch (const std::bad_alloc&) {
    outcome.stub.clear();
    outcome.faultStatus = FaultStatus::kRemoteNoMemory;
  } catch (...) {
    outcome.stub.clear();
    outcome.faultStatus = FaultStatus::kFaultUnspec;
  }
  return outcome;
}

}  // namespace Korvane::Pictora::DceRpc
