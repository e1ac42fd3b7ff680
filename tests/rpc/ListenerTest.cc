#include "rpc/Listener.h"

#include <gtest/gtest.h>

#include <string>

#include "dcerpc/Status.h"
#include "interfaces/ServerProcedureShapes.h"
#include "servercore/ServerImpl.h"

namespace Korvane::Pictora::Rpc {
namespace {

class ListenerTest : public testing::Test {
 protected:
  ServerCore::ServerImpl core_;
  Listener listener_{[this] { return &core_; }};
  std::string message_;
  long code_ = 0;
};

TEST_F(ListenerTest, ServesTheInterfaceUntilStopped) {
  ASSERT_TRUE(listener_.StartListening("0", "ncacn_ip_tcp", message_, code_)) << message_;
  const uint16_t port = listener_.TcpPort();
  ASSERT_NE(port, 0);

  auto binding = BindToEndpoint("127.0.0.1", std::to_string(port), "ncacn_ip_tcp");
  ASSERT_TRUE(binding.has_value());
  DceRpc::Arguments args(1);
  args.SetText(VersionParam::kVersion, std::string(16, 'x'));
  binding->Call(ServerInterfaceId(), ServerOp::kGetVersion, ServerProcedureSpec(ServerOp::kGetVersion), args);
  EXPECT_EQ(args.Text(VersionParam::kVersion), "1.0.0.2");

  EXPECT_FALSE(listener_.StartListening("0", "ncacn_ip_tcp", message_, code_));
  EXPECT_EQ(code_, static_cast<long>(DceRpc::StatusCode::kAlreadyListening));

  EXPECT_TRUE(listener_.StopListening());
  EXPECT_FALSE(listener_.StopListening());
  EXPECT_EQ(listener_.TcpPort(), 0);
  DceRpc::ClearClientConnectionPool();
  EXPECT_THROW(binding->Call(ServerInterfaceId(), ServerOp::kGetVersion,
                             ServerProcedureSpec(ServerOp::kGetVersion), args),
               DceRpc::RpcError);
}

// The runtime's statuses for each kind of listening error are proven in tests/dcerpc; one shows
// that they come through.
TEST_F(ListenerTest, FailuresCarryTheRuntimeStatusAndText) {
  ASSERT_TRUE(listener_.StartListening("0", "ncacn_ip_tcp", message_, code_));
  ServerCore::ServerImpl otherCore;
  Listener other([&otherCore] { return &otherCore; });
  std::string message;
  long code = 0;
  EXPECT_FALSE(other.StartListening(std::to_string(listener_.TcpPort()), "ncacn_ip_tcp", message, code));
  EXPECT_EQ(code, static_cast<long>(DceRpc::StatusCode::kDuplicateEndpoint));
  EXPECT_EQ(message, DceRpc::StatusText(DceRpc::StatusCode::kDuplicateEndpoint));
}

}  // namespace
}  // namespace Korvane::Pictora::Rpc
