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

using Testing::Op::kEcho;
using Testing::Op::kPing;
using Testing::TestInterfaceId;

const SyntaxId kBtfn03{*Uuid::Parse("6cb71c2c-9812-4540-0300-000000000000"), 1, 0};
const SyntaxId kUnknownInterface{*Uuid::Parse("11111111-2222-3333-4444-555555555555"), 1, 0};

struct Reply {
  PduHeader header;
  std::vector<uint8_t> bytes;
};

class ServerConnectionTest : public ::testing::Test {
 protected:
  ServerConnectionTest() {
    registry_.Add(Testing::MakeTestInterface());
    registry_.Add(Testing::MakeSecondInterface());
    Reset();
  }

  void Reset(size_t maxRequest = 4 * 1024 * 1024) {
    ConnectionConfig config;
    config.secondaryAddress = "3982";
    config.maxRequestBytes = maxRequest;
    config.assocGroupCounter = &groups_;
    connection_ = std::make_unique<ServerConnection>(registry_, config);
  }

  // Feeds bytes and runs the machine, executing calls, until it wants more input or closes.
  ServerConnection::Event Send(const std::vector<uint8_t>& bytes) {
    connection_->Feed(bytes);
    while (true) {
      auto event = connection_->Next(out_);
      if (event != ServerConnection::Event::kCall) return event;
      ++calls_;
      const PendingCall& call = connection_->Call();
      CallOutcome outcome = ExecuteCall(*call.procedure, call.stub, call.bigEndian, CallContext{}, 1 << 20);
      if (outcome.faultStatus) {
        connection_->FailCall(outcome.faultStatus, false, out_);
      } else {
        connection_->CompleteCall(outcome.stub, out_);
      }
    }
  }

  std::vector<Reply> TakeReplies() {
    std::vector<Reply> replies;
    size_t pos = 0;
    while (pos + kHeaderSize <= out_.size()) {
      Reply reply;
      EXPECT_EQ(DecodeHeader(std::span<const uint8_t, kHeaderSize>(out_.data() + pos, kHeaderSize), reply.header),
                HeaderCheck::kOk);
      reply.bytes.assign(out_.begin() + pos, out_.begin() + pos + reply.header.fragLength);
      pos += reply.header.fragLength;
      replies.push_back(std::move(reply));
    }
    out_.clear();
    return replies;
  }

  BindAckPdu BindAck(const Reply& reply) {
    BindAckPdu ack;
    EXPECT_TRUE(reply.header.type == PduType::kBindAck || reply.header.type == PduType::kAlterContextResp);
    EXPECT_TRUE(DecodeBindAck(reply.bytes, reply.header, ack));
    return ack;
  }

  FaultPdu Fault(const Reply& reply) {
    FaultPdu fault;
    EXPECT_EQ(reply.header.type, PduType::kFault);
    EXPECT_TRUE(DecodeFault(reply.bytes, reply.header, fault));
    return fault;
  }

  static std::vector<uint8_t> Bind(std::vector<ContextElement> contexts, uint32_t assocGroup = 0,
                                   uint8_t type = PduType::kBind) {
    std::vector<uint8_t> out;
    EncodeBind(type, 1, BindPdu{0xFFFF, 0xFFFF, assocGroup, std::move(contexts)}, out);
    return out;
  }

  static std::vector<uint8_t> SimpleBind() { return Bind({{0, TestInterfaceId(), {Ndr20Syntax()}}}); }

  static std::vector<uint8_t> Request(uint32_t callId, uint16_t opnum, const std::vector<uint8_t>& stub,
                                      uint16_t contextId = 0, uint16_t maxFrag = 5840) {
    std::vector<uint8_t> out;
    EncodeRequestFragments(callId, contextId, opnum, stub, maxFrag, out);
    return out;
  }

  static std::vector<uint8_t> EchoStub(const std::string& text, size_t placeholder = 20) {
    Arguments args(2);
    args.SetText(0, text);
    args.SetText(1, std::string(placeholder, 'A'));
    std::vector<uint8_t> stub;
    EncodeRequestStub(Testing::EchoSpec(), args, stub);
    return stub;
  }

