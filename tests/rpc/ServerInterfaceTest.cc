// The procedure table as registered with the runtime. The wire tests (tests/e2e) call every
// procedure end to end; these cover what a peer cannot see.
#include "rpc/ServerInterface.h"

#include <gtest/gtest.h>

#include "interfaces/ServerProcedureShapes.h"
#include "servercore/ServerImpl.h"

namespace Korvane::Pictora::Rpc {
namespace {

TEST(ServerInterfaceTest, ServesExactlyTheProcedureNumbersOfThisLayer) {
  ServerCore::ServerImpl core;
  const auto definition = ServerInterfaceDefinition([&core] { return &core; });
  for (uint16_t opnum = 0; opnum < 60; ++opnum) {
    EXPECT_EQ(definition.procedures.count(opnum), FindServerProcedureSpec(opnum) != nullptr ? 1u : 0u) << opnum;
  }
  EXPECT_EQ(definition.procedures.size(), 45u);  // 0-4, 8-47
}

TEST(ServerInterfaceTest, ACallWithoutCoreFailsInsteadOfAnswering) {
  auto definition = ServerInterfaceDefinition([] { return static_cast<ServerCore::IServer*>(nullptr); });
  DceRpc::Arguments args(1);
  args.SetCapacity(0, 10);
  EXPECT_ANY_THROW(definition.procedures.at(ServerOp::kGetVersion).handler(DceRpc::CallContext{}, args));
}

TEST(ServerInterfaceTest, CallerIdentityFromTheCallContext) {
  DceRpc::CallContext pipe;
  pipe.transport = DceRpc::Transport::kPipe;
  pipe.hasCredentials = true;
  pipe.uid = 1001;
  pipe.gid = 100;
  pipe.groups = {100, 27};
  const auto local = ToCallerIdentity(pipe);
  EXPECT_TRUE(local.hasCredentials);
  EXPECT_EQ(std::make_tuple(local.uid, local.gid, local.supplementaryGroups),
            std::make_tuple(1001u, 100u, std::vector<gid_t>{100, 27}));

  DceRpc::CallContext tcp;
  tcp.peerAddress = "10.1.2.3";
  const auto remote = ToCallerIdentity(tcp);
  EXPECT_FALSE(remote.hasCredentials);
  EXPECT_EQ(remote.peerAddress, "10.1.2.3");
}

}  // namespace
}  // namespace Korvane::Pictora::Rpc
