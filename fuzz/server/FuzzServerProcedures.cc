// Drives the server's procedure table (a real ServerImpl behind rpc/ServerInterface, listener
// and provider calls stubbed) with fuzzed procedure numbers and arguments, so that the XML
// parsing of session, provider and services texts, the buffer reply and the cut texts all see
// hostile input. The last byte picks the procedure (modulo 50), the one before it the mode: an
// odd mode byte takes the rest as a request stub (bit 1: big-endian), the seeds' form; an even
// one fills the procedure's parameters in turn and encodes them. Either way the call runs
// through the runtime's call executor. A text argument "@" stands for the live session's
// identifier, which the fuzzer could never guess.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dcerpc/CallExecutor.h"
#include "dcerpc/Ndr.h"
#include "interfaces/ServerProcedureShapes.h"
#include "rpc/ServerInterface.h"
#include "servercore/ServerImpl.h"
#include "tests/support/ServerStubs.h"
#include "tests/support/TempFolder.h"

namespace {

using namespace Korvane::Pictora;
using DceRpc::ParamKind;

constexpr size_t kMaxOutBytes = 64 * 1024;
// The registry only grows under fuzzing; a fresh core now and then keeps memory bounded.
constexpr unsigned kCallsPerCore = 4096;

class Harness {
 public:
  Harness() {
    if (root_.Path().empty()) ::abort();
    definition_ = Rpc::ServerInterfaceDefinition([this] { return core_.get(); });
    for (auto& [opnum, procedure] : definition_.procedures) {
      procedure.handler = [this, spec = procedure.spec, inner = procedure.handler](
                              const DceRpc::CallContext& context, DceRpc::Arguments& args) {
        for (size_t i = 0; i < spec.params.size(); ++i) {
          if (spec.params[i].kind == ParamKind::kInString && args.Text(i) == "@") args.SetText(i, sessionId_);
        }
        inner(context, args);
      };
    }
    Restart();
  }

  void Run(const uint8_t* data, size_t size) {
    if (++callCount_ % kCallsPerCore == 0) Restart();
    if (!core_->GetSession(sessionId_)) OpenLiveSession();
    FuzzedDataProvider input(data, size);
    const uint16_t opnum = input.ConsumeIntegralInRange<uint16_t>(0, 49);
    const auto found = definition_.procedures.find(opnum);
    if (found == definition_.procedures.end()) return;
    const DceRpc::Procedure& procedure = found->second;
    const uint8_t mode = input.ConsumeIntegral<uint8_t>();
    std::vector<uint8_t> stub;
    if (mode & 1) {
      stub = input.ConsumeRemainingBytes<uint8_t>();
    } else {
      DceRpc::Arguments args(procedure.spec.params.size());
      FillArguments(procedure.spec, input, args);
      DceRpc::EncodeRequestStub(procedure.spec, args, stub);
    }
    DceRpc::CallContext context;
    context.peerAddress = "127.0.0.1";
    std::vector<uint8_t> response;
    DceRpc::ExecuteCall(procedure, stub, (mode & 2) != 0, context, kMaxOutBytes, response);
  }

 private:
  void Restart() {
    core_.reset();
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(root_.Path(), ignored))
      std::filesystem::remove_all(entry.path(), ignored);
    core_ = std::make_unique<ServerCore::ServerImpl>([&] { ServerCore::ServerImpl::Seams s; s.listener = &listener_; s.providerCalls = &calls_; return s; }());
    if (core_->Init("") != 0) ::abort();
    OpenLiveSession();
  }

  void OpenLiveSession() {
    std::string error;
    if (!core_->OpenSession("<SessionInfo><Application>Fuzz</Application></SessionInfo>", sessionId_, error))
      ::abort();
  }

  void FillArguments(const DceRpc::ProcedureSpec& spec, FuzzedDataProvider& input, DceRpc::Arguments& args) {
    for (size_t i = 0; i < spec.params.size(); ++i) {
      switch (spec.params[i].kind) {
        case ParamKind::kInSmall: args.SetSmall(i, input.ConsumeIntegral<int8_t>()); break;
        case ParamKind::kInLong:
        case ParamKind::kInOutLong:
          args.SetLong(i, input.ConsumeIntegralInRange<int32_t>(-2, 2 * kMaxOutBytes));
          break;
        case ParamKind::kInOutDouble: args.SetDouble(i, input.ConsumeFloatingPoint<double>()); break;
        case ParamKind::kInString: args.SetText(i, input.ConsumeRandomLengthString(4096)); break;
        case ParamKind::kInOutString:
          // A placeholder: only its length matters to the server.
          args.SetText(i, std::string(input.ConsumeIntegralInRange<size_t>(0, 6000), 'x'));
          break;
        case ParamKind::kInChars: args.SetText(i, input.ConsumeRandomLengthString(32 * 1024)); break;
        case ParamKind::kInBytes: {
          const std::string bytes = input.ConsumeRandomLengthString(4096);
          args.SetData(i, DceRpc::Bytes(bytes.begin(), bytes.end()));
          break;
        }
        case ParamKind::kOutChars:
        case ParamKind::kOutBytes: break;
      }
    }
    // The caller's length of an array usually matches its data; the odd one that does not is
    // for the decoder to refuse.
    const bool honestLengths = input.ConsumeBool() || input.remaining_bytes() == 0;
    for (size_t i = 0; i < spec.params.size() && honestLengths; ++i) {
      const ParamKind kind = spec.params[i].kind;
      if (kind == ParamKind::kInChars) args.SetLong(spec.params[i].sizeParam, static_cast<int32_t>(args.Text(i).size()));
      if (kind == ParamKind::kInBytes) args.SetLong(spec.params[i].sizeParam, static_cast<int32_t>(args.Data(i).size()));
    }
  }

  TestSupport::TempFolder root_;
  TestSupport::ScopedEnv appData_{"PICTORA_COMMON_APPDATA", root_.Path()};
  TestSupport::ScopedEnv registry_{"PICTORA_REGISTRY_FILE", root_ / "pictora.conf"};
  TestSupport::QuietListener listener_;
  TestSupport::AnsweringProviderCalls calls_;  // every provider alive, nothing leaves the process
  std::unique_ptr<ServerCore::ServerImpl> core_;
  DceRpc::InterfaceDefinition definition_;
  std::string sessionId_;
  unsigned callCount_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness harness;
  harness.Run(data, size);
  return 0;
}
