#include "dcerpc/ServerConnection.h"

#include <algorithm>
#include <set>

#include "dcerpc/Status.h"

namespace Korvane::Pictora::DceRpc {

namespace {

constexpr size_t kKeepInputCapacity = 8192;

bool Contains(const std::vector<SyntaxId>& syntaxes, const SyntaxId& wanted) {
  return std::find(syntaxes.begin(), syntaxes.end(), wanted) != syntaxes.end();
}

ContextResult Rejection(uint16_t reason) { return {ContextResultCode::kProviderRejection, reason, SyntaxId{}}; }

}  // namespace

ServerConnection::ServerConnection(const InterfaceRegistry& registry, ConnectionConfig config)
    : registry_(registry), config_(std::move(config)), reassemblyCharge_(config_.budget, config_.peerBudget) {}

void ServerConnection::Feed(std::span<const uint8_t> bytes) {
  if (state_ == State::kClosed) return;
  CompactInput();
  input_.insert(input_.end(), bytes.begin(), bytes.end());
}

void ServerConnection::CompactInput() {
  if (consumed_ == input_.size()) {
    input_.clear();
    consumed_ = 0;
    // Idle connections should not keep a large buffer.
    if (input_.capacity() > kKeepInputCapacity) std::vector<uint8_t>().swap(input_);
  } else if (consumed_ > 0) {
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(consumed_));
    consumed_ = 0;
  }
}

ServerConnection::Event ServerConnection::Next(std::vector<uint8_t>& out) {
  while (state_ != State::kClosed) {
    size_t available = input_.size() - consumed_;
    if (available < kHeaderSize) {
      CompactInput();
      return Event::kNeedMore;
    }
    PduHeader header;
    std::span<const uint8_t, kHeaderSize> headerBytes(input_.data() + consumed_, kHeaderSize);
    if (DecodeHeader(headerBytes, header) != HeaderCheck::kOk) {
      if (state_ == State::kAwaitingBind || header.type == PduType::kBind) {
        RejectBind(header.callId, BindNakReason::kProtocolVersionNotSupported, out);
      } else {
        FailConnection(header.callId, FaultStatus::kProtoError, FaultRun::kDidNotRun, out);
      }
      return Event::kClose;
    }
    if (header.type == PduType::kRequest && header.fragLength > config_.fragmentCap) {
      FailConnection(inCall_ ? call_.callId : header.callId, FaultStatus::kProtoError, FaultRun::kMayHaveRun, out);
      return Event::kClose;
    }
    if (header.fragLength > available) return Event::kNeedMore;
    std::span<const uint8_t> pdu(input_.data() + consumed_, header.fragLength);
    consumed_ += header.fragLength;
    const Step step = HandlePdu(header, pdu, out);
    if (!inCall_ || step == Step::kCall) ++completed_;
    switch (step) {
      case Step::kContinue:
        break;
      case Step::kCall:
        return Event::kCall;
      case Step::kClose:
        return Event::kClose;
    }
  }
  return Event::kClose;
}

ServerConnection::Step ServerConnection::HandlePdu(const PduHeader& header, std::span<const uint8_t> pdu,
                                                   std::vector<uint8_t>& out) {
  if (state_ == State::kAwaitingBind) {
    if (header.type != PduType::kBind)
      return RejectBind(header.callId, BindNakReason::kProtocolVersionNotSupported, out);
    return HandleBind(header, pdu, out);
  }
  switch (header.type) {
    case PduType::kBind:
      return RejectBind(header.callId, BindNakReason::kNotSpecified, out);
    case PduType::kAlterContext:
      return HandleAlterContext(header, pdu, out);
    case PduType::kRequest:
      return HandleRequest(header, pdu, out);
    // Cancels are noted and ignored: the call still completes and is answered.
    case PduType::kCoCancel:
    case PduType::kOrphaned:
      return Step::kContinue;
    default:
      return FailConnection(header.callId, FaultStatus::kProtoError, FaultRun::kDidNotRun, out);
  }
}

