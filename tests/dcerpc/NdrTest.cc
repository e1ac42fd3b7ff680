#include "dcerpc/Ndr.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/dcerpc/TestInterface.h"

namespace Korvane::Pictora::DceRpc {
namespace {

using Testing::BytesSpec;
using Testing::EchoSpec;
using Testing::FillSpec;
using Testing::LengthDataSpec;

std::vector<uint8_t> Hex(std::initializer_list<int> bytes) {
  std::vector<uint8_t> out;
  for (int b : bytes) out.push_back(static_cast<uint8_t>(b));
  return out;
}

// What a hostile request stub can hold, and what the server makes of it.
TEST(NdrTest, RequestStubVerdicts) {
  const ProcedureSpec text{{{ParamKind::kInString}}, ResultKind::kVoid};
  const ProcedureSpec outBuffer{{{ParamKind::kInLong}, {ParamKind::kOutChars, 0}}, ResultKind::kVoid};
  const ProcedureSpec padded{{{ParamKind::kInSmall}, {ParamKind::kInLong}, {ParamKind::kInString}}, ResultKind::kVoid};
  struct Case {
    const char* name;
    ProcedureSpec spec;
    std::vector<uint8_t> stub;
    NdrStatus expected;
  };
  const std::vector<Case> cases = {
      {"string offset not 0", text, Hex({3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 'a', 0}), NdrStatus::kBadStubData},
      {"string actual > max", text, Hex({2, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 0}), NdrStatus::kBadStubData},
      {"string actual 0", text, Hex({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), NdrStatus::kBadStubData},
      {"string without NUL", text, Hex({3, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c'}), NdrStatus::kBadStubData},
      {"string beyond stub", text, Hex({9, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 'a', 0}), NdrStatus::kBadStubData},
      {"huge string", text, Hex({0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 'a', 0}),
       NdrStatus::kBadStubData},
      {"truncated string header", text, Hex({3, 0, 0, 0, 0, 0}), NdrStatus::kBadStubData},
      {"empty", text, {}, NdrStatus::kBadStubData},
      {"junk padding, max > actual", padded,
       Hex({0x7f, 0xAB, 0xAB, 0xAB, 0x2A, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 'h', 'i', 0, 'x'}), NdrStatus::kOk},
      {"length and data agree", LengthDataSpec(), Hex({3, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c'}), NdrStatus::kOk},
      {"data without NUL", LengthDataSpec(), Hex({2, 0, 0, 0, 2, 0, 0, 0, 'a', 'b'}), NdrStatus::kOk},
      {"count differs from length", LengthDataSpec(), Hex({3, 0, 0, 0, 2, 0, 0, 0, 'a', 'b', 'c'}),
       NdrStatus::kBadStubData},
      {"count beyond stub", LengthDataSpec(), Hex({4, 0, 0, 0, 4, 0, 0, 0, 'a', 'b', 'c'}), NdrStatus::kBadStubData},
      {"negative length", LengthDataSpec(), Hex({0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}),
       NdrStatus::kBadStubData},
      {"out buffer of 0", outBuffer, Hex({0, 0, 0, 0}), NdrStatus::kOk},
      {"out buffer at the cap", outBuffer, Hex({0xe8, 3, 0, 0}), NdrStatus::kOk},
      {"out buffer above the cap", outBuffer, Hex({0xe9, 3, 0, 0}), NdrStatus::kTooLarge},
      {"negative out buffer", outBuffer, Hex({0xff, 0xff, 0xff, 0xff}), NdrStatus::kBadStubData},
      {"most negative out buffer", outBuffer, Hex({0, 0, 0, 0x80}), NdrStatus::kBadStubData},
  };
  for (const Case& c : cases) {
    Arguments args;
    EXPECT_EQ(DecodeRequestStub(c.spec, c.stub, false, 1000, args), c.expected) << c.name;
  }
}

TEST(NdrTest, ArrayDeclaredBeforeItsSizeAndInOutSizedOutArray) {
  // text, [in, size_is(inLength)] byte[], long inLength, [out, size_is(*outLength)] byte[], [in, out] long*
  auto stub = Hex({2, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 'p', 0, 0, 0, 3, 0, 0, 0, 9, 8, 7, 0, 3, 0, 0, 0, 4, 0, 0, 0});
  Arguments args;
  ASSERT_EQ(DecodeRequestStub(BytesSpec(), stub, false, 1 << 20, args), NdrStatus::kOk);
  EXPECT_EQ(args.Data(1), (Bytes{9, 8, 7}));
  EXPECT_EQ(args.Capacity(3), 4u);
  // The routine claims more than the caller's buffer holds: it is clamped to the 4 sent.
  args.SetData(3, Bytes{1, 2, 3, 4, 5, 6});
  args.SetLong(4, 6);
  args.SetResultSmall(1);
  std::vector<uint8_t> response;
  EncodeResponseStub(BytesSpec(), args, response);
  EXPECT_EQ(response, Hex({4, 0, 0, 0, 1, 2, 3, 4, 4, 0, 0, 0, 1}));
  EXPECT_EQ(args.Long(4), 4);

  auto mismatch = stub;
  mismatch[24] = 2;  // inLength 2 but 3 bytes sent
  EXPECT_EQ(DecodeRequestStub(BytesSpec(), mismatch, false, 1 << 20, args), NdrStatus::kBadStubData);
}

// The server cuts what a routine returns to what the caller sent or asked for; the client refuses
// a peer's reply that is longer.
TEST(NdrTest, RepliesNeverOutgrowTheCallersBuffers) {
  Arguments client(2);
  client.SetText(0, "hello");
  client.SetText(1, "AAA");
  std::vector<uint8_t> stub;
  EncodeRequestStub(EchoSpec(), client, stub);
  for (uint32_t serverCapacity : {0u, 100u}) {  // 0: as decoded from the request
    Arguments server;
    ASSERT_EQ(DecodeRequestStub(EchoSpec(), stub, false, 1 << 20, server), NdrStatus::kOk);
    if (serverCapacity != 0) server.SetCapacity(1, serverCapacity);
    server.SetText(1, "a much longer reply");
    std::vector<uint8_t> response;
    EncodeResponseStub(EchoSpec(), server, response);
    EXPECT_EQ(DecodeResponseStub(EchoSpec(), response, false, client),
              serverCapacity == 0 ? NdrStatus::kOk : NdrStatus::kBadStubData);
  }
  EXPECT_EQ(client.Text(1), "a m");

  Arguments buffer(4);
  buffer.SetText(0, "5");
  buffer.SetLong(1, 4);
  buffer.SetText(3, "");
  stub.clear();
  EncodeRequestStub(FillSpec(), buffer, stub);
  auto tooLong = Hex({5, 0, 0, 0, 'a', 'b', 'c', 'd', 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0,
                      0, 0, 0, 0});
  EXPECT_EQ(DecodeResponseStub(FillSpec(), tooLong, false, buffer), NdrStatus::kBadStubData);
  auto fits = Hex({4, 0, 0, 0, 'a', 'b', 'c', 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  ASSERT_EQ(DecodeResponseStub(FillSpec(), fits, false, buffer), NdrStatus::kOk);
  EXPECT_EQ(buffer.Text(2), std::string("abc\0", 4));
  EXPECT_EQ(DecodeResponseStub(FillSpec(), std::span(fits).first(fits.size() - 1), false, buffer),
            NdrStatus::kBadStubData);
}

TEST(NdrTest, StringEndsAtItsFirstNulAndKeepsItsRoom) {
  const ProcedureSpec spec{{{ParamKind::kInOutString}}, ResultKind::kVoid};
  Arguments args;
  ASSERT_EQ(DecodeRequestStub(spec, Hex({5, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 'a', 0, 'b', 'c', 0}), false, 1 << 20, args),
            NdrStatus::kOk);
  EXPECT_EQ(args.Text(0), "a");
  EXPECT_EQ(args.Capacity(0), 4u);
}

TEST(NdrTest, BigEndianStubsAreConverted) {
  const ProcedureSpec spec{{{ParamKind::kInLong}, {ParamKind::kInOutDouble}}, ResultKind::kVoid};
  // long 0x01020304, pad to 8, double 1.5 (0x3FF8000000000000) big-endian.
  auto stub = Hex({1, 2, 3, 4, 0, 0, 0, 0, 0x3F, 0xF8, 0, 0, 0, 0, 0, 0});
  Arguments args;
  ASSERT_EQ(DecodeRequestStub(spec, stub, true, 1 << 20, args), NdrStatus::kOk);
  EXPECT_EQ(args.Long(0), 0x01020304);
  EXPECT_EQ(args.Double(1), 1.5);
}

TEST(NdrTest, EveryKindRoundTripsBetweenClientAndServer) {
  const ProcedureSpec spec{{{ParamKind::kInSmall},
                            {ParamKind::kInString},
                            {ParamKind::kInOutLong},
                            {ParamKind::kInOutDouble},
                            {ParamKind::kInLong},
                            {ParamKind::kInChars, 4},
                            {ParamKind::kOutChars, 4},
                            {ParamKind::kInOutString}},
                           ResultKind::kLong};
  Arguments client(8);
  client.SetSmall(0, -3);
  client.SetText(1, "text");
  client.SetLong(2, -7);
  client.SetDouble(3, 2.25);
  client.SetLong(4, 5);
  client.SetText(5, std::string("ab\0cd", 5));
  client.SetText(7, std::string(10, 'A'));
  std::vector<uint8_t> stub;
  EncodeRequestStub(spec, client, stub);

  Arguments server;
  ASSERT_EQ(DecodeRequestStub(spec, stub, false, 1 << 20, server), NdrStatus::kOk);
  EXPECT_EQ(server.Small(0), -3);
  EXPECT_EQ(server.Text(1), "text");
  EXPECT_EQ(server.Long(2), -7);
  EXPECT_EQ(server.Double(3), 2.25);
  EXPECT_EQ(server.Text(5), std::string("ab\0cd", 5));
  server.SetLong(2, 99);
  server.SetDouble(3, -0.5);
  server.SetText(6, "xyz");
  server.SetText(7, "done");
  server.SetResultLong(-1);
  std::vector<uint8_t> response;
  EncodeResponseStub(spec, server, response);

  EXPECT_LE(response.size(), ResponseStubBound(spec, server));  // what the server charges before the call

  ASSERT_EQ(DecodeResponseStub(spec, response, false, client), NdrStatus::kOk);
  EXPECT_EQ(client.Long(2), 99);
  EXPECT_EQ(client.Double(3), -0.5);
  EXPECT_EQ(client.Text(6), std::string("xyz\0\0", 5));
  EXPECT_EQ(client.Text(7), "done");
  EXPECT_EQ(client.ResultLong(), -1);
}

TEST(NdrTest, SpecsMustNameALongAsArraySize) {
  EXPECT_TRUE(IsValidSpec(BytesSpec()));
  EXPECT_FALSE(IsValidSpec({{{ParamKind::kInChars, -1}}, ResultKind::kVoid}));
  EXPECT_FALSE(IsValidSpec({{{ParamKind::kInChars, 1}, {ParamKind::kInString}}, ResultKind::kVoid}));
  EXPECT_FALSE(IsValidSpec({{{ParamKind::kOutChars, 5}}, ResultKind::kVoid}));
}

}  // namespace
}  // namespace Korvane::Pictora::DceRpc
