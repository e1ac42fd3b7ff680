#include "rpc/Listener.h"

#include <gtest/gtest.h>

#include <string>

#include "dcerpc/Status.h"
#include "rpc/ServerProcedureShapes.h"
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

TEST_F(ListenerTest, FailuresCarryTheRuntimeStatusAndText) {
  ASSERT_TRUE(listener_.StartListening("0", "ncacn_ip_tcp", message_, code_));
  const std::string taken = std::to_string(listener_.TcpPort());
  struct Case {
    std::string endpoint;
    std::string protocol;
  };
  const Case cases[] = {{taken, "ncacn_ip_tcp"}, {"not-a-port", "ncacn_ip_tcp"}, {"1", "ncacn_bogus"}};
  for (const Case& c : cases) {
    ServerCore::ServerImpl otherCore;
    Listener other([&otherCore] { return &otherCore; });
    std::string message;
    long code = 0;
    SCOPED_TRACE(c.protocol + " " + c.endpoint);
    EXPECT_FALSE(other.StartListening(c.endpoint, c.protocol, message, code));
    EXPECT_NE(code, 0);
    EXPECT_FALSE(message.empty());
  }
}

TEST(BindToEndpointTest, NothingForTextsThatMakeNoBinding) {
  struct Case {
    const char* address;
    const char* endpoint;
    const char* protocol;
    bool made;
  };
  const Case cases[] = {
      {"127.0.0.1", "3982", "ncacn_ip_tcp", true}, {"", "3982", "ncacn_ip_tcp", false},
      {"127.0.0.1", "", "ncacn_ip_tcp", false},    {"127.0.0.1", "port", "ncacn_ip_tcp", false},
      {"127.0.0.1", "3982", "ncacn_nope", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(BindToEndpoint(c.address, c.endpoint, c.protocol).has_value(), c.made)
        << c.address << "|" << c.endpoint << "|" << c.protocol;
}

}  // namespace
}  // namespace Korvane::Pictora::Rpc
