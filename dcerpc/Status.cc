#include "dcerpc/Status.h"

#include <cstring>
#include <unordered_map>

namespace Korvane::Pictora::DceRpc {

namespace {

const std::unordered_map<uint32_t, const char*>& TextTable() {
  static const std::unordered_map<uint32_t, const char*> table = {
      {0, "The operation completed successfully."},
      {5, "Access is denied."},
      {6, "The handle is invalid."},
      {14, "Not enough memory resources are available to complete this operation."},
      {87, "The parameter is incorrect."},
      {1130, "Not enough server storage is available to process this command."},
      {1700, "The string binding is invalid."},
      {1703, "The RPC protocol sequence is not supported."},
      {1704, "The RPC protocol sequence is invalid."},
      {1706, "The endpoint format is invalid."},
      {1707, "The network address is invalid."},
      {1713, "The RPC server is already listening."},
      {1715, "The RPC server is not listening."},
      {1717, "The interface is unknown."},
      {1720, "The endpoint cannot be created."},
      {1722, "The RPC server is unavailable."},
      {1723, "The RPC server is too busy to complete this operation."},
      {1725, "There are no remote procedure calls active on this thread."},
      {1726, "The remote procedure call failed."},
      {1727, "The remote procedure call failed and did not execute."},
      {1728, "A remote procedure call (RPC) protocol error occurred."},
      {1730, "The transfer syntax is not supported by the RPC server."},
      {1732, "The type UUID is not supported."},
      {1733, "The tag is invalid."},
      {1734, "The array bounds are invalid."},
      {1740, "The endpoint is a duplicate."},
      {1745, "The procedure number is out of range."},
      {1747, "The authentication service is unknown."},
      {1764, "The requested operation is not supported."},
      {1767, "The RPC server attempted an integer division by zero."},
      {1768, "An addressing error occurred in the RPC server."},
      {1769, "A floating-point operation at the RPC server caused a division by zero."},
      {1770, "A floating-point underflow occurred at the RPC server."},
      {1771, "A floating-point overflow occurred at the RPC server."},
      {1780, "A null reference pointer was passed to the stub."},
      {1783, "The stub received bad data."},
      {1818, "The remote procedure call was cancelled."},
      {1820, "A communications failure occurred during a remote procedure call."},
      {1821, "The requested authentication level is not supported."},
  };
  return table;
}

}  // namespace

std::string StatusText(uint32_t code) {
  const auto& table = TextTable();
  auto it = table.find(code);
  if (it != table.end()) return it->second;
  return "Unknown error " + std::to_string(code) + ".";
}

std::string SystemErrorText(int errnoValue) {
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(errnoValue, buffer, sizeof buffer);
  return text;
}

uint32_t FaultToStatus(uint32_t faultStatus) {
  switch (faultStatus) {
    case 0x1C010001: return StatusCode::kCommFailure;
    case 0x1C010002: return StatusCode::kProcnumOutOfRange;
    case 0x1C010003: return StatusCode::kUnknownIf;
    case 0x1C010009: return StatusCode::kCallFailed;
    case 0x1C01000B: return StatusCode::kProtocolError;
    case 0x1C010013: return StatusCode::kServerOutOfMemory;
    case 0x1C010014: return StatusCode::kServerTooBusy;
    case 0x1C010017: return StatusCode::kUnsupportedType;
    case 0x1C000001: return 1767;
    case 0x1C000002: return 1768;
    case 0x1C000003: return 1769;
    case 0x1C000004: return 1770;
    case 0x1C000005: return 1771;
    case 0x1C000006: return StatusCode::kInvalidTag;
    case 0x1C000007: return StatusCode::kInvalidBound;
    case 0x1C000008: return StatusCode::kProtocolError;
    case 0x1C000009: return StatusCode::kCallFailed;
    case 0x1C00000A: return StatusCode::kCallFailedDne;
    case 0x1C00000C: return StatusCode::kCallFailedDne;
    case 0x1C00000D: return StatusCode::kCallCancelled;
    case 0x1C000012: return StatusCode::kCallFailed;
    case 0x1C00001A: return StatusCode::kInvalidHandle;
    case 0x1C00001B: return StatusCode::kServerOutOfMemory;
    case 0x1C00001C: return StatusCode::kProtocolError;
    case 0x1C00001D: return StatusCode::kUnsupportedAuthnLevel;
    default: return faultStatus;
  }
}

RpcError::RpcError(uint32_t status, const std::string& detail)
    : std::runtime_error(detail.empty() ? StatusText(status) : StatusText(status) + " (" + detail + ")"),
      status_(status) {}

}  // namespace Korvane::Pictora::DceRpc