  // Decodes the (reassembled) response stubs of the replies as an Echo result.
  std::string EchoReply(const std::vector<Reply>& replies) {
    std::vector<uint8_t> stub;
    for (const auto& reply : replies) {
      ResponsePdu response;
      EXPECT_EQ(reply.header.type, PduType::kResponse);
      EXPECT_TRUE(DecodeResponse(reply.bytes, reply.header, response));
      stub.insert(stub.end(), response.stub.begin(), response.stub.end());
    }
    Arguments args(2);
    args.SetText(1, std::string(1 << 16, 'A'));
    std::vector<uint8_t> ignored;
    EncodeRequestStub(Testing::EchoSpec(), args, ignored);
    EXPECT_EQ(DecodeResponseStub(Testing::EchoSpec(), stub, false, args), NdrStatus::kOk);
    return args.Text(1);
  }

  void BindOk() {
    ASSERT_EQ(Send(SimpleBind()), ServerConnection::Event::kNeedMore);
    TakeReplies();
  }

  InterfaceRegistry registry_;
  std::atomic<uint32_t> groups_{0};
  std::unique_ptr<ServerConnection> connection_;
  std::vector<uint8_t> out_;
  int calls_ = 0;
};

// The Windows-style three-context bind is checked byte for byte by the impacket interop tests.
TEST_F(ServerConnectionTest, InterfaceVersionsAndAssociationGroups) {
  struct Case {
    SyntaxId abstractSyntax;
    uint16_t result, reason;
  };
  SyntaxId second = Testing::SecondInterfaceId();  // registered as 2.1
  const std::vector<Case> cases = {
      {kUnknownInterface, 2, 1},
      {{second.uuid, 2, 0}, 0, 0},  // older minor: accepted
      {{second.uuid, 2, 1}, 0, 0},
      {{second.uuid, 2, 2}, 2, 1},  // newer minor than served
      {{second.uuid, 3, 0}, 2, 1},  // other major
  };
  for (const Case& c : cases) {
    Reset();
    ASSERT_EQ(Send(Bind({{0, c.abstractSyntax, {Ndr20Syntax()}}}, 0x55)), ServerConnection::Event::kNeedMore);
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
  struct Case {
    const char* name;
    std::vector<std::vector<uint8_t>> pdus;
    uint16_t reason;
  };
  const std::vector<Case> cases = {
      {"request first", {Request(1, kPing, {})}, BindNakReason::kProtocolVersionNotSupported},
      {"no contexts", {Bind({})}, BindNakReason::kNotSpecified},
      {"no transfer syntax", {Bind({{0, TestInterfaceId(), {}}})}, BindNakReason::kNotSpecified},
      {"two feature elements", {Bind({{0, TestInterfaceId(), {kBtfn03}}, {1, TestInterfaceId(), {kBtfn03}}})},
       BindNakReason::kNotSpecified},
      {"context id reused for another interface",
       {Bind({{0, TestInterfaceId(), {Ndr20Syntax()}}, {0, Testing::SecondInterfaceId(), {Ndr20Syntax()}}})},
       BindNakReason::kNotSpecified},
      {"auth", {withAuth}, BindNakReason::kAuthTypeNotRecognized},
      {"EBCDIC", {ebcdic}, BindNakReason::kProtocolVersionNotSupported},
      {"second bind", {SimpleBind(), SimpleBind()}, BindNakReason::kNotSpecified},
  };
  for (const Case& c : cases) {
    Reset();
    ServerConnection::Event event = ServerConnection::Event::kNeedMore;
    for (const auto& pdu : c.pdus) event = Send(pdu);
    EXPECT_EQ(event, ServerConnection::Event::kClose) << c.name;
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
    uint16_t contextId;
  };
  const std::vector<Case> cases = {
      {"unknown context", Request(2, kPing, {}, 7), FaultStatus::kUnknownIf, true, 0},
      {"unassigned opnum", Request(2, Testing::Op::kUnassigned, {}), FaultStatus::kOpRangeError, true, 0},
      {"opnum out of range", Request(2, 200, {}), FaultStatus::kOpRangeError, true, 0},
      {"short stub", Request(2, kEcho, {1, 0, 0}), FaultStatus::kBadStubData, false, 0},
      {"handler throws", Request(2, Testing::Op::kThrow, {}), FaultStatus::kFaultUnspec, false, 0},
      {"handler refuses", Request(2, Testing::Op::kRefuse, {}), FaultStatus::kAccessDenied, false, 0},
  };
  for (const Case& c : cases) {
    Reset();
    BindOk();
    EXPECT_EQ(Send(c.request), ServerConnection::Event::kNeedMore) << c.name;
    auto replies = TakeReplies();
    ASSERT_EQ(replies.size(), 1u) << c.name;
    FaultPdu fault = Fault(replies[0]);
    EXPECT_EQ(fault.status, c.status) << c.name;
    EXPECT_EQ(fault.contextId, c.contextId) << c.name;
    EXPECT_EQ(static_cast<bool>(replies[0].header.flags & PfcFlag::kDidNotExecute), c.didNotExecute) << c.name;
    EXPECT_EQ(replies[0].header.callId, 2u);
    // The connection carries on.
    Send(Request(3, kEcho, EchoStub("again")));
    EXPECT_EQ(EchoReply(TakeReplies()), "echo:again") << c.name;
  }
}

TEST_F(ServerConnectionTest, ReassemblesOneByteFragmentsWithCancelsInBetween) {
  BindOk();
  std::vector<uint8_t> stream = Request(5, kEcho, EchoStub("fragmented"), 0, 25);  // 1-byte stubs
  std::vector<uint8_t> cancel;
  EncodeHeaderOnly(PduType::kCoCancel, 3, 5, cancel);
  std::vector<uint8_t> orphaned;
  EncodeHeaderOnly(PduType::kOrphaned, 3, 5, orphaned);
  stream.insert(stream.begin() + 25 * 5, orphaned.begin(), orphaned.end());
  stream.insert(stream.begin() + 25 * 3, cancel.begin(), cancel.end());
  // Byte by byte, to exercise partial headers too.
  for (size_t i = 0; i < stream.size(); ++i) {
    ASSERT_EQ(Send({stream[i]}), ServerConnection::Event::kNeedMore) << i;
    EXPECT_EQ(connection_->HasPartialInput(), i + 1 < stream.size());
  }
  EXPECT_EQ(EchoReply(TakeReplies()), "echo:fragmented");
}

TEST_F(ServerConnectionTest, ResponsesAreFragmentedAtTheNegotiatedSize) {
  std::vector<uint8_t> out;
  EncodeBind(PduType::kBind, 1, BindPdu{3199, 0xFFFF, 0, {{0, TestInterfaceId(), {Ndr20Syntax()}}}}, out);
  Send(out);
  EXPECT_EQ(BindAck(TakeReplies()[0]).maxXmitFrag, 3192);
  std::string text(20000, 'x');
  Send(Request(2, kEcho, EchoStub(text, 20010)));
  auto replies = TakeReplies();
  ASSERT_GT(replies.size(), 6u);
  for (const auto& reply : replies) EXPECT_LE(reply.header.fragLength, 3192);
  EXPECT_EQ(EchoReply(replies), "echo:" + text);
}

TEST_F(ServerConnectionTest, ProtocolErrorsCloseTheConnection) {
  auto request = Request(2, kEcho, EchoStub(std::string(100, 'x')), 0, 64);
  const size_t fragment = 64;
  std::vector<uint8_t> firstOnly(request.begin(), request.begin() + fragment);
  auto otherCall = Request(9, kPing, {});
  std::vector<uint8_t> middleWithoutCall(request.begin() + fragment, request.begin() + 2 * fragment);
  auto pendingCancel = Request(2, kPing, {});
  pendingCancel[3] |= PfcFlag::kPendingCancel;
  std::vector<uint8_t> serverType;
  EncodeFault(2, 0, 0, false, serverType);
  auto oversized = Request(2, kEcho, EchoStub(std::string(7000, 'x'), 1), 0, 0xFFFF);
  std::vector<uint8_t> badVersion = Request(2, kPing, {});
  badVersion[1] = 1;
  auto alterEmpty = Bind({}, 0, PduType::kAlterContext);

  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    uint32_t status;
  };
  std::vector<uint8_t> interleaved = firstOnly;
  interleaved.insert(interleaved.end(), otherCall.begin(), otherCall.end());
  std::vector<uint8_t> twoFirsts = firstOnly;
  twoFirsts.insert(twoFirsts.end(), firstOnly.begin(), firstOnly.end());
  const std::vector<Case> cases = {
      {"other call id mid-call", interleaved, FaultStatus::kProtoError},
      {"second first fragment", twoFirsts, FaultStatus::kProtoError},
      {"fragment without a call", middleWithoutCall, FaultStatus::kProtoError},
      {"pending cancel", pendingCancel, FaultStatus::kNoCallActive},
      {"server PDU type", serverType, FaultStatus::kProtoError},
      {"fragment above the transport cap", oversized, FaultStatus::kProtoError},
      {"bad version", badVersion, FaultStatus::kProtoError},
      {"alter_context without contexts", alterEmpty, FaultStatus::kProtoError},
  };
  for (const Case& c : cases) {
    Reset();
    BindOk();
    EXPECT_EQ(Send(c.bytes), ServerConnection::Event::kClose) << c.name;
    EXPECT_TRUE(connection_->Closed());
    auto replies = TakeReplies();
    ASSERT_FALSE(replies.empty()) << c.name;
    EXPECT_EQ(Fault(replies.back()).status, c.status) << c.name;
    EXPECT_EQ(Send(SimpleBind()), ServerConnection::Event::kClose) << c.name;  // nothing more is read
  }
}

