#include "dcerpc/PduCodec.h"

#include <algorithm>

#include "dcerpc/ByteStream.h"

namespace Korvane::Pictora::DceRpc {

namespace {

constexpr size_t kContextElementFixedSize = 24;
constexpr size_t kSyntaxIdSize = 20;
constexpr size_t kResultSize = 24;

// The body of a PDU: after the header, before the auth verifier (if any).
ByteReader BodyReader(std::span<const uint8_t> pdu, const PduHeader& header) {
  size_t end = std::min<size_t>(pdu.size(), header.fragLength);
  size_t auth = header.authLength == 0 ? 0 : size_t{header.authLength} + 8;
  end = auth > end ? 0 : end - auth;
  return ByteReader(pdu.first(end), header.BigEndian());
}

void WriteHeader(ByteWriter& w, uint8_t type, uint8_t flags, uint32_t callId) {
  // Version 5.0, little-endian ASCII IEEE data representation; frag_length (bytes 8-9) is
  // patched by FinishPdu; no authentication. One append rather than one per field.
  const uint8_t header[kHeaderSize] = {5, 0, type, flags, 0x10, 0, 0, 0, 0, 0, 0, 0,
                                       static_cast<uint8_t>(callId), static_cast<uint8_t>(callId >> 8),
                                       static_cast<uint8_t>(callId >> 16), static_cast<uint8_t>(callId >> 24)};
  w.Bytes(header);
}

// Patches frag_length of the PDU that starts at `start` in `out`.
void FinishPdu(std::vector<uint8_t>& out, size_t start) {
  size_t length = out.size() - start;
  out[start + 8] = static_cast<uint8_t>(length);
  out[start + 9] = static_cast<uint8_t>(length >> 8);
}

uint16_t StubChunk(uint16_t maxFrag, size_t headerSize) {
  // Whole 16-byte blocks like other implementations; tiny sizes (tests) still make progress.
  size_t room = maxFrag > headerSize ? maxFrag - headerSize : 1;
  return static_cast<uint16_t>(room >= 16 ? room & ~size_t{15} : room);
}

}  // namespace

HeaderCheck DecodeHeader(std::span<const uint8_t, kHeaderSize> bytes, PduHeader& header) {
  if (bytes[0] != 5 || bytes[1] != 0) return HeaderCheck::kBadVersion;
  header.type = bytes[2];
  header.flags = bytes[3];
  std::copy(bytes.begin() + 4, bytes.begin() + 8, header.drep.begin());
  uint8_t order = header.drep[0] & 0xF0;
  uint8_t chars = header.drep[0] & 0x0F;
  if ((order != 0x00 && order != 0x10) || chars != 0 || header.drep[1] != 0) return HeaderCheck::kBadDrep;
  ByteReader reader(bytes.subspan(8), header.BigEndian());
  reader.ReadU16(header.fragLength);
  reader.ReadU16(header.authLength);
  reader.ReadU32(header.callId);
  if (header.fragLength < kHeaderSize) return HeaderCheck::kBadLength;
  if (header.authLength != 0 && size_t{header.authLength} + 8 > header.fragLength - kHeaderSize)
    return HeaderCheck::kBadLength;
  return HeaderCheck::kOk;
}

bool DecodeBind(std::span<const uint8_t> pdu, const PduHeader& header, BindPdu& bind) {
  ByteReader r = BodyReader(pdu, header);
  uint8_t count, reserved;
  uint16_t reserved16;
  if (!r.Skip(kHeaderSize) || !r.ReadU16(bind.maxXmitFrag) || !r.ReadU16(bind.maxRecvFrag) ||
      !r.ReadU32(bind.assocGroupId) || !r.ReadU8(count) || !r.ReadU8(reserved) || !r.ReadU16(reserved16))
    return false;
  if (size_t{count} * kContextElementFixedSize > r.Remaining()) return false;
  bind.contexts.clear();
  bind.contexts.reserve(count);
  for (uint8_t i = 0; i < count; ++i) {
    ContextElement element;
    uint8_t transfers;
    if (!r.ReadU16(element.contextId) || !r.ReadU8(transfers) || !r.ReadU8(reserved) ||
        !r.ReadSyntaxId(element.abstractSyntax))
      return false;
    if (size_t{transfers} * kSyntaxIdSize > r.Remaining()) return false;
    element.transferSyntaxes.resize(transfers);
    for (auto& syntax : element.transferSyntaxes) {
      if (!r.ReadSyntaxId(syntax)) return false;
    }
    bind.contexts.push_back(std::move(element));
  }
  return true;
}

bool DecodeBindAck(std::span<const uint8_t> pdu, const PduHeader& header, BindAckPdu& ack) {
  ByteReader r = BodyReader(pdu, header);
  uint16_t addressLength;
  if (!r.Skip(kHeaderSize) || !r.ReadU16(ack.maxXmitFrag) || !r.ReadU16(ack.maxRecvFrag) ||
      !r.ReadU32(ack.assocGroupId) || !r.ReadU16(addressLength))
    return false;
  std::span<const uint8_t> address;
  if (!r.ReadSpan(addressLength, address)) return false;
  ack.secondaryAddress.assign(address.begin(), std::find(address.begin(), address.end(), uint8_t{0}));
  uint8_t count, reserved;
  uint16_t reserved16;
  if (!r.Align(4) || !r.ReadU8(count) || !r.ReadU8(reserved) || !r.ReadU16(reserved16)) return false;
  if (size_t{count} * kResultSize > r.Remaining()) return false;
  ack.results.resize(count);
  for (auto& result : ack.results) {
    if (!r.ReadU16(result.result) || !r.ReadU16(result.reason) || !r.ReadSyntaxId(result.transferSyntax)) return false;
  }
  return true;
}

bool DecodeBindNak(std::span<const uint8_t> pdu, const PduHeader& header, uint16_t& reason) {
  ByteReader r = BodyReader(pdu, header);
  return r.Skip(kHeaderSize) && r.ReadU16(reason);
}

bool DecodeRequest(std::span<const uint8_t> pdu, const PduHeader& header, RequestPdu& request) {
  ByteReader r = BodyReader(pdu, header);
  if (!r.Skip(kHeaderSize) || !r.ReadU32(request.allocHint) || !r.ReadU16(request.contextId) ||
      !r.ReadU16(request.opnum))
    return false;
  request.object.reset();
  if (header.flags & PfcFlag::kObjectUuid) {
    Uuid object;
    if (!r.ReadUuid(object)) return false;
    request.object = object;
  }
  return r.ReadSpan(r.Remaining(), request.stub);
}

bool DecodeResponse(std::span<const uint8_t> pdu, const PduHeader& header, ResponsePdu& response) {
  ByteReader r = BodyReader(pdu, header);
  uint8_t reserved;
  if (!r.Skip(kHeaderSize) || !r.ReadU32(response.allocHint) || !r.ReadU16(response.contextId) ||
      !r.ReadU8(response.cancelCount) || !r.ReadU8(reserved))
    return false;
  return r.ReadSpan(r.Remaining(), response.stub);
}

bool DecodeFault(std::span<const uint8_t> pdu, const PduHeader& header, FaultPdu& fault) {
  ByteReader r = BodyReader(pdu, header);
  return r.Skip(kHeaderSize) && r.ReadU32(fault.allocHint) && r.ReadU16(fault.contextId) &&
         r.ReadU8(fault.cancelCount) && r.ReadU8(fault.flags) && r.ReadU32(fault.status);
}

void EncodeBind(uint8_t type, uint32_t callId, const BindPdu& bind, std::vector<uint8_t>& out) {
  size_t start = out.size();
  ByteWriter w(out);
  WriteHeader(w, type, PfcFlag::kFirstFrag | PfcFlag::kLastFrag, callId);
  w.U16(bind.maxXmitFrag);
  w.U16(bind.maxRecvFrag);
  w.U32(bind.assocGroupId);
  w.U8(static_cast<uint8_t>(bind.contexts.size()));
  w.U8(0);
  w.U16(0);
  for (const auto& element : bind.contexts) {
    w.U16(element.contextId);
    w.U8(static_cast<uint8_t>(element.transferSyntaxes.size()));
    w.U8(0);
    w.Syntax(element.abstractSyntax);
    for (const auto& syntax : element.transferSyntaxes) w.Syntax(syntax);
  }
  FinishPdu(out, start);
}

void EncodeBindAck(uint8_t type, uint32_t callId, const BindAckPdu& ack, std::vector<uint8_t>& out) {
  size_t start = out.size();
  ByteWriter w(out);
  WriteHeader(w, type, PfcFlag::kFirstFrag | PfcFlag::kLastFrag, callId);
  w.U16(ack.maxXmitFrag);
  w.U16(ack.maxRecvFrag);
  w.U32(ack.assocGroupId);
  if (ack.secondaryAddress.empty()) {
    w.U16(0);
  } else {
    w.U16(static_cast<uint16_t>(ack.secondaryAddress.size() + 1));
    w.Bytes({reinterpret_cast<const uint8_t*>(ack.secondaryAddress.data()), ack.secondaryAddress.size()});
    w.U8(0);
  }
  w.Align(4);
  w.U8(static_cast<uint8_t>(ack.results.size()));
  w.U8(0);
  w.U16(0);
  for (const auto& result : ack.results) {
    w.U16(result.result);
    w.U16(result.reason);
    w.Syntax(result.transferSyntax);
  }
  FinishPdu(out, start);
}

void EncodeBindNak(uint32_t callId, uint16_t reason, std::vector<uint8_t>& out) {
  size_t start = out.size();
  ByteWriter w(out);
  WriteHeader(w, PduType::kBindNak, PfcFlag::kFirstFrag | PfcFlag::kLastFrag, callId);
  w.U16(reason);
  w.U8(1);  // one supported protocol version: 5.0
  w.U8(5);
  w.U8(0);
  w.Zeros(3);
  FinishPdu(out, start);
}

void EncodeFault(uint32_t callId, uint16_t contextId, uint32_t status, FaultRun run, std::vector<uint8_t>& out) {
  size_t start = out.size();
  ByteWriter w(out);
  uint8_t flags =
      PfcFlag::kFirstFrag | PfcFlag::kLastFrag | (run == FaultRun::kDidNotRun ? PfcFlag::kDidNotExecute : 0);
  WriteHeader(w, PduType::kFault, flags, callId);
  w.U32(kFaultPduSize);
  w.U16(contextId);
  w.U8(0);
  w.U8(0);
  w.U32(status);
  w.U32(0);
  FinishPdu(out, start);
}

void EncodeHeaderOnly(uint8_t type, uint8_t flags, uint32_t callId, std::vector<uint8_t>& out) {
  size_t start = out.size();
  ByteWriter w(out);
  WriteHeader(w, type, flags, callId);
  FinishPdu(out, start);
}

namespace {

// Splits a stub into fragments of at most maxFrag bytes; writeFields writes the fields between
// the common header's alloc_hint and the stub bytes of each fragment.
template <typename WriteFields>
size_t EncodeFragments(uint8_t type, uint32_t callId, std::span<const uint8_t> stub, uint16_t maxFrag,
                       size_t headerSize, std::vector<uint8_t>& out, WriteFields writeFields, size_t from = 0,
                       size_t outBytes = SIZE_MAX) {
  const size_t chunk = StubChunk(maxFrag, headerSize);
  const size_t outStart = out.size();
  size_t offset = std::min(from, stub.size());
  do {
    size_t size = std::min(chunk, stub.size() - offset);
    uint8_t flags = (offset == 0 ? PfcFlag::kFirstFrag : 0) | (offset + size == stub.size() ? PfcFlag::kLastFrag : 0);
    size_t start = out.size();
    ByteWriter w(out);
    WriteHeader(w, type, flags, callId);
    w.U32(static_cast<uint32_t>(stub.size() - offset));
    writeFields(w);
    w.Bytes(stub.subspan(offset, size));
    FinishPdu(out, start);
    offset += size;
  } while (offset < stub.size() && out.size() - outStart < outBytes);
  return offset;
}

}  // namespace

void EncodeRequestFragments(uint32_t callId, uint16_t contextId, uint16_t opnum, std::span<const uint8_t> stub,
                            uint16_t maxFrag, std::vector<uint8_t>& out) {
  EncodeFragments(PduType::kRequest, callId, stub, maxFrag, kRequestHeaderSize, out, [&](ByteWriter& w) {
    w.U16(contextId);
    w.U16(opnum);
  });
}

size_t EncodeResponseFragments(uint32_t callId, uint16_t contextId, std::span<const uint8_t> stub, uint16_t maxFrag,
                               std::vector<uint8_t>& out, size_t from, size_t outBytes) {
  return EncodeFragments(
      PduType::kResponse, callId, stub, maxFrag, kResponseHeaderSize, out,
      [&](ByteWriter& w) {
        // Only the low byte of the context id fits the field, as Windows does it.
        w.U16(contextId & 0xFF);
        w.U8(0);  // cancel_count
        w.U8(0);  // reserved
      },
      from, outBytes);
}

uint16_t NegotiateFragmentSize(uint16_t maxXmitFrag, uint16_t maxRecvFrag, uint16_t transportCap) {
  uint16_t size = std::min(maxXmitFrag, maxRecvFrag);
  size = std::max(size, kMinFragmentSize);
  size = std::min(size, transportCap);
  return static_cast<uint16_t>(size & 0xFFF8);
}

std::optional<uint16_t> BindTimeFeatures(const SyntaxId& transferSyntax) {
  static const uint8_t kPrefix[8] = {0x6c, 0xb7, 0x1c, 0x2c, 0x98, 0x12, 0x45, 0x40};
  const auto& b = transferSyntax.uuid.bytes;
  if (!std::equal(kPrefix, kPrefix + 8, b.begin()) || transferSyntax.major != 1 || transferSyntax.minor != 0)
    return std::nullopt;
  // Bytes 8-15 hold a little-endian bitmask; only the low two bits are defined.
  return static_cast<uint16_t>(b[8] | (b[9] << 8));
}

}  // namespace Korvane::Pictora::DceRpc
