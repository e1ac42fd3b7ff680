// The procedure table's own rules, called the way the runtime calls the handlers, on a core
// that has not been started (no sessions, no providers).
#include "rpc/ServerInterface.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "rpc/ServerProcedureSpecs.h"
#include "servercore/ServerImpl.h"

namespace Korvane::Pictora::Rpc {
namespace {

using DceRpc::Arguments;
using DceRpc::ParamKind;

constexpr char kPlaceholder[] = "placeholder-text";

class ServerInterfaceTest : public testing::Test {
 protected:
  ServerInterfaceTest() : definition_(ServerInterfaceDefinition([this] { return &core_; })) {}

  // Arguments as the runtime decodes them: every text the placeholder (its length is the
  // reply capacity), sizes `size`, data "x".
  Arguments Decoded(uint16_t opnum, int32_t size = 64) {
    const DceRpc::ProcedureSpec& spec = ServerProcedureSpec(opnum);
    Arguments args(spec.params.size());
    for (size_t i = 0; i < spec.params.size(); ++i) {
      switch (spec.params[i].kind) {
        case ParamKind::kInString:
        case ParamKind::kInOutString:
          args.SetText(i, kPlaceholder);
          args.SetCapacity(i, sizeof kPlaceholder - 1);
          break;
        case ParamKind::kInLong:
        case ParamKind::kInOutLong: args.SetLong(i, size); break;
        case ParamKind::kInChars: args.SetText(i, "x"); break;
        default: break;
      }
    }
    for (size_t i = 0; i < spec.params.size(); ++i) {
      const auto& param = spec.params[i];
      if (param.kind == ParamKind::kOutChars || param.kind == ParamKind::kOutBytes)
        args.SetCapacity(i, static_cast<uint32_t>(args.Long(param.sizeParam)));
    }
    return args;
  }

  void Invoke(uint16_t opnum, Arguments& args) {
    definition_.procedures.at(opnum).handler(DceRpc::CallContext{}, args);
  }

  // True when no in/out text and no out array was touched.
  static bool OutUntouched(uint16_t opnum, const Arguments& args) {
    const DceRpc::ProcedureSpec& spec = ServerProcedureSpec(opnum);
    for (size_t i = 0; i < spec.params.size(); ++i) {
      const ParamKind kind = spec.params[i].kind;
      if (kind == ParamKind::kInOutString && args.Text(i) != kPlaceholder) return false;
      if ((kind == ParamKind::kOutChars || kind == ParamKind::kOutBytes) &&
          !std::holds_alternative<std::monostate>(args.At(i)))
        return false;
    }
    return true;
  }

  ServerCore::ServerImpl core_;
  DceRpc::InterfaceDefinition definition_;
};

TEST_F(ServerInterfaceTest, ServesExactlyTheProcedureNumbersOfThisLayer) {
  for (uint16_t opnum = 0; opnum < 60; ++opnum) {
    const bool served = definition_.procedures.count(opnum) == 1;
    EXPECT_EQ(served, FindServerProcedureSpec(opnum) != nullptr) << opnum;
  }
  EXPECT_EQ(definition_.procedures.size(), 24u);  // 0-4, 8-24, 46, 47
  EXPECT_EQ(definition_.id.uuid.ToString(), "8a60fd6c-7ebf-4aee-839c-1df4243d03d2");
}

TEST_F(ServerInterfaceTest, UnknownSessionAnswersFailureAndTouchesNoOutParameter) {
  struct Case {
    uint16_t opnum;
    int32_t result;
  };
  const Case cases[] = {{10, 0}, {11, 0}, {12, 0}, {13, -1}, {14, -1}, {15, 0},
                        {16, 0}, {17, 0}, {18, -1}, {19, -1}, {21, -1}};
  for (const Case& c : cases) {
    Arguments args = Decoded(c.opnum);
    Invoke(c.opnum, args);
    const bool isLong = ServerProcedureSpec(c.opnum).result == DceRpc::ResultKind::kLong;
    EXPECT_EQ(isLong ? args.ResultLong() : args.ResultSmall(), c.result) << c.opnum;
    EXPECT_TRUE(OutUntouched(c.opnum, args)) << c.opnum;
  }
}

TEST_F(ServerInterfaceTest, ReservedProceduresAnswerTheirFixedResultAndTouchNothing) {
  struct Case {
    uint16_t opnum;
    int32_t result;
  };
  const Case cases[] = {{1, 1}, {2, 1}, {3, 1}, {20, 0}, {22, 1}, {23, 1}};
  for (const Case& c : cases) {
    Arguments args = Decoded(c.opnum);
    Invoke(c.opnum, args);
    const bool isLong = ServerProcedureSpec(c.opnum).result == DceRpc::ResultKind::kLong;
    EXPECT_EQ(isLong ? args.ResultLong() : args.ResultSmall(), c.result) << c.opnum;
    EXPECT_TRUE(OutUntouched(c.opnum, args)) << c.opnum;
  }
  Arguments bytes = Decoded(ServerOp::kReserved2, 7);
  Invoke(ServerOp::kReserved2, bytes);
  EXPECT_EQ(bytes.Long(BytesParam::kOutLength), 7);
}

TEST_F(ServerInterfaceTest, VersionIsCutToThePlaceholderTheCallerSent) {
  Arguments roomy = Decoded(ServerOp::kGetVersion);
  Invoke(ServerOp::kGetVersion, roomy);
  EXPECT_EQ(roomy.Text(VersionParam::kVersion), "1.0.0.2");
  EXPECT_EQ(roomy.ResultSmall(), 1);

  Arguments tight = Decoded(ServerOp::kGetVersion);
  tight.SetCapacity(VersionParam::kVersion, 3);
  Invoke(ServerOp::kGetVersion, tight);
  EXPECT_EQ(tight.Text(VersionParam::kVersion), "1.0");
}

TEST_F(ServerInterfaceTest, ProviderTextsWithoutAnswerFailWithAnEmptyErrorText) {
  for (uint16_t opnum : {ServerOp::kGetServicesForServiceProvider, ServerOp::kGetServiceProviderConfiguration}) {
    Arguments args = Decoded(opnum);
    Invoke(opnum, args);
    EXPECT_EQ(args.ResultLong(), -1) << opnum;
    EXPECT_EQ(args.Text(NameBufferParam::kError), "") << opnum;
  }
}

TEST_F(ServerInterfaceTest, StopRequestRaisesTheFlagWhateverTheTexts) {
  Arguments args = Decoded(ServerOp::kSetStopFlag);
  Invoke(ServerOp::kSetStopFlag, args);
  EXPECT_EQ(args.ResultSmall(), 1);
  EXPECT_TRUE(core_.GetStopFlag());
}

TEST(ServerInterfaceWithoutCoreTest, ACallWithoutCoreFailsInsteadOfAnswering) {
  auto definition = ServerInterfaceDefinition([] { return static_cast<ServerCore::IServer*>(nullptr); });
  Arguments args(1);
  args.SetCapacity(0, 10);
  EXPECT_ANY_THROW(definition.procedures.at(ServerOp::kGetVersion).handler(DceRpc::CallContext{}, args));
}

}  // namespace
}  // namespace Korvane::Pictora::Rpc
