#include "dcerpc/PduCodec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Korvane::Pictora::DceRpc {
namespace {

PduHeader Header(const std::vector<uint8_t>& pdu) {
  PduHeader header;
  EXPECT_EQ(DecodeHeader(std::span<const uint8_t, kHeaderSize>(pdu.data(), kHeaderSize), header), HeaderCheck::kOk);
  return header;
}

// Splits a byte stream of PDUs at their frag_length fields.
std::vector<std::vector<uint8_t>> SplitPdus(const std::vector<uint8_t>& bytes) {
  std::vector<std::vector<uint8_t>> pdus;
  size_t pos = 0;
  while (pos + kHeaderSize <= bytes.size()) {
    size_t length = bytes[pos + 8] | (bytes[pos + 9] << 8);
    pdus.emplace_back(bytes.begin() + pos, bytes.begin() + pos + length);
    pos += length;
  }
  EXPECT_EQ(pos, bytes.size());
  return pdus;
}

const SyntaxId kInterface{*Uuid::Parse("8a60fd6c-7ebf-4aee-839c-1df4243d03d2"), 1, 0};

TEST(PduCodecTest, BindAckPadsTheSecondaryAddressToFourBytes) {
  struct Case {
    std::string address;
    size_t resultsOffset;
  };
  for (const Case& c : std::vector<Case>{{"", 28}, {"1", 28}, {"13", 32}, {"135", 32}, {"49667", 32}, {"123456", 36}}) {
    BindAckPdu ack{5840, 5840, 0x1234, c.address, {{0, 0, Ndr20Syntax()}, {2, 2, SyntaxId{}}}};
    std::vector<uint8_t> out;
    EncodeBindAck(PduType::kBindAck, 3, ack, out);
    ASSERT_EQ(out.size(), c.resultsOffset + 4 + 48) << c.address;
    EXPECT_EQ(out[c.resultsOffset], 2) << c.address;
    PduHeader header = Header(out);
    BindAckPdu decoded;
    ASSERT_TRUE(DecodeBindAck(out, header, decoded)) << c.address;
    EXPECT_EQ(decoded.secondaryAddress, c.address);
    ASSERT_EQ(decoded.results.size(), 2u);
    EXPECT_EQ(decoded.results[0].transferSyntax, Ndr20Syntax());
    EXPECT_EQ(decoded.results[1].reason, 2);
  }
}

TEST(PduCodecTest, HeaderChecksRejectWhatThePeerMustNotSend) {
  struct Case {
    const char* name;
    size_t offset;
    uint8_t value;
    HeaderCheck expected;
  };
  const std::vector<Case> cases = {
      {"version 4", 0, 4, HeaderCheck::kBadVersion},      {"minor 1", 1, 1, HeaderCheck::kBadVersion},
      {"EBCDIC", 4, 0x11, HeaderCheck::kBadDrep},         {"VAX floats", 5, 1, HeaderCheck::kBadDrep},
      {"order nibble 2", 4, 0x20, HeaderCheck::kBadDrep}, {"frag_length 15", 8, 15, HeaderCheck::kBadLength},
      {"auth beyond PDU", 10, 9, HeaderCheck::kBadLength}, {"big-endian: length 24 read as 0x1800", 4, 0, HeaderCheck::kOk},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> pdu = {5, 0, PduType::kCoCancel, 3, 0x10, 0, 0, 0, 24, 0, 0, 0, 1, 0, 0, 0};
    pdu[c.offset] = c.value;
    PduHeader header;
    EXPECT_EQ(DecodeHeader(std::span<const uint8_t, kHeaderSize>(pdu.data(), kHeaderSize), header), c.expected)
        << c.name;
  }
}

TEST(PduCodecTest, RequestWithObjectUuidSkipsIt) {
  std::vector<uint8_t> pdu = {5, 0, 0, 0x83, 0x10, 0, 0, 0, 44, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0};
  for (int i = 0; i < 16; ++i) pdu.push_back(static_cast<uint8_t>(i));
  pdu.insert(pdu.end(), {1, 2, 3, 4});
  PduHeader header = Header(pdu);
  RequestPdu request;
  ASSERT_TRUE(DecodeRequest(pdu, header, request));
  ASSERT_TRUE(request.object.has_value());
  EXPECT_EQ(request.opnum, 3);
  EXPECT_EQ(std::vector<uint8_t>(request.stub.begin(), request.stub.end()), (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST(PduCodecTest, TruncatedBodiesAreRejected) {
  BindPdu bind{5840, 5840, 0, {{0, kInterface, {Ndr20Syntax(), Ndr64Syntax()}}}};
  std::vector<uint8_t> full;
  EncodeBind(PduType::kBind, 1, bind, full);
  for (size_t cut : {size_t{20}, size_t{28}, size_t{40}, full.size() - 1}) {
    std::vector<uint8_t> pdu(full.begin(), full.begin() + static_cast<long>(cut));
    PduHeader header = Header(full);
    header.fragLength = static_cast<uint16_t>(cut);
    BindPdu decoded;
    EXPECT_FALSE(DecodeBind(pdu, header, decoded)) << cut;
  }
  // A count of transfer syntaxes the PDU cannot hold.
  std::vector<uint8_t> lying = full;
  lying[30] = 200;
  BindPdu decoded;
  EXPECT_FALSE(DecodeBind(lying, Header(lying), decoded));
  // A request shorter than its fixed part.
  std::vector<uint8_t> shortRequest;
  EncodeHeaderOnly(PduType::kRequest, 3, 1, shortRequest);
  RequestPdu request;
  EXPECT_FALSE(DecodeRequest(shortRequest, Header(shortRequest), request));
}

TEST(PduCodecTest, FragmentSizeNegotiation) {
  struct Case {
    uint16_t xmit, recv, cap, expected;
  };
  for (const Case& c : std::vector<Case>{{0xFFFF, 0xFFFF, kTcpFragmentCap, 5840},
                                         {0, 0, kTcpFragmentCap, 2048},
                                         {3199, 0xFFFF, kTcpFragmentCap, 3192},
                                         {4280, 4280, kTcpFragmentCap, 4280},
                                         {0xFFFF, 0xFFFF, kPipeFragmentCap, 4280}}) {
    EXPECT_EQ(NegotiateFragmentSize(c.xmit, c.recv, c.cap), c.expected) << c.xmit << "/" << c.recv;
  }
}

// Written whole or a piece at a time (about `piece` bytes of PDUs per call), as the server
// writes large replies, the fragments are the same.
TEST(PduCodecTest, ResponseFragmentsReassembleToTheStub) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{2024}, size_t{2025}, size_t{10000}}) {
    std::vector<uint8_t> stub(size);
    for (size_t i = 0; i < size; ++i) stub[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> whole;
    EXPECT_EQ(EncodeResponseFragments(5, 1, stub, 2048, whole), size);
    for (size_t piece : {size_t{1}, size_t{3000}}) {
      std::vector<uint8_t> pieces;
      for (size_t offset = 0; (offset = EncodeResponseFragments(5, 1, stub, 2048, pieces, offset, piece)) < size;) {
      }
      EXPECT_EQ(pieces, whole) << size << "/" << piece;
    }
    std::vector<uint8_t> joined;
    auto pdus = SplitPdus(whole);
    for (size_t i = 0; i < pdus.size(); ++i) {
      PduHeader header = Header(pdus[i]);
      EXPECT_LE(header.fragLength, 2048);
      EXPECT_EQ(static_cast<bool>(header.flags & PfcFlag::kFirstFrag), i == 0);
      EXPECT_EQ(static_cast<bool>(header.flags & PfcFlag::kLastFrag), i + 1 == pdus.size());
      ResponsePdu response;
      ASSERT_TRUE(DecodeResponse(pdus[i], header, response));
      EXPECT_EQ(response.allocHint, size - joined.size());
      joined.insert(joined.end(), response.stub.begin(), response.stub.end());
    }
    EXPECT_EQ(joined, stub) << size;
  }
}

TEST(PduCodecTest, FaultAndBindNakHaveTheirFixedShapes) {
  std::vector<uint8_t> fault;
  EncodeFault(4, 2, 0x1C010002, FaultRun::kDidNotRun, fault);
  ASSERT_EQ(fault.size(), kFaultPduSize);
  PduHeader header = Header(fault);
  EXPECT_EQ(header.flags, PfcFlag::kFirstFrag | PfcFlag::kLastFrag | PfcFlag::kDidNotExecute);
  FaultPdu decoded;
  ASSERT_TRUE(DecodeFault(fault, header, decoded));
  EXPECT_EQ(decoded.status, 0x1C010002u);
  EXPECT_EQ(decoded.contextId, 2);

  std::vector<uint8_t> nak;
  EncodeBindNak(1, BindNakReason::kProtocolVersionNotSupported, nak);
  ASSERT_EQ(nak.size(), 24u);  // never 37+ bytes: a client would look for an extended signature
  uint16_t reason = 0;
  ASSERT_TRUE(DecodeBindNak(nak, Header(nak), reason));
  EXPECT_EQ(reason, 4);
}

}  // namespace
}  // namespace Korvane::Pictora::DceRpc
