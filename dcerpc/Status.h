// Status numbers of the RPC runtime (Windows' own numbers, so logs read as Windows operators
// know them), the texts we give them, and the exception that client calls throw.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace Korvane::Pictora::DceRpc {

// Win32 / RPC status numbers surfaced by the runtime.
namespace StatusCode {
inline constexpr uint32_t kOk = 0;
inline constexpr uint32_t kAccessDenied = 5;
inline constexpr uint32_t kInvalidHandle = 6;
inline constexpr uint32_t kOutOfMemory = 14;
inline constexpr uint32_t kServerOutOfMemory = 1130;
inline constexpr uint32_t kInvalidStringBinding = 1700;
inline constexpr uint32_t kProtseqNotSupported = 1703;
inline constexpr uint32_t kInvalidRpcProtseq = 1704;
inline constexpr uint32_t kInvalidEndpointFormat = 1706;
inline constexpr uint32_t kInvalidNetAddr = 1707;
inline constexpr uint32_t kAlreadyListening = 1713;
inline constexpr uint32_t kNotListening = 1715;
inline constexpr uint32_t kUnknownIf = 1717;
inline constexpr uint32_t kCantCreateEndpoint = 1720;
inline constexpr uint32_t kServerUnavailable = 1722;
inline constexpr uint32_t kServerTooBusy = 1723;
inline constexpr uint32_t kCallFailed = 1726;
inline constexpr uint32_t kCallFailedDne = 1727;
inline constexpr uint32_t kProtocolError = 1728;
inline constexpr uint32_t kUnsupportedTransSyn = 1730;
inline constexpr uint32_t kUnsupportedType = 1732;
inline constexpr uint32_t kInvalidTag = 1733;
inline constexpr uint32_t kInvalidBound = 1734;
inline constexpr uint32_t kDuplicateEndpoint = 1740;
inline constexpr uint32_t kProcnumOutOfRange = 1745;
inline constexpr uint32_t kUnknownAuthnService = 1747;
inline constexpr uint32_t kCannotSupport = 1764;
inline constexpr uint32_t kNoCallActive = 1725;
inline constexpr uint32_t kNullRefPointer = 1780;
inline constexpr uint32_t kBadStubData = 1783;
inline constexpr uint32_t kCallCancelled = 1818;
inline constexpr uint32_t kCommFailure = 1820;
inline constexpr uint32_t kUnsupportedAuthnLevel = 1821;
}  // namespace StatusCode

// Fault status values carried in fault PDUs (the protocol's own numbering).
namespace FaultStatus {
inline constexpr uint32_t kAccessDenied = 0x00000005;
inline constexpr uint32_t kNoCallActive = 0x000006BD;
inline constexpr uint32_t kBadStubData = 0x000006F7;
inline constexpr uint32_t kCommFailure = 0x1C010001;
inline constexpr uint32_t kOpRangeError = 0x1C010002;
inline constexpr uint32_t kUnknownIf = 0x1C010003;
inline constexpr uint32_t kProtoError = 0x1C01000B;
inline constexpr uint32_t kServerTooBusy = 0x1C010014;
inline constexpr uint32_t kFaultUnspec = 0x1C000012;
inline constexpr uint32_t kRemoteNoMemory = 0x1C00001B;
}  // namespace FaultStatus

// The text of a status number from our own table; "Unknown error N." for numbers not in it.
std::string StatusText(uint32_t code);

// The operating system's text for an errno value.
std::string SystemErrorText(int errnoValue);

// The Win32 status a client reports for a fault PDU's status; unmapped values pass through.
uint32_t FaultToStatus(uint32_t faultStatus);

// The outcome of a runtime operation that reports a status instead of throwing.
struct RpcStatus {
  uint32_t code = 0;
  std::string text;  // StatusText(code), or the operating system's text for an OS failure
  bool ok() const { return code == 0; }
};

// Thrown by client calls. status() is the Windows status number; what() is its text, possibly
// followed by a detail.
class RpcError : public std::runtime_error {
 public:
  explicit RpcError(uint32_t status, const std::string& detail = {});
  uint32_t status() const { return status_; }

 private:
  uint32_t status_;
};

}  // namespace Korvane::Pictora::DceRpc
