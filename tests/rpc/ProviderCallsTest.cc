// ProviderCalls against a provider served in process by the runtime. The server calls Ping and
// GetLoad; GetInfo is kept for the administration facade to come (a hostile provider's answers
// bounded here). The service commands, unused until then, are not tested.
#include "rpc/ProviderCalls.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "dcerpc/Client.h"
#include "tests/rpc/FakeProvider.h"

namespace Korvane::Pictora::Rpc {
namespace {

using DceRpc::Arguments;
using ServerCore::PingResult;
using Testing::FakeProvider;
namespace Op = ProviderOp;

// A port nobody listens on: bound, then closed.
std::string ClosedPort() {
  DceRpc::Server server;
  EXPECT_TRUE(server.Listen("ncacn_ip_tcp", "0").ok());
  std::string port = std::to_string(server.TcpPort());
  server.StopListening();
  return port;
}

class ProviderCallsTest : public ::testing::Test {
 protected:
  void TearDown() override { DceRpc::ClearClientConnectionPool(); }
  FakeProvider provider_;
  ProviderCalls calls_;
};

TEST_F(ProviderCallsTest, PingTellsAliveRefusedUnreachableAndOtherErrorApart) {
  const std::pair<FakeProvider::Body, PingResult> answers[] = {
      {[](Arguments& a) { a.SetResultSmall(1); }, PingResult::Alive},
      {[](Arguments& a) { a.SetResultSmall(0); }, PingResult::Refused},
      {[](Arguments&) { throw std::runtime_error("refused"); }, PingResult::OtherError},
  };
  for (const auto& [body, expected] : answers) {
    FakeProvider provider;
    const std::string port = provider.On(Op::kPing, body).Start();
    std::string errorText;
    EXPECT_EQ(calls_.Ping("127.0.0.1", port, errorText), expected);
    EXPECT_EQ(errorText.empty(), expected != PingResult::OtherError) << errorText;
  }
  // Nobody there, or no address to call.
  const std::pair<std::string, std::string> absent[] = {
      {"127.0.0.1", ClosedPort()}, {"", "4000"}, {"127.0.0.1", ""}, {"127.0.0.1", "not-a-port"}};
  for (const auto& [host, endpoint] : absent) {
    std::string errorText;
    EXPECT_EQ(calls_.Ping(host, endpoint, errorText), PingResult::Unreachable) << host << ":" << endpoint;
    EXPECT_FALSE(errorText.empty());
  }
}

TEST_F(ProviderCallsTest, SilentProviderCostsOnlyTheCallTimeout) {
  const std::string port = provider_.On(Op::kPing, [](Arguments& a) {
                                      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
                                      a.SetResultSmall(1);
                                    }).Start();
  const DceRpc::ClientTimeouts saved = DceRpc::DefaultClientTimeouts();
  DceRpc::SetDefaultClientTimeouts({std::chrono::milliseconds(1000), std::chrono::milliseconds(300)});
  auto started = std::chrono::steady_clock::now();
  std::string errorText;
  PingResult result = calls_.Ping("127.0.0.1", port, errorText);
  auto took = std::chrono::steady_clock::now() - started;
  DceRpc::SetDefaultClientTimeouts(saved);
  EXPECT_EQ(result, PingResult::TimedOut);  // told apart from refusals: it counts as a failed pass
  EXPECT_LT(took, std::chrono::milliseconds(1200));
}

TEST_F(ProviderCallsTest, LoadIsWhatTheProviderWritesAndUntouchedOnFailure) {
  provider_.On(Op::kGetLoad, [](Arguments& a) { a.SetDouble(0, a.Double(0) * 0.25); });
  FakeProvider faulting;
  faulting.On(Op::kGetLoad, [](Arguments&) { throw std::runtime_error("busy"); });
  double load = 1.0;
  EXPECT_TRUE(calls_.GetLoad("127.0.0.1", provider_.Start(), load));
  EXPECT_DOUBLE_EQ(load, 0.25);  // the value sent is the one the provider scales
  for (const std::string& port : {faulting.Start(), ClosedPort()}) {
    double untouched = 0.5;
    EXPECT_FALSE(calls_.GetLoad("127.0.0.1", port, untouched)) << port;
    EXPECT_DOUBLE_EQ(untouched, 0.5);
  }
}

// The information request: a buffer reply, the first buffer 40000 bytes, a second call with the
// size asked for (+ 1) when that is larger. Anything else gives empty text.
TEST_F(ProviderCallsTest, InformationIsFetchedInAtMostTwoCalls) {
  const auto text = [](size_t length) { return "<I>" + std::string(length - 7, 'x') + "</I>"; };
  struct Case {
    std::vector<int32_t> results;  // the provider's result on each call; 0: the text of `length`
    size_t length;
    size_t calls;
  };
  const Case cases[] = {
      {{0}, 10, 1}, {{0}, 39999, 1},  // 39999 characters and the NUL fill the first buffer exactly
      {{40001, 0}, 40000, 2}, {{65001, 0}, 65000, 2},
      {{-1}, 0, 1}, {{100}, 0, 1}, {{50000, 50000}, 0, 2}, {{50000, -1}, 0, 2},
      {{0x7fffffff}, 0, 1},  // no sane report is that large: no second call
  };
  for (const Case& c : cases) {
    FakeProvider provider;
    size_t call = 0;
    const std::string port = provider.On(Op::kGetInfo, [&](Arguments& a) {
      const int32_t result = c.results[std::min(call++, c.results.size() - 1)];
      if (result == 0) a.SetText(2, text(c.length) + '\0');
      a.SetResultLong(result);
    }).Start();
    EXPECT_EQ(calls_.GetInfo("127.0.0.1", port, "Detailed"), c.length == 0 ? "" : text(c.length)) << c.length;
    const std::vector<FakeProvider::Call> seen = provider.Calls();
    ASSERT_EQ(seen.size(), c.calls) << c.length;
    EXPECT_EQ(seen[0].args.Text(0), "Detailed");
    EXPECT_EQ(seen[0].args.Long(1), 40000);
    if (seen.size() == 2) {
      EXPECT_EQ(seen[1].args.Long(1), c.results[0] + 1);  // the size asked for + 1
    }
    for (const FakeProvider::Call& seenCall : seen) EXPECT_EQ(seenCall.args.Text(3), std::string(3999, 'A'));
    DceRpc::ClearClientConnectionPool();
  }
  EXPECT_EQ(calls_.GetInfo("127.0.0.1", ClosedPort(), "Detailed"), "");
}

}  // namespace
}  // namespace Korvane::Pictora::Rpc