TEST_F(ServerConnectionTest, RequestSizeCap) {
  const size_t cap = 64 * 1024;
  for (size_t stubSize : {cap, cap + 1}) {
    Reset(cap);
    BindOk();
    std::vector<uint8_t> stub(stubSize, 0);
    auto event = Send(Request(2, kPing, stub));
    auto replies = TakeReplies();
    ASSERT_FALSE(replies.empty());
    if (stubSize == cap) {
      EXPECT_EQ(event, ServerConnection::Event::kNeedMore);
      EXPECT_EQ(replies.back().header.type, PduType::kResponse);  // trailing bytes are ignored
    } else {
      EXPECT_EQ(event, ServerConnection::Event::kClose);
      EXPECT_EQ(Fault(replies.back()).status, FaultStatus::kAccessDenied);
    }
  }
  // A first fragment announcing more than the cap is refused before anything is buffered.
  Reset(cap);
  BindOk();
  auto request = Request(2, kPing, std::vector<uint8_t>(100), 0, 64);
  request[16] = 0xFF;
  request[17] = 0xFF;
  request[18] = 0xFF;
  request[19] = 0x7F;
  EXPECT_EQ(Send(std::vector<uint8_t>(request.begin(), request.begin() + 64)), ServerConnection::Event::kClose);
  EXPECT_EQ(Fault(TakeReplies().back()).status, FaultStatus::kAccessDenied);
}

