// Internal: encoding and decoding of the connection-oriented PDUs. Pure functions over byte
// buffers, safe on hostile input: decoders check every length against the PDU before reading
// and never allocate from a count the PDU cannot back. Encoders always write little-endian,
// ASCII, IEEE (drep 10 00 00 00).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dcerpc/Uuid.h"

namespace Korvane::Pictora::DceRpc {

namespace PduType {
inline constexpr uint8_t kRequest = 0;
inline constexpr uint8_t kResponse = 2;
inline constexpr uint8_t kFault = 3;
inline constexpr uint8_t kBind = 11;
inline constexpr uint8_t kBindAck = 12;
inline constexpr uint8_t kBindNak = 13;
inline constexpr uint8_t kAlterContext = 14;
inline constexpr uint8_t kAlterContextResp = 15;
inline constexpr uint8_t kAuth3 = 16;
inline constexpr uint8_t kShutdown = 17;
inline constexpr uint8_t kCoCancel = 18;
inline constexpr uint8_t kOrphaned = 19;
}  // namespace PduType

namespace PfcFlag {
inline constexpr uint8_t kFirstFrag = 0x01;
inline constexpr uint8_t kLastFrag = 0x02;
inline constexpr uint8_t kPendingCancel = 0x04;
inline constexpr uint8_t kConcMpx = 0x10;
inline constexpr uint8_t kDidNotExecute = 0x20;
inline constexpr uint8_t kMaybe = 0x40;
inline constexpr uint8_t kObjectUuid = 0x80;
}  // namespace PfcFlag

// p_cont_def_result_t and p_provider_reason_t values.
namespace ContextResultCode {
inline constexpr uint16_t kAcceptance = 0;
inline constexpr uint16_t kProviderRejection = 2;
inline constexpr uint16_t kNegotiateAck = 3;
}  // namespace ContextResultCode
namespace ProviderReason {
inline constexpr uint16_t kNotSpecified = 0;
inline constexpr uint16_t kAbstractSyntaxNotSupported = 1;
inline constexpr uint16_t kTransferSyntaxesNotSupported = 2;
inline constexpr uint16_t kLocalLimitExceeded = 3;
}  // namespace ProviderReason
namespace BindNakReason {
inline constexpr uint16_t kNotSpecified = 0;
inline constexpr uint16_t kTemporaryCongestion = 1;
inline constexpr uint16_t kLocalLimitExceeded = 2;
inline constexpr uint16_t kProtocolVersionNotSupported = 4;
inline constexpr uint16_t kAuthTypeNotRecognized = 8;
inline constexpr uint16_t kInvalidChecksum = 9;
}  // namespace BindNakReason

inline constexpr size_t kHeaderSize = 16;
inline constexpr size_t kRequestHeaderSize = 24;
inline constexpr size_t kResponseHeaderSize = 24;
inline constexpr size_t kFaultPduSize = 32;
// Fragment limits per transport; also the largest request fragment accepted.
inline constexpr uint16_t kTcpFragmentCap = 5840;
inline constexpr uint16_t kPipeFragmentCap = 4280;
inline constexpr uint16_t kMinFragmentSize = 2048;

struct PduHeader {
  uint8_t type = 0;
  uint8_t flags = 0;
  std::array<uint8_t, 4> drep{};
  uint16_t fragLength = 0;
  uint16_t authLength = 0;
  uint32_t callId = 0;

