// Feeds arbitrary bytes into the server's connection state machine (binds, fragments, NDR
// decoding of the test interface's procedures) and into the client's PDU and stub decoders.
// The first input byte chooses how the stream is cut into reads.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "dcerpc/CallExecutor.h"
#include "dcerpc/Ndr.h"
#include "dcerpc/PduCodec.h"
#include "dcerpc/ServerConnection.h"
#include "tests/dcerpc/TestInterface.h"

using namespace Korvane::Pictora::DceRpc;

namespace {

const InterfaceRegistry& Registry() {
  static InterfaceRegistry registry;
  static const bool filled = [] {
    InterfaceDefinition test = Testing::MakeTestInterface();
    test.procedures.erase(Testing::Op::kSleep);  // nothing that waits
    auto& fill = test.procedures[Testing::Op::kFill].handler;
    fill = [inner = fill](const CallContext& context, Arguments& args) {
      if (args.Text(0).size() > 5) return args.SetResultLong(-1);  // keep generated texts small
      inner(context, args);
    };
    return registry.Add(std::move(test)) && registry.Add(Testing::MakeSecondInterface());
  }();
  (void)filled;
  return registry;
}

ByteBudget replyBudget(1024 * 1024);

void DriveConnection(std::span<const uint8_t> stream, size_t readSize, const ConnectionConfig& config) {
  ServerConnection connection(Registry(), config);
  std::vector<uint8_t> out;
  for (size_t pos = 0; pos < stream.size() && !connection.Closed(); pos += readSize) {
    connection.Feed(stream.subspan(pos, std::min(readSize, stream.size() - pos)));
    while (true) {
      auto event = connection.Next(out);
      if (event != ServerConnection::Event::kCall) break;
      const PendingCall& call = connection.Call();
      std::vector<uint8_t> stub;
      BudgetCharge replyCharge(&replyBudget, nullptr);
      CallOutcome outcome =
          ExecuteCall(*call.procedure, call.stub, call.bigEndian, CallContext{}, 64 * 1024, stub, &replyCharge);
      if (outcome.faultStatus != 0) {
        connection.FailCall(outcome.faultStatus, outcome.run, out);
      } else {
        // Cut into pieces, as the server writes a large reply.
        for (size_t offset = 0; (offset = connection.CompleteCall(stub, out, offset, 4096)) < stub.size();) {
        }
      }
    }
    out.clear();
  }
}

void DriveServer(std::span<const uint8_t> stream, size_t readSize) {
  static std::atomic<uint32_t> groups{0};
  static ByteBudget budget(128 * 1024);
  static ByteBudget peerBudget(96 * 1024);
  ConnectionConfig config;
  config.secondaryAddress = "3982";
  config.maxRequestBytes = 256 * 1024;
  config.assocGroupCounter = &groups;
  config.budget = &budget;
  config.peerBudget = &peerBudget;
  DriveConnection(stream, readSize, config);
  // Every connection and every reply gives its share back.
  if (budget.Used() != 0 || peerBudget.Used() != 0 || replyBudget.Used() != 0) __builtin_trap();
}

void DecodeAsClient(std::span<const uint8_t> data) {
  if (data.size() >= kHeaderSize) {
    PduHeader header;
    if (DecodeHeader(data.first<kHeaderSize>(), header) == HeaderCheck::kOk && header.fragLength <= data.size()) {
      auto pdu = data.first(header.fragLength);
      BindAckPdu ack;
      DecodeBindAck(pdu, header, ack);
      ResponsePdu response;
      DecodeResponse(pdu, header, response);
      FaultPdu fault;
      DecodeFault(pdu, header, fault);
    }
  }
  const ProcedureSpec specs[] = {Testing::EchoSpec(), Testing::BytesSpec(), Testing::FillSpec(), Testing::DoubleSpec()};
  for (const ProcedureSpec& spec : specs) {
    Arguments args(spec.params.size());
    for (size_t i = 0; i < spec.params.size(); ++i) {
      args.SetCapacity(i, 4096);
      if (spec.params[i].kind == ParamKind::kInOutLong) args.SetLong(i, 64);
    }
    DecodeResponseStub(spec, data, data.size() % 2 == 1, args);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t readSize = data[0] == 0 ? size : data[0];
  std::span<const uint8_t> stream(data + 1, size - 1);
  DriveServer(stream, readSize);
  DecodeAsClient(stream);
  return 0;
}
