#include "dcerpc/ServerConnection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dcerpc/CallExecutor.h"
#include "dcerpc/Ndr.h"
#include "dcerpc/Status.h"
#include "tests/dcerpc/TestInterface.h"

namespace Korvane::Pictora::DceRpc {
namespace {

using Event = ServerConnection::Event;
using Testing::Op::kEcho;
using Testing::Op::kPing;
using Testing::TestInterfaceId;

const SyntaxId kBtfn03{*Uuid::Parse("6cb71c2c-9812-4540-0300-000000000000"), 1, 0};
const SyntaxId kUnknownInterface{*Uuid::Parse("11111111-2222-3333-4444-555555555555"), 1, 0};

struct Reply {
  PduHeader header;
  std::vector<uint8_t> bytes;
};

std::vector<uint8_t> Bind(std::vector<ContextElement> contexts, uint32_t assocGroup = 0,
                          uint8_t type = PduType::kBind) {
  std::vector<uint8_t> out;
  EncodeBind(type, 1, BindPdu{0xFFFF, 0xFFFF, assocGroup, std::move(contexts)}, out);
  return out;
}
std::vector<uint8_t> SimpleBind() { return Bind({{0, TestInterfaceId(), {Ndr20Syntax()}}}); }

std::vector<uint8_t> Request(uint32_t callId, uint16_t opnum, const std::vector<uint8_t>& stub,
                             uint16_t contextId = 0, uint16_t maxFrag = 5840) {
  std::vector<uint8_t> out;
  EncodeRequestFragments(callId, contextId, opnum, stub, maxFrag, out);
  return out;
}

std::vector<uint8_t> EchoStub(const std::string& text, size_t room = 20) {
  Arguments args(2);
  args.SetText(0, text);
  args.SetText(1, std::string(room, 'A'));
  std::vector<uint8_t> stub;
  EncodeRequestStub(Testing::EchoSpec(), args, stub);
  return stub;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class ServerConnectionTest : public ::testing::Test {
 protected:
  ServerConnectionTest() {
    registry_.Add(Testing::MakeTestInterface());
    registry_.Add(Testing::MakeSecondInterface());
    Reset();
  }

  void Reset(size_t maxRequest = 4 * 1024 * 1024) { connection_ = Open(maxRequest); }

  std::unique_ptr<ServerConnection> Open(size_t maxRequest = 4 * 1024 * 1024, ByteBudget* budget = nullptr,
                                         ByteBudget* peerBudget = nullptr) {
    ConnectionConfig config;
    config.secondaryAddress = "3982";
    config.maxRequestBytes = maxRequest;
    config.assocGroupCounter = &groups_;
    config.budget = budget;
    config.peerBudget = peerBudget;
    return std::make_unique<ServerConnection>(registry_, config);
  }

  // Feeds bytes and runs the machine as the server does, executing calls and writing their
  // replies a piece at a time, until it wants more input or closes.
  Event Send(const std::vector<uint8_t>& bytes, ServerConnection* connection = nullptr) {
    if (connection == nullptr) connection = connection_.get();
    connection->Feed(bytes);
    while (true) {
      auto event = connection->Next(out_);
      if (event != Event::kCall) return event;
      const PendingCall& call = connection->Call();
      std::vector<uint8_t> stub;
      CallOutcome outcome = ExecuteCall(*call.procedure, call.stub, call.bigEndian, CallContext{}, 1 << 20, stub);
      if (outcome.faultStatus) {
        connection->FailCall(outcome.faultStatus, outcome.run, out_);
      } else {
        for (size_t offset = 0; (offset = connection->CompleteCall(stub, out_, offset, 4000)) < stub.size();) {
        }
      }
    }
  }

  std::vector<Reply> TakeReplies() {
    std::vector<Reply> replies;
    for (size_t pos = 0; pos + kHeaderSize <= out_.size(); pos += replies.back().header.fragLength) {
      Reply reply;
      EXPECT_EQ(DecodeHeader(std::span<const uint8_t, kHeaderSize>(out_.data() + pos, kHeaderSize), reply.header),
                HeaderCheck::kOk);
      reply.bytes.assign(out_.begin() + pos, out_.begin() + pos + reply.header.fragLength);
      replies.push_back(std::move(reply));
    }
    out_.clear();
    return replies;
  }

  static BindAckPdu BindAck(const Reply& reply) {
    BindAckPdu ack;
    EXPECT_TRUE(DecodeBindAck(reply.bytes, reply.header, ack));
    return ack;
  }

  static FaultPdu Fault(const Reply& reply) {
    FaultPdu fault;
    EXPECT_EQ(reply.header.type, PduType::kFault);
    EXPECT_TRUE(DecodeFault(reply.bytes, reply.header, fault));
    return fault;
  }

  // The (reassembled) response stubs of the replies.
  static std::vector<uint8_t> ResponseStub(const std::vector<Reply>& replies) {
    std::vector<uint8_t> stub;
    for (const auto& reply : replies) {
      ResponsePdu response;
      EXPECT_TRUE(DecodeResponse(reply.bytes, reply.header, response));
      stub.insert(stub.end(), response.stub.begin(), response.stub.end());
    }
    return stub;
  }

  static std::string EchoReply(const std::vector<Reply>& replies) {
    Arguments args(2);
    args.SetText(1, std::string(1 << 16, 'A'));
    std::vector<uint8_t> ignored;
    EncodeRequestStub(Testing::EchoSpec(), args, ignored);
    EXPECT_EQ(DecodeResponseStub(Testing::EchoSpec(), ResponseStub(replies), false, args), NdrStatus::kOk);
    return args.Text(1);
  }

  void BindOk() {
    ASSERT_EQ(Send(SimpleBind()), Event::kNeedMore);
    TakeReplies();
  }

  InterfaceRegistry registry_;
  std::atomic<uint32_t> groups_{0};
  std::unique_ptr<ServerConnection> connection_;
  std::vector<uint8_t> out_;
};

// The Windows-style three-context bind is checked byte for byte by the impacket interop tests.
TEST_F(ServerConnectionTest, InterfaceVersionsAndAssociationGroups) {
  struct Case {
    SyntaxId abstractSyntax;
    uint16_t result, reason;
  };
  const Uuid second = Testing::SecondInterfaceId().uuid;  // registered as 2.1
  for (const Case& c : std::vector<Case>{{kUnknownInterface, 2, 1},
                                         {{second, 2, 0}, 0, 0},  // older minor: accepted
                                         {{second, 2, 1}, 0, 0},
                                         {{second, 2, 2}, 2, 1},  // newer minor than served
                                         {{second, 3, 0}, 2, 1}}) {
    Reset();
    ASSERT_EQ(Send(Bind({{0, c.abstractSyntax, {Ndr20Syntax()}}}, 0x55)), Event::kNeedMore);
    auto replies = TakeReplies();
    ASSERT_EQ(replies.size(), 1u);
    BindAckPdu ack = BindAck(replies[0]);
    EXPECT_EQ(ack.assocGroupId, 0x55u);  // a client's group is echoed
    ASSERT_EQ(ack.results.size(), 1u);
    EXPECT_EQ(ack.results[0].result, c.result) << c.abstractSyntax.major << "." << c.abstractSyntax.minor;
    EXPECT_EQ(ack.results[0].reason, c.reason);
  }
}

TEST_F(ServerConnectionTest, BindFailuresNakAndClose) {
  std::vector<uint8_t> withAuth = SimpleBind();
  withAuth.resize(withAuth.size() + 16, 0);
  withAuth[8] = static_cast<uint8_t>(withAuth.size());
  withAuth[10] = 8;
  std::vector<uint8_t> ebcdic = SimpleBind();
  ebcdic[4] = 0x11;
  std::vector<uint8_t> badVersion = SimpleBind();
  badVersion[1] = 1;
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    uint16_t reason;
  };
  const std::vector<Case> cases = {
      {"request first", Request(1, kPing, {}), BindNakReason::kProtocolVersionNotSupported},
      {"no contexts", Bind({}), BindNakReason::kNotSpecified},
      {"no transfer syntax", Bind({{0, TestInterfaceId(), {}}}), BindNakReason::kNotSpecified},
      {"two feature elements", Bind({{0, TestInterfaceId(), {kBtfn03}}, {1, TestInterfaceId(), {kBtfn03}}}),
       BindNakReason::kNotSpecified},
      {"context id reused for another interface",
       Bind({{0, TestInterfaceId(), {Ndr20Syntax()}}, {0, Testing::SecondInterfaceId(), {Ndr20Syntax()}}}),
       BindNakReason::kNotSpecified},
      {"auth", withAuth, BindNakReason::kAuthTypeNotRecognized},
      {"EBCDIC", ebcdic, BindNakReason::kProtocolVersionNotSupported},
      {"version 5.1", badVersion, BindNakReason::kProtocolVersionNotSupported},
      {"second bind", Concat(SimpleBind(), SimpleBind()), BindNakReason::kNotSpecified},
  };
  for (const Case& c : cases) {
    Reset();
    EXPECT_EQ(Send(c.bytes), Event::kClose) << c.name;
    auto replies = TakeReplies();
    ASSERT_FALSE(replies.empty()) << c.name;
    ASSERT_EQ(replies.back().header.type, PduType::kBindNak) << c.name;
    uint16_t reason = 99;
    DecodeBindNak(replies.back().bytes, replies.back().header, reason);
    EXPECT_EQ(reason, c.reason) << c.name;
  }
}

TEST_F(ServerConnectionTest, CallFaultsThatKeepTheConnection) {
  struct Case {
    const char* name;
    std::vector<uint8_t> request;
    uint32_t status;
    bool didNotExecute;
  };
  const std::vector<Case> cases = {
      {"unknown context", Request(2, kPing, {}, 7), FaultStatus::kUnknownIf, true},
      {"unassigned opnum", Request(2, Testing::Op::kUnassigned, {}), FaultStatus::kOpRangeError, true},
      {"opnum out of range", Request(2, 200, {}), FaultStatus::kOpRangeError, true},
      {"short stub", Request(2, kEcho, {1, 0, 0}), FaultStatus::kBadStubData, false},
      {"handler throws", Request(2, Testing::Op::kThrow, {}), FaultStatus::kFaultUnspec, false},
      {"handler refuses", Request(2, Testing::Op::kRefuse, {}), FaultStatus::kAccessDenied, false},
      {"out buffer above the cap", Request(2, Testing::Op::kWhoAmI, {0, 0, 0x20, 0}), FaultStatus::kRemoteNoMemory,
       false},
  };
  for (const Case& c : cases) {
    Reset();
    BindOk();
    EXPECT_EQ(Send(c.request), Event::kNeedMore) << c.name;
    auto replies = TakeReplies();
    ASSERT_EQ(replies.size(), 1u) << c.name;
    FaultPdu fault = Fault(replies[0]);
    EXPECT_EQ(fault.status, c.status) << c.name;
    EXPECT_EQ(fault.contextId, 0) << c.name;
    EXPECT_EQ(static_cast<bool>(replies[0].header.flags & PfcFlag::kDidNotExecute), c.didNotExecute) << c.name;
    EXPECT_EQ(replies[0].header.callId, 2u);
    Send(Request(3, kEcho, EchoStub("again")));
    EXPECT_EQ(EchoReply(TakeReplies()), "echo:again") << c.name;
  }
}

TEST_F(ServerConnectionTest, ReassemblesOneByteFragmentsWithCancelsInBetween) {
  BindOk();
  std::vector<uint8_t> stream = Request(5, kEcho, EchoStub("fragmented"), 0, 25);  // 1-byte stubs
  std::vector<uint8_t> cancel, orphaned;
  EncodeHeaderOnly(PduType::kCoCancel, 3, 5, cancel);
  EncodeHeaderOnly(PduType::kOrphaned, 3, 5, orphaned);
  stream.insert(stream.begin() + 25 * 5, orphaned.begin(), orphaned.end());
  stream.insert(stream.begin() + 25 * 3, cancel.begin(), cancel.end());
  // Byte by byte, to exercise partial headers too.
  for (size_t i = 0; i < stream.size(); ++i) {
    ASSERT_EQ(Send({stream[i]}), Event::kNeedMore) << i;
    EXPECT_EQ(connection_->HasPartialInput(), i + 1 < stream.size());
  }
  EXPECT_EQ(EchoReply(TakeReplies()), "echo:fragmented");
}

TEST_F(ServerConnectionTest, ResponsesAreFragmentedAtTheNegotiatedSize) {
  std::vector<uint8_t> bind;
  EncodeBind(PduType::kBind, 1, BindPdu{3199, 0xFFFF, 0, {{0, TestInterfaceId(), {Ndr20Syntax()}}}}, bind);
  Send(bind);
  TakeReplies();
  std::string text(20000, 'x');
  Send(Request(2, kEcho, EchoStub(text, 20010)));
  auto replies = TakeReplies();
  ASSERT_GT(replies.size(), 6u);
  for (const auto& reply : replies) EXPECT_LE(reply.header.fragLength, 3192);
  EXPECT_EQ(EchoReply(replies), "echo:" + text);
}

// Protocol errors and requests beyond the size cap close the connection after a fault.
TEST_F(ServerConnectionTest, ProtocolErrorsCloseTheConnection) {
  const size_t cap = 64 * 1024;
  auto hugeHint = Request(2, kPing, std::vector<uint8_t>(100), 0, 64);
  hugeHint[19] = 0x7F;  // a first fragment announcing far more than the cap: refused before buffering
  hugeHint.resize(64);
  auto request = Request(2, kEcho, EchoStub(std::string(100, 'x')), 0, 64);
  std::vector<uint8_t> firstOnly(request.begin(), request.begin() + 64);
  std::vector<uint8_t> middleWithoutCall(request.begin() + 64, request.begin() + 128);
  auto pendingCancel = Request(2, kPing, {});
  pendingCancel[3] |= PfcFlag::kPendingCancel;
  std::vector<uint8_t> serverType;
  EncodeFault(2, 0, 0, FaultRun::kMayHaveRun, serverType);
  std::vector<uint8_t> badVersion = Request(2, kPing, {});
  badVersion[1] = 1;
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    uint32_t status;
  };
  const std::vector<Case> cases = {
      {"other call id mid-call", Concat(firstOnly, Request(9, kPing, {})), FaultStatus::kProtoError},
      {"second first fragment", Concat(firstOnly, firstOnly), FaultStatus::kProtoError},
      {"fragment without a call", middleWithoutCall, FaultStatus::kProtoError},
      {"pending cancel", pendingCancel, FaultStatus::kNoCallActive},
      {"server PDU type", serverType, FaultStatus::kProtoError},
      {"fragment above the transport cap", Request(2, kEcho, EchoStub(std::string(7000, 'x'), 1), 0, 0xFFFF),
       FaultStatus::kProtoError},
      {"bad version", badVersion, FaultStatus::kProtoError},
      {"alter_context without contexts", Bind({}, 0, PduType::kAlterContext), FaultStatus::kProtoError},
      {"stub above the cap", Request(2, kPing, std::vector<uint8_t>(cap + 1)), FaultStatus::kAccessDenied},
      {"alloc_hint above the cap", hugeHint, FaultStatus::kAccessDenied},
  };
  for (const Case& c : cases) {
    Reset(cap);
    BindOk();
    EXPECT_EQ(Send(c.bytes), Event::kClose) << c.name;
    EXPECT_TRUE(connection_->Closed());
    auto replies = TakeReplies();
    ASSERT_FALSE(replies.empty()) << c.name;
    EXPECT_EQ(Fault(replies.back()).status, c.status) << c.name;
    EXPECT_EQ(Send(SimpleBind()), Event::kClose) << c.name;  // nothing more is read
  }
}

TEST_F(ServerConnectionTest, RequestOfExactlyTheCapIsServed) {
  Reset(64 * 1024);
  BindOk();
  EXPECT_EQ(Send(Request(2, kPing, std::vector<uint8_t>(64 * 1024))), Event::kNeedMore);
  EXPECT_EQ(ResponseStub(TakeReplies()), std::vector<uint8_t>{1});  // trailing stub bytes are ignored
}

constexpr size_t kFragmentStub = 4064;  // of a 4096-byte fragment, in whole 16-byte blocks

// The first `fragments` full fragments of a request, its last held back, as a peer filling the
// budget would send them.
std::vector<uint8_t> UnfinishedRequest(size_t fragments) {
  auto request = Request(2, kPing, std::vector<uint8_t>((fragments + 1) * kFragmentStub), 0, 4096);
  request.resize(fragments * (kRequestHeaderSize + kFragmentStub));
  return request;
}

TEST_F(ServerConnectionTest, ReassemblyIsBoundedServerWideAndPerPeer) {
  ByteBudget server(10 * kFragmentStub), greedyPeer(6 * kFragmentStub), otherPeer(6 * kFragmentStub);
  auto open = [&](ByteBudget& peer) {
    auto connection = Open(4 * 1024 * 1024, &server, &peer);
    EXPECT_EQ(Send(SimpleBind(), connection.get()), Event::kNeedMore);
    return connection;
  };
  auto first = open(greedyPeer);
  EXPECT_EQ(Send(UnfinishedRequest(5), first.get()), Event::kNeedMore);
  // The greedy peer's second request does not fit its share, though the server has room...
  auto second = open(greedyPeer);
  EXPECT_EQ(Send(UnfinishedRequest(2), second.get()), Event::kClose);
  EXPECT_EQ(Fault(TakeReplies().back()).status, FaultStatus::kServerTooBusy);
  // ...which another peer still gets, up to what the server has left.
  auto other = open(otherPeer);
  EXPECT_EQ(Send(UnfinishedRequest(4), other.get()), Event::kNeedMore);
  auto third = open(otherPeer);
  EXPECT_EQ(Send(UnfinishedRequest(2), third.get()), Event::kClose);
  EXPECT_EQ(server.Used(), 9 * kFragmentStub);
  // Connections that go away, and calls that complete, give their share back.
  first.reset();
  other.reset();
  EXPECT_EQ(server.Used(), 0u);
  auto again = open(otherPeer);
  out_.clear();
  EXPECT_EQ(Send(Request(2, kPing, std::vector<uint8_t>(5 * kFragmentStub), 0, 4096), again.get()), Event::kNeedMore);
  EXPECT_EQ(TakeReplies().back().header.type, PduType::kResponse);
  EXPECT_EQ(server.Used() + greedyPeer.Used() + otherPeer.Used(), 0u);
}

TEST_F(ServerConnectionTest, AlterContextAddsAnInterface) {
  BindOk();
  ASSERT_EQ(Send(Bind({{1, Testing::SecondInterfaceId(), {Ndr64Syntax(), Ndr20Syntax()}}}, 0, PduType::kAlterContext)),
            Event::kNeedMore);
  auto replies = TakeReplies();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].header.type, PduType::kAlterContextResp);
  BindAckPdu ack = BindAck(replies[0]);
  EXPECT_EQ(ack.secondaryAddress, "");
  EXPECT_EQ(ack.maxXmitFrag, 5840);
  ASSERT_EQ(ack.results.size(), 1u);
  EXPECT_EQ(ack.results[0].result, ContextResultCode::kAcceptance);
  Send(Request(2, 0, {}, 1));
  EXPECT_EQ(ResponseStub(TakeReplies()), std::vector<uint8_t>{2});  // the second interface answered
}