  bool BigEndian() const { return (drep[0] & 0xF0) == 0; }
};

enum class HeaderCheck { kOk, kBadVersion, kBadDrep, kBadLength };

// Decodes and validates the first 16 bytes of a PDU: version 5.0, integer order big or little,
// ASCII characters, IEEE floats, frag_length >= 16 and auth_length within it.
HeaderCheck DecodeHeader(std::span<const uint8_t, kHeaderSize> bytes, PduHeader& header);

struct ContextElement {
  uint16_t contextId = 0;
  SyntaxId abstractSyntax;
  std::vector<SyntaxId> transferSyntaxes;
};

// bind and alter_context.
struct BindPdu {
  uint16_t maxXmitFrag = 0;
  uint16_t maxRecvFrag = 0;
  uint32_t assocGroupId = 0;
  std::vector<ContextElement> contexts;
};

struct ContextResult {
  uint16_t result = 0;
  uint16_t reason = 0;
  SyntaxId transferSyntax;
};

// bind_ack and alter_context_resp.
struct BindAckPdu {
  uint16_t maxXmitFrag = 0;
  uint16_t maxRecvFrag = 0;
  uint32_t assocGroupId = 0;
  std::string secondaryAddress;  // without its NUL
  std::vector<ContextResult> results;
};

struct RequestPdu {
  uint32_t allocHint = 0;
  uint16_t contextId = 0;
  uint16_t opnum = 0;
  std::optional<Uuid> object;
  std::span<const uint8_t> stub;
};

struct ResponsePdu {
  uint32_t allocHint = 0;
  uint16_t contextId = 0;
  uint8_t cancelCount = 0;
  std::span<const uint8_t> stub;
};

struct FaultPdu {
  uint32_t allocHint = 0;
  uint16_t contextId = 0;
  uint8_t cancelCount = 0;
  uint8_t flags = 0;
  uint32_t status = 0;
};

// Decoders take the whole PDU (header included, exactly frag_length bytes) and its decoded
// header; they return false when the body is malformed. Stub spans point into `pdu`.
bool DecodeBind(std::span<const uint8_t> pdu, const PduHeader& header, BindPdu& bind);
bool DecodeBindAck(std::span<const uint8_t> pdu, const PduHeader& header, BindAckPdu& ack);
bool DecodeBindNak(std::span<const uint8_t> pdu, const PduHeader& header, uint16_t& reason);
bool DecodeRequest(std::span<const uint8_t> pdu, const PduHeader& header, RequestPdu& request);
bool DecodeResponse(std::span<const uint8_t> pdu, const PduHeader& header, ResponsePdu& response);
bool DecodeFault(std::span<const uint8_t> pdu, const PduHeader& header, FaultPdu& fault);

// Encoders append one or more complete PDUs to `out`.
void EncodeBind(uint8_t type, uint32_t callId, const BindPdu& bind, std::vector<uint8_t>& out);
void EncodeBindAck(uint8_t type, uint32_t callId, const BindAckPdu& ack, std::vector<uint8_t>& out);
void EncodeBindNak(uint32_t callId, uint16_t reason, std::vector<uint8_t>& out);
// Whether a fault tells the caller that the call never ran (safe to send again) or may have run.
enum class FaultRun : uint8_t { kMayHaveRun, kDidNotRun };
void EncodeFault(uint32_t callId, uint16_t contextId, uint32_t status, FaultRun run, std::vector<uint8_t>& out);
void EncodeHeaderOnly(uint8_t type, uint8_t flags, uint32_t callId, std::vector<uint8_t>& out);
// Splits the stub into request fragments of at most maxFrag bytes each.
void EncodeRequestFragments(uint32_t callId, uint16_t contextId, uint16_t opnum, std::span<const uint8_t> stub,
                            uint16_t maxFrag, std::vector<uint8_t>& out);
// Splits stub[from...] into response fragments of at most maxFrag bytes each, stopping once
// about outBytes are appended (at least one fragment); returns where it stopped.
size_t EncodeResponseFragments(uint32_t callId, uint16_t contextId, std::span<const uint8_t> stub, uint16_t maxFrag,
                               std::vector<uint8_t>& out, size_t from = 0, size_t outBytes = SIZE_MAX);

// The fragment size a server puts in both fields of its bind_ack.
uint16_t NegotiateFragmentSize(uint16_t maxXmitFrag, uint16_t maxRecvFrag, uint16_t transportCap);

// The syntax id of a bind-time feature negotiation element, and its feature bits; nullopt when
// the syntax is not one.
std::optional<uint16_t> BindTimeFeatures(const SyntaxId& transferSyntax);

}  // namespace Korvane::Pictora::DceRpc
