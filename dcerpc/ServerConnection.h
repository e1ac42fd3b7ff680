// Internal: the server side of one connection as a state machine over bytes, without sockets.
// The owner feeds received bytes, then calls Next() until it asks for more input: Next() appends
// every reply PDU (bind_ack, faults, ...) to `out` and stops when a call is ready to run or the
// connection must close. A ready call is finished with CompleteCall() or FailCall().
//
// Not thread-safe: one thread at a time drives a connection.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "dcerpc/ByteBudget.h"
#include "dcerpc/InterfaceRegistry.h"
#include "dcerpc/PduCodec.h"

namespace Korvane::Pictora::DceRpc {

struct ConnectionConfig {
  uint16_t fragmentCap = kTcpFragmentCap;              // transport's largest fragment, both ways
  std::string secondaryAddress;                        // port text or "\pipe\NAME", sent in bind_ack
  size_t maxRequestBytes = 4 * 1024 * 1024;            // reassembled request stub cap
  size_t maxContexts = 256;                            // presentation contexts per connection
  std::atomic<uint32_t>* assocGroupCounter = nullptr;  // source of fresh association group ids
  // Optional budgets of fragmented requests being reassembled: the server's and this peer's
  // share; beyond either: server too busy + close.
  ByteBudget* budget = nullptr;
  ByteBudget* peerBudget = nullptr;
};

// A reassembled request whose interface and procedure are known.
struct PendingCall {
  const InterfaceDefinition* interface = nullptr;
  const Procedure* procedure = nullptr;
  uint16_t opnum = 0;
  uint16_t contextId = 0;
  uint32_t callId = 0;
  uint32_t allocHint = 0;
  bool bigEndian = false;
  std::span<const uint8_t> stub;  // into the input (one fragment) or the reassembly buffer
};

class ServerConnection {
 public:
  enum class Event { kNeedMore, kCall, kClose };

  // `registry` must outlive the connection.
  ServerConnection(const InterfaceRegistry& registry, ConnectionConfig config);
  ~ServerConnection() = default;
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;

  void Feed(std::span<const uint8_t> bytes);
  Event Next(std::vector<uint8_t>& out);

  // The call Next() reported with kCall; valid until the first CompleteCall or FailCall.
  const PendingCall& Call() const { return call_; }
  // Appends the response fragments of stub[from...] until about `chunk` bytes are out (at least
  // one fragment); returns where it stopped. The call is answered once that is stub.size(), so a
  // large reply can be written piece by piece as the socket takes it.
  size_t CompleteCall(std::span<const uint8_t> responseStub, std::vector<uint8_t>& out, size_t from = 0,
                      size_t chunk = SIZE_MAX);
  void FailCall(uint32_t faultStatus, FaultRun run, std::vector<uint8_t>& out);

  // True while a PDU or a fragmented call is only partly received.
  bool HasPartialInput() const { return consumed_ < input_.size() || inCall_; }
  // How many PDUs have been taken whole outside a call's fragments (binds, whole calls): a
  // half-received PDU's time starts after the last of them.
  std::uint64_t Completed() const { return completed_; }
  bool Closed() const { return state_ == State::kClosed; }

 private:
  enum class State { kAwaitingBind, kBound, kClosed };
  enum class Step { kContinue, kCall, kClose };

  Step HandlePdu(const PduHeader& header, std::span<const uint8_t> pdu, std::vector<uint8_t>& out);
  Step HandleBind(const PduHeader& header, std::span<const uint8_t> pdu, std::vector<uint8_t>& out);
  Step HandleAlterContext(const PduHeader& header, std::span<const uint8_t> pdu, std::vector<uint8_t>& out);
  Step HandleRequest(const PduHeader& header, std::span<const uint8_t> pdu, std::vector<uint8_t>& out);
  Step StartCall(const PduHeader& header, const RequestPdu& request, std::vector<uint8_t>& out);
  bool Negotiate(const std::vector<ContextElement>& elements, std::vector<ContextResult>& results);
  Step RejectBind(uint32_t callId, uint16_t reason, std::vector<uint8_t>& out);
  Step FailConnection(uint32_t callId, uint32_t faultStatus, FaultRun run, std::vector<uint8_t>& out);
  void CompactInput();
  void ReleaseStub();

  const InterfaceRegistry& registry_;
  ConnectionConfig config_;
  State state_ = State::kAwaitingBind;
  std::vector<uint8_t> input_;
  size_t consumed_ = 0;

  uint16_t fragmentSize_ = kMinFragmentSize;
  uint32_t assocGroupId_ = 0;
  std::map<uint16_t, const InterfaceDefinition*> contexts_;

  bool inCall_ = false;
  std::uint64_t completed_ = 0;
  std::array<uint8_t, 4> callDrep_{};
  uint32_t earlyFault_ = 0;  // fault decided at the first fragment, sent after the last
  size_t receivedStubBytes_ = 0;
  std::vector<uint8_t> reassembled_;  // a fragmented call's stub
  BudgetCharge reassemblyCharge_;     // what reassembled_ holds of the budgets
  PendingCall call_;
};

}  // namespace Korvane::Pictora::DceRpc