ServerConnection::Step ServerConnection::HandleBind(const PduHeader& header, std::span<const uint8_t> pdu,
                                                    std::vector<uint8_t>& out) {
  if (header.authLength != 0) return RejectBind(header.callId, BindNakReason::kAuthTypeNotRecognized, out);
  BindPdu bind;
  if (!DecodeBind(pdu, header, bind))
    return RejectBind(header.callId, BindNakReason::kProtocolVersionNotSupported, out);
  std::vector<ContextResult> results;
  if (bind.contexts.empty() || !Negotiate(bind.contexts, results))
    return RejectBind(header.callId, BindNakReason::kNotSpecified, out);
  if (contexts_.size() > config_.maxContexts) return RejectBind(header.callId, BindNakReason::kLocalLimitExceeded, out);
  fragmentSize_ = NegotiateFragmentSize(bind.maxXmitFrag, bind.maxRecvFrag, config_.fragmentCap);
  assocGroupId_ = bind.assocGroupId;
  while (assocGroupId_ == 0 && config_.assocGroupCounter) assocGroupId_ = ++*config_.assocGroupCounter;
  if (assocGroupId_ == 0) assocGroupId_ = 1;
  BindAckPdu ack{fragmentSize_, fragmentSize_, assocGroupId_, config_.secondaryAddress, std::move(results)};
  EncodeBindAck(PduType::kBindAck, header.callId, ack, out);
  state_ = State::kBound;
  return Step::kContinue;
}

ServerConnection::Step ServerConnection::HandleAlterContext(const PduHeader& header, std::span<const uint8_t> pdu,
                                                            std::vector<uint8_t>& out) {
  BindPdu alter;
  std::vector<ContextResult> results;
  if (header.authLength != 0 || !DecodeBind(pdu, header, alter) || alter.contexts.empty() ||
      !Negotiate(alter.contexts, results) || contexts_.size() > config_.maxContexts)
    return FailConnection(header.callId, FaultStatus::kProtoError, FaultRun::kDidNotRun, out);
  // The association keeps the fragment size and group negotiated by the bind.
  BindAckPdu ack{fragmentSize_, fragmentSize_, assocGroupId_, std::string(), std::move(results)};
  EncodeBindAck(PduType::kAlterContextResp, header.callId, ack, out);
  return Step::kContinue;
}

bool ServerConnection::Negotiate(const std::vector<ContextElement>& elements, std::vector<ContextResult>& results) {
  std::map<uint16_t, const InterfaceDefinition*> added;
  std::set<const InterfaceDefinition*> acceptedNow;
  int featureElements = 0;
  for (const auto& element : elements) {
    if (element.transferSyntaxes.empty()) return false;
    if (auto features = BindTimeFeatures(element.transferSyntaxes[0])) {
      if (++featureElements > 1) return false;
      // Orphaned PDUs are ignored and the connection kept, so that bit is the one we support.
      results.push_back({ContextResultCode::kNegotiateAck, static_cast<uint16_t>(*features & 0x0002), SyntaxId{}});
      continue;
    }
    const InterfaceDefinition* interface = registry_.Find(element.abstractSyntax);
    const bool offersNdr20 = Contains(element.transferSyntaxes, Ndr20Syntax());
    auto known = contexts_.find(element.contextId);
    auto addedNow = added.find(element.contextId);
    if (known != contexts_.end() || addedNow != added.end()) {
      const InterfaceDefinition* bound = known != contexts_.end() ? known->second : addedNow->second;
      // A negotiated context may be proposed again, but never changed.
      if (bound != interface || !offersNdr20) return false;
      results.push_back({ContextResultCode::kAcceptance, 0, Ndr20Syntax()});
      continue;
    }
    if (interface == nullptr) {
      results.push_back(Rejection(ProviderReason::kAbstractSyntaxNotSupported));
    } else if (!offersNdr20 || acceptedNow.count(interface)) {
      results.push_back(Rejection(ProviderReason::kTransferSyntaxesNotSupported));
    } else {
      acceptedNow.insert(interface);
      added[element.contextId] = interface;
      results.push_back({ContextResultCode::kAcceptance, 0, Ndr20Syntax()});
    }
  }
  contexts_.insert(added.begin(), added.end());
  return true;
}