TEST_F(ServerConnectionTest, ConnectionsShareAReassemblyBudget) {
  ReassemblyBudget budget;
  budget.limit = 100 * 1024;
  auto open = [&] {
    ConnectionConfig config;
    config.budget = &budget;
    auto connection = std::make_unique<ServerConnection>(registry_, config);
    connection->Feed(SimpleBind());
    std::vector<uint8_t> ignored;
    EXPECT_EQ(connection->Next(ignored), ServerConnection::Event::kNeedMore);
    return connection;
  };
  auto firstFragments = [](size_t stubBytes) {
    auto request = Request(2, kPing, std::vector<uint8_t>(stubBytes), 0, 4096);
    request.erase(request.end() - 4096, request.end());  // hold back the last fragment
    return request;
  };
  auto big = open();
  big->Feed(firstFragments(80 * 1024));
  std::vector<uint8_t> out;
  EXPECT_EQ(big->Next(out), ServerConnection::Event::kNeedMore);
  EXPECT_GT(budget.used.load(), 70u * 1024);

  auto other = open();
  other->Feed(firstFragments(40 * 1024));
  EXPECT_EQ(other->Next(out), ServerConnection::Event::kClose);
  other.reset();
  big.reset();  // a connection that goes away gives its share back
  EXPECT_EQ(budget.used.load(), 0u);

  auto again = open();
  again->Feed(Request(2, kPing, std::vector<uint8_t>(40 * 1024), 0, 4096));
  EXPECT_EQ(again->Next(out), ServerConnection::Event::kCall);
  again->CompleteCall({}, out);
  EXPECT_EQ(budget.used.load(), 0u);
}

