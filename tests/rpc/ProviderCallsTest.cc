// ProviderCalls against a provider served in process by the runtime.
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
  EXPECT_EQ(result, PingResult::OtherError);  // a time-out is not a dead provider
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

// The provider's side of the information request: a buffer reply of `text`.
FakeProvider::Body InfoReply(std::string text) {
  return [text](Arguments& a) {
    int32_t need = static_cast<int32_t>(text.size() + 1);
    if (a.Long(1) < need) return a.SetResultLong(need);
    a.SetText(2, text + '\0');
    a.SetResultLong(0);
  };
}

TEST_F(ProviderCallsTest, InformationFitsTheFirstBufferOrIsFetchedOnceMore) {
  // 39999 characters and the NUL fill the first buffer exactly; one more needs the second call.
  for (size_t length : {size_t{10}, size_t{39999}, size_t{40000}, size_t{65000}}) {
    FakeProvider provider;
    const std::string text = "<I>" + std::string(length - 7, 'x') + "</I>";
    const std::string port = provider.On(Op::kGetInfo, InfoReply(text)).Start();
    EXPECT_EQ(calls_.GetInfo("127.0.0.1", port, "Detailed"), text) << length;

    const std::vector<FakeProvider::Call> seen = provider.Calls();
    ASSERT_EQ(seen.size(), length < 40000 ? 1u : 2u) << length;
    EXPECT_EQ(seen[0].args.Text(0), "Detailed");
    EXPECT_EQ(seen[0].args.Long(1), 40000);
    if (seen.size() == 2) {
      EXPECT_EQ(seen[1].args.Long(1), static_cast<int32_t>(text.size() + 2));  // needed size + 1
    }
    for (const FakeProvider::Call& call : seen) EXPECT_EQ(call.args.Text(3), std::string(3999, 'A'));
    DceRpc::ClearClientConnectionPool();
  }
}

TEST_F(ProviderCallsTest, InformationIsEmptyForAnyOtherOutcome) {
  struct Case {
    const char* name;
    std::vector<int32_t> results;  // what the provider returns on each call
    size_t expectedCalls;
  };
  const std::vector<Case> cases = {
      {"failure", {-1}, 1},
      {"size below the first buffer", {100}, 1},
      {"second answer still a size", {50000, 50000}, 2},
      {"second answer a failure", {50000, -1}, 2},
      {"absurd size", {0x7fffffff}, 1},
  };
  for (const Case& c : cases) {
    FakeProvider provider;
    size_t call = 0;
    const std::string port = provider.On(Op::kGetInfo, [&](Arguments& a) {
      a.SetResultLong(c.results[std::min(call++, c.results.size() - 1)]);
    }).Start();
    EXPECT_EQ(calls_.GetInfo("127.0.0.1", port, "Detailed"), "") << c.name;
    EXPECT_EQ(provider.Calls().size(), c.expectedCalls) << c.name;
    DceRpc::ClearClientConnectionPool();
  }
  EXPECT_EQ(calls_.GetInfo("127.0.0.1", ClosedPort(), "Detailed"), "");
}

TEST_F(ProviderCallsTest, ServiceCallsSendTheirTextsAndReturnTheProvidersAnswer) {
  const std::string A(3999, 'A');
  struct Case {
    uint16_t opnum;
    std::function<bool(ProviderCalls&, const std::string&)> call;
    std::vector<std::string> texts;  // what the provider must receive, in order
  };
  const std::vector<Case> cases = {
      {Op::kStartService,
       [](ProviderCalls& c, const std::string& p) { return c.StartService("127.0.0.1", p, "src", "Img/One", "<P/>"); },
       {"Pictora", "src", "Img/One", "<P/>", A}},
      {Op::kStopService, [](ProviderCalls& c, const std::string& p) { return c.StopService("127.0.0.1", p, "Img/One"); },
       {"Pictora", "Img/One", A}},
      {Op::kRefreshService,
       [](ProviderCalls& c, const std::string& p) { return c.RefreshService("127.0.0.1", p, "<Service/>"); },
       {"<Service/>", A}},
      {Op::kRefreshAllServices, [](ProviderCalls& c, const std::string& p) { return c.RefreshAllServices("127.0.0.1", p); },
       {"Pictora", A}},
      {Op::kRefreshConfiguration,
       [](ProviderCalls& c, const std::string& p) { return c.RefreshConfiguration("127.0.0.1", p); }, {"Pictora", A}},
  };
  for (const Case& c : cases) {
    for (int8_t answer : {int8_t{1}, int8_t{0}}) {
      FakeProvider provider;
      const std::string port = provider.On(c.opnum, [answer](Arguments& a) { a.SetResultSmall(answer); }).Start();
      EXPECT_EQ(c.call(calls_, port), answer == 1) << c.opnum;
      const std::vector<FakeProvider::Call> seen = provider.Calls();
      ASSERT_EQ(seen.size(), 1u);
      EXPECT_EQ(seen[0].opnum, c.opnum);
      for (size_t i = 0; i < c.texts.size(); ++i) EXPECT_EQ(seen[0].args.Text(i), c.texts[i]) << c.opnum << " #" << i;
      DceRpc::ClearClientConnectionPool();
    }
    EXPECT_FALSE(c.call(calls_, ClosedPort())) << c.opnum;
  }
}

}  // namespace
}  // namespace Korvane::Pictora::Rpc
