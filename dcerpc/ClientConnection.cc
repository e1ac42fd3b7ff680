#include "dcerpc/ClientConnection.h"

#include <poll.h>

#include <algorithm>

#include "dcerpc/Status.h"

namespace Korvane::Pictora::DceRpc {

namespace {

constexpr uint16_t kBindPduLimit = 0xFFFF;

[[noreturn]] void ThrowIo(IoResult result, uint32_t lostStatus) {
  throw RpcError(result == IoResult::kTimeout ? StatusCode::kCallCancelled : lostStatus);
}

uint32_t BindNakStatus(uint16_t reason) {
  switch (reason) {
    case BindNakReason::kTemporaryCongestion:
    case BindNakReason::kLocalLimitExceeded: return StatusCode::kServerTooBusy;
    case BindNakReason::kProtocolVersionNotSupported: return StatusCode::kProtocolError;
    case BindNakReason::kAuthTypeNotRecognized: return StatusCode::kUnknownAuthnService;
    case BindNakReason::kInvalidChecksum: return StatusCode::kAccessDenied;
    default: return StatusCode::kCallFailedDne;
  }
}

}  // namespace

std::unique_ptr<ClientConnection> ClientConnection::Open(const Binding& binding, const SyntaxId& interface,
                                                         Clock::time_point deadline) {
  const auto& timeouts = binding.Timeouts();
  Listener connected;
  uint16_t cap;
  if (binding.ProtocolSequence() == "ncacn_np") {
    connected = ConnectPipe(PipeSocketPath(*ParsePipeEndpoint(binding.Endpoint())), timeouts.connect);
    cap = kPipeFragmentCap;
  } else {
    connected = ConnectTcp(binding.NetworkAddress(), *ParseTcpEndpoint(binding.Endpoint()), timeouts.connect,
                           binding.SourceAddress());
    cap = kTcpFragmentCap;
  }
  if (!connected.status.ok()) throw RpcError(connected.status.code, connected.status.text);
  std::unique_ptr<ClientConnection> connection(new ClientConnection(std::move(connected.fd), cap));
  connection->Bind(interface, deadline);
  return connection;
}

void ClientConnection::Bind(const SyntaxId& interface, Clock::time_point deadline) {
  BindPdu bind{maxRecvFrag_, maxRecvFrag_, 0, {ContextElement{0, interface, {Ndr20Syntax()}}}};
  std::vector<uint8_t> out;
  // Windows-runtime clients send the association's first request with the bind's call id; the
  // request takes it from nextCallId_ too.
  const uint32_t callId = associationCallId_ = nextCallId_;
  EncodeBind(PduType::kBind, callId, bind, out);
  // Nothing of a call has gone out yet: losing the connection here is "did not execute".
  IoResult written = WriteAll(fd_.Get(), out, deadline);
  if (written != IoResult::kOk) ThrowIo(written, StatusCode::kServerUnavailable);
  std::vector<uint8_t> pdu;
  PduHeader header;
  ReadPdu(pdu, header, kBindPduLimit, deadline, StatusCode::kServerUnavailable);
  if (header.type == PduType::kBindNak) {
    uint16_t reason = BindNakReason::kNotSpecified;
    DecodeBindNak(pdu, header, reason);
    throw RpcError(BindNakStatus(reason));
  }
  BindAckPdu ack;
  if (header.type != PduType::kBindAck || header.callId != callId || !DecodeBindAck(pdu, header, ack) ||
      ack.results.size() != 1)
    throw RpcError(StatusCode::kProtocolError);
  const ContextResult& result = ack.results[0];
  if (result.result != ContextResultCode::kAcceptance) {
    throw RpcError(result.reason == ProviderReason::kTransferSyntaxesNotSupported ? StatusCode::kUnsupportedTransSyn
                                                                                   : StatusCode::kUnknownIf);
  }
  maxXmitFrag_ = std::max<uint16_t>(std::min(ack.maxRecvFrag, maxRecvFrag_), 64);
}

CallReply ClientConnection::Call(uint16_t opnum, std::span<const uint8_t> stub, Clock::time_point deadline,
                                 size_t maxResponseBytes, bool& requestSent) {
  const uint32_t callId = nextCallId_++;
  std::vector<uint8_t> out;
  EncodeRequestFragments(callId, 0, opnum, stub, maxXmitFrag_, out);
  size_t written = 0;
  IoResult result = WriteAll(fd_.Get(), out, deadline, &written);
  requestSent = written > 0;
  if (result != IoResult::kOk) ThrowIo(result, requestSent ? StatusCode::kCallFailed : StatusCode::kCallFailedDne);
  return ReadReply(callId, maxResponseBytes, deadline);
}

bool ClientConnection::AnswersCall(uint32_t replyCallId, uint32_t requestCallId) const {
  return replyCallId == requestCallId || replyCallId == associationCallId_;
}

CallReply ClientConnection::ReadReply(uint32_t callId, size_t maxResponseBytes, Clock::time_point deadline) {
  CallReply reply;
  std::vector<uint8_t> pdu;
  bool first = true;
  uint32_t replyCallId = 0;
  while (true) {
    PduHeader header;
    ReadPdu(pdu, header, maxRecvFrag_, deadline, StatusCode::kCallFailed);
    if (header.type == PduType::kShutdown) throw RpcError(StatusCode::kCallFailed, "server shut the connection down");
    // Every fragment of one reply carries the call id of its first.
    if (first ? !AnswersCall(header.callId, callId) : header.callId != replyCallId)
      throw RpcError(StatusCode::kProtocolError);
    replyCallId = header.callId;
    if (header.type == PduType::kFault) {
      FaultPdu fault;
      if (!DecodeFault(pdu, header, fault)) throw RpcError(StatusCode::kProtocolError);
      reply.fault = true;
      reply.faultStatus = fault.status;
      reply.stub.clear();
      return reply;
    }
    ResponsePdu response;
    // Servers may send only the low byte of the context id; ours is always 0.
    if (header.type != PduType::kResponse || !DecodeResponse(pdu, header, response) ||
        (response.contextId & 0xFF) != 0)
      throw RpcError(StatusCode::kProtocolError);
    if (first != static_cast<bool>(header.flags & PfcFlag::kFirstFrag) || (!first && header.BigEndian() != reply.bigEndian))
      throw RpcError(StatusCode::kProtocolError);
    if (response.stub.size() > maxResponseBytes - reply.stub.size())
      throw RpcError(StatusCode::kProtocolError, "response too large");
    reply.bigEndian = header.BigEndian();
    reply.stub.insert(reply.stub.end(), response.stub.begin(), response.stub.end());
    first = false;
    if (header.flags & PfcFlag::kLastFrag) return reply;
  }
}

void ClientConnection::ReadPdu(std::vector<uint8_t>& pdu, PduHeader& header, size_t maxLength,
                               Clock::time_point deadline, uint32_t lostStatus) {
  pdu.resize(kHeaderSize);
  IoResult result = ReadExact(fd_.Get(), pdu, deadline);
  if (result != IoResult::kOk) ThrowIo(result, lostStatus);
  if (DecodeHeader(std::span<const uint8_t, kHeaderSize>(pdu.data(), kHeaderSize), header) != HeaderCheck::kOk ||
      header.fragLength > maxLength)
    throw RpcError(StatusCode::kProtocolError);
  pdu.resize(header.fragLength);
  result = ReadExact(fd_.Get(), std::span<uint8_t>(pdu).subspan(kHeaderSize), deadline);
  if (result != IoResult::kOk) ThrowIo(result, lostStatus);
}

bool ClientConnection::LooksAlive() const {
  pollfd p{fd_.Get(), POLLIN, 0};
  return poll(&p, 1, 0) == 0;
}

}  // namespace Korvane::Pictora::DceRpc