TEST_F(ServerConnectionTest, AlterContextAddsAnInterface) {
  BindOk();
  std::vector<uint8_t> alter = Bind({{1, Testing::SecondInterfaceId(), {Ndr64Syntax(), Ndr20Syntax()}}}, 0,
                                    PduType::kAlterContext);
  ASSERT_EQ(Send(alter), ServerConnection::Event::kNeedMore);
  auto replies = TakeReplies();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].header.type, PduType::kAlterContextResp);
  BindAckPdu ack = BindAck(replies[0]);
  EXPECT_EQ(ack.secondaryAddress, "");
  EXPECT_EQ(ack.maxXmitFrag, 5840);
  ASSERT_EQ(ack.results.size(), 1u);
  EXPECT_EQ(ack.results[0].result, ContextResultCode::kAcceptance);
  Send(Request(2, 0, {}, 1));
  replies = TakeReplies();
  ResponsePdu response;
  ASSERT_TRUE(DecodeResponse(replies[0].bytes, replies[0].header, response));
  ASSERT_EQ(response.stub.size(), 1u);
  EXPECT_EQ(response.stub[0], 2);  // the second interface answered
}

// A bind from a big-endian peer: every integer, and the first three fields of each UUID, in its order.
std::vector<uint8_t> BigEndianBind(const SyntaxId& interface) {
  std::vector<uint8_t> pdu = {5, 0, PduType::kBind, 3, 0x00, 0, 0, 0, 0, 72, 0, 0, 0, 0, 0, 1,
                              0x10, 0x00, 0x10, 0x00, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0};
  auto syntax = [&](const SyntaxId& id) {
    pdu.insert(pdu.end(), id.uuid.bytes.begin(), id.uuid.bytes.end());  // text order is big-endian
    pdu.insert(pdu.end(), {static_cast<uint8_t>(id.major >> 8), static_cast<uint8_t>(id.major),
                           static_cast<uint8_t>(id.minor >> 8), static_cast<uint8_t>(id.minor)});
  };
  syntax(interface);
  syntax(Ndr20Syntax());
  return pdu;
}

TEST_F(ServerConnectionTest, BigEndianPeerIsUnderstoodAndAnsweredLittleEndian) {
  ASSERT_EQ(Send(BigEndianBind(TestInterfaceId())), ServerConnection::Event::kNeedMore);
  BindAckPdu ack = BindAck(TakeReplies().at(0));
  EXPECT_EQ(ack.maxXmitFrag, 4096);
  ASSERT_EQ(ack.results.size(), 1u);
  EXPECT_EQ(ack.results[0].result, ContextResultCode::kAcceptance);
  // A Not call with a big-endian header.
  const std::vector<uint8_t> pdu = {5, 0, 0, 3, 0x00, 0, 0, 0, 0, 25, 0, 0, 0, 0, 0, 4,
                                    0, 0, 0, 1, 0,    0, 0, Testing::Op::kNot, 0};
  ASSERT_EQ(Send(pdu), ServerConnection::Event::kNeedMore);
  auto replies = TakeReplies();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].header.callId, 4u);
  EXPECT_EQ(replies[0].bytes[4], 0x10);  // our replies are always little-endian
  ResponsePdu response;
  ASSERT_TRUE(DecodeResponse(replies[0].bytes, replies[0].header, response));
  ASSERT_EQ(response.stub.size(), 1u);
  EXPECT_EQ(response.stub[0], 1);
}

}  // namespace
}  // namespace Korvane::Pictora::DceRpc
