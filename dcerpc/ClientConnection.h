// Internal: one connection of the client, bound to one interface. Not thread-safe: one call at a
// time; the pool hands a connection to one caller at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "dcerpc/Client.h"
#include "dcerpc/PduCodec.h"
#include "dcerpc/Socket.h"

namespace Korvane::Pictora::DceRpc {

struct CallReply {
  bool fault = false;
  uint32_t faultStatus = 0;
  bool bigEndian = false;
  std::vector<uint8_t> stub;
};

class ClientConnection {
 public:
  // Connects (within the binding's connect time-out) and binds before `deadline`, the deadline
  // of the call the connection is opened for, so a fresh connection's bind and first call share
  // one call time-out. Throws RpcError (1722 cannot connect, bind refusals per their reason).
  static std::unique_ptr<ClientConnection> Open(const Binding& binding, const SyntaxId& interface,
                                                Clock::time_point deadline);

  // Sends the request and reads the reply. Throws RpcError on transport or protocol failure;
  // `requestSent` then tells whether any byte of the request left (a retry is safe only if not).
  CallReply Call(uint16_t opnum, std::span<const uint8_t> stub, Clock::time_point deadline,
                 size_t maxResponseBytes, bool& requestSent);

  // False when the peer closed the idle connection or sent something unasked.
  bool LooksAlive() const;

 private:
  ClientConnection(UniqueFd fd, uint16_t fragmentCap) : fd_(std::move(fd)), maxRecvFrag_(fragmentCap) {}
  void Bind(const SyntaxId& interface, Clock::time_point deadline);
  // Reads one PDU (header validated, frag_length <= maxLength) into `pdu`; a lost connection
  // throws `lostStatus`.
  void ReadPdu(std::vector<uint8_t>& pdu, PduHeader& header, size_t maxLength, Clock::time_point deadline,
               uint32_t lostStatus);
  CallReply ReadReply(uint32_t callId, size_t maxResponseBytes, Clock::time_point deadline);
  // Whether a reply's first fragment may answer the request sent with `requestCallId`. A server
  // of the Windows runtime as Wine provides it answers every request with the association's
  // first call id rather than the request's; either is taken. Only one call is ever in flight
  // on a connection and one that failed mid-call is never reused, so no other call's reply can
  // be waiting here.
  bool AnswersCall(uint32_t replyCallId, uint32_t requestCallId) const;

  UniqueFd fd_;
  uint16_t maxRecvFrag_;
  uint16_t maxXmitFrag_ = kMinFragmentSize;
  uint32_t nextCallId_ = 1;
  uint32_t associationCallId_ = 1;
};

}  // namespace Korvane::Pictora::DceRpc