ServerConnection::Step ServerConnection::HandleRequest(const PduHeader& header, std::span<const uint8_t> pdu,
                                                       std::vector<uint8_t>& out) {
  RequestPdu request;
  if (header.authLength != 0 || !DecodeRequest(pdu, header, request))
    return FailConnection(inCall_ ? call_.callId : header.callId, FaultStatus::kProtoError, FaultRun::kMayHaveRun, out);
  if (!inCall_) {
    Step step = StartCall(header, request, out);
    if (step != Step::kContinue) return step;
  } else if ((header.flags & PfcFlag::kFirstFrag) || header.callId != call_.callId || header.drep != callDrep_) {
    return FailConnection(call_.callId, FaultStatus::kProtoError, FaultRun::kMayHaveRun, out);
  }
  if (request.stub.size() > config_.maxRequestBytes - receivedStubBytes_)
    return FailConnection(call_.callId, FaultStatus::kAccessDenied, FaultRun::kMayHaveRun, out);
  receivedStubBytes_ += request.stub.size();
  const bool last = header.flags & PfcFlag::kLastFrag;
  if (earlyFault_ == 0) {
    if (last && reassembled_.empty()) {
      call_.stub = request.stub;  // a whole call in one fragment is run from the input as it is
    } else {
      if (!reassemblyCharge_.Resize(receivedStubBytes_))
        return FailConnection(call_.callId, FaultStatus::kServerTooBusy, FaultRun::kDidNotRun, out);
      if (reassembled_.empty()) reassembled_.reserve(std::min<size_t>(call_.allocHint, 64 * 1024));
      reassembled_.insert(reassembled_.end(), request.stub.begin(), request.stub.end());
      call_.stub = reassembled_;
    }
  }
  if (!last) return Step::kContinue;
  inCall_ = false;
  if (earlyFault_ != 0) {
    uint16_t contextId = earlyFault_ == FaultStatus::kUnknownIf ? 0 : call_.contextId;
    EncodeFault(call_.callId, contextId, earlyFault_, FaultRun::kDidNotRun, out);
    ReleaseStub();
    return Step::kContinue;
  }
  return Step::kCall;
}

ServerConnection::Step ServerConnection::StartCall(const PduHeader& header, const RequestPdu& request,
                                                   std::vector<uint8_t>& out) {
  if (!(header.flags & PfcFlag::kFirstFrag))
    return FailConnection(header.callId, FaultStatus::kProtoError, FaultRun::kMayHaveRun, out);
  if (header.flags & PfcFlag::kPendingCancel)
    return FailConnection(header.callId, FaultStatus::kNoCallActive, FaultRun::kDidNotRun, out);
  if (!(header.flags & PfcFlag::kLastFrag) && request.allocHint > config_.maxRequestBytes)
    return FailConnection(header.callId, FaultStatus::kAccessDenied, FaultRun::kMayHaveRun, out);
  ReleaseStub();
  call_ = PendingCall{};
  call_.callId = header.callId;
  call_.contextId = request.contextId;
  call_.opnum = request.opnum;
  call_.bigEndian = header.BigEndian();
  callDrep_ = header.drep;
  earlyFault_ = 0;
  receivedStubBytes_ = 0;
  inCall_ = true;
  auto context = contexts_.find(request.contextId);
  if (context == contexts_.end()) {
    earlyFault_ = FaultStatus::kUnknownIf;
    return Step::kContinue;
  }
  call_.interface = context->second;
  auto procedure = call_.interface->procedures.find(request.opnum);
  if (procedure == call_.interface->procedures.end()) {
    earlyFault_ = FaultStatus::kOpRangeError;
    return Step::kContinue;
  }
  call_.procedure = &procedure->second;
  call_.allocHint = request.allocHint;  // only a hint: no more than a modest amount is reserved from it
  return Step::kContinue;
}

size_t ServerConnection::CompleteCall(std::span<const uint8_t> responseStub, std::vector<uint8_t>& out, size_t from,
                                      size_t chunk) {
  ReleaseStub();
  return EncodeResponseFragments(call_.callId, call_.contextId, responseStub, fragmentSize_, out, from, chunk);
}

void ServerConnection::FailCall(uint32_t faultStatus, FaultRun run, std::vector<uint8_t>& out) {
  EncodeFault(call_.callId, call_.contextId, faultStatus, run, out);
  ReleaseStub();
}

ServerConnection::Step ServerConnection::RejectBind(uint32_t callId, uint16_t reason, std::vector<uint8_t>& out) {
  EncodeBindNak(callId, reason, out);
  state_ = State::kClosed;
  return Step::kClose;
}

ServerConnection::Step ServerConnection::FailConnection(uint32_t callId, uint32_t faultStatus, FaultRun run,
                                                        std::vector<uint8_t>& out) {
  EncodeFault(callId, 0, faultStatus, run, out);
  state_ = State::kClosed;
  inCall_ = false;
  ReleaseStub();
  return Step::kClose;
}

void ServerConnection::ReleaseStub() {
  call_.stub = {};
  if (!reassembled_.empty()) std::vector<uint8_t>().swap(reassembled_);
  reassemblyCharge_.Resize(0);
}

}  // namespace Korvane::Pictora::DceRpc