// A peer writing big-endian: every integer, and the first three fields of each UUID, in its order.
TEST_F(ServerConnectionTest, BigEndianPeerIsUnderstoodAndAnsweredLittleEndian) {
  std::vector<uint8_t> bind = {5, 0, PduType::kBind, 3, 0x00, 0, 0, 0, 0, 72, 0, 0, 0, 0, 0, 1,
                               0x10, 0x00, 0x10, 0x00, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0};
  for (const SyntaxId& id : {TestInterfaceId(), Ndr20Syntax()}) {
    bind.insert(bind.end(), id.uuid.bytes.begin(), id.uuid.bytes.end());  // text order is big-endian
    bind.insert(bind.end(), {0, static_cast<uint8_t>(id.major), 0, static_cast<uint8_t>(id.minor)});
  }
  ASSERT_EQ(Send(bind), Event::kNeedMore);
  BindAckPdu ack = BindAck(TakeReplies().at(0));
  EXPECT_EQ(ack.maxXmitFrag, 4096);
  ASSERT_EQ(ack.results.size(), 1u);
  EXPECT_EQ(ack.results[0].result, ContextResultCode::kAcceptance);
  // Double(1.5) with a big-endian header and stub.
  ASSERT_EQ(Send({5, 0, 0, 3, 0x00, 0, 0, 0, 0, 32, 0, 0, 0, 0, 0, 4, 0, 0, 0, 8, 0, 0, 0, Testing::Op::kDouble,
                  0x3F, 0xF8, 0, 0, 0, 0, 0, 0}),
            Event::kNeedMore);
  auto replies = TakeReplies();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].header.callId, 4u);
  EXPECT_EQ(replies[0].bytes[4], 0x10);  // our replies are always little-endian
  EXPECT_EQ(ResponseStub(replies), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0x08, 0x40}));  // 3.0
}

}  // namespace
}  // namespace Korvane::Pictora::DceRpc
