// The settings that tighten the core against failing and hostile peers.
#include <gmock/gmock.h>

#include <future>
#include <thread>

#include "servercore/ParallelLoads.h"
#include "servercore/ResilienceSettings.h"
#include "servercore/SessionTable.h"
#include "tests/servercore/ServerTestSupport.h"

namespace Korvane::Pictora::ServerCore::Testing {
namespace {
using ::testing::HasSubstr;
using namespace std::chrono_literals;

class ResilienceTest : public ServerCoreTest {
 protected:
  void Start(const std::string& settings) {
    WriteConfiguration("<Endpoint>4000</Endpoint><CreateLogs>false</CreateLogs>" + settings);
    WriteServices(ServiceEntry("Render"));
    StartServer();
  }
  void Provide(const std::string& name, const std::string& endpoint) {
    RegisterProvider(name, endpoint);
    AddServices(name, "<Service><Name>Render</Name></Service>");
  }
};

TEST_F(ResilienceTest, ParallelLoadQueriesRankAlikeWithoutHoldingTheRegistry) {
  Start("<ParallelLoadQueries>yes</ParallelLoadQueries><LoadQueryBudgetMs>400</LoadQueryBudgetMs>");
  calls_.SetLoad("e1", 0.7);
  calls_.SetLoad("e2", 0.2);
  calls_.SetSilent("e3", 1000ms);
  Provide("A", "e1");
  Provide("B", "e2");
  Provide("C", "e3");
  auto lookup = std::async(std::launch::async, [this] {
    std::string xml;
    EXPECT_TRUE(Lookup("Render", xml));
    return xml;
  });
  std::this_thread::sleep_for(100ms);  // the lookup now waits for C
  const auto began = std::chrono::steady_clock::now();
  EXPECT_THAT(server_->GetServiceProviders(), HasSubstr("<ServiceProvider>C</ServiceProvider>"));
  EXPECT_LT(std::chrono::steady_clock::now() - began, 200ms);  // not behind the lookup
  const std::string xml = lookup.get();
  // C did not answer within the budget: it ranks as load 1.0, as the serial ranking has it.
  EXPECT_LT(xml.find("<Endpoint>e2</Endpoint>"), xml.find("<Endpoint>e1</Endpoint>"));
  EXPECT_LT(xml.find("<Endpoint>e1</Endpoint>"), xml.find("<Endpoint>e3</Endpoint>"));
}

TEST_F(ResilienceTest, ParallelLoadQueriesAskEveryCandidateBeyondTheQueue) {
  ParallelLoads loads(&calls_, 1, 2);
  std::vector<std::pair<std::string, std::string>> addresses;
  for (int i = 0; i < 50; ++i) {
    addresses.emplace_back("host", "e" + std::to_string(i));
    calls_.SetLoad("e" + std::to_string(i), 0.25);
  }
  EXPECT_EQ(loads.Ask(addresses, 5000ms), std::vector<double>(50, 0.25));
  calls_.SetSilent("e0", 1000ms);  // holds the only thread: the rest cannot be queued in time
  const auto began = std::chrono::steady_clock::now();
  const auto answered = loads.Ask(addresses, 100ms);
  EXPECT_LT(std::chrono::steady_clock::now() - began, 800ms);
  EXPECT_EQ(std::count(answered.begin(), answered.end(), 1.0), 50);
}

TEST_F(ResilienceTest, TheRegistrySnapshotIsTheLastCopyWhileALookupHoldsTheRegistry) {
  Start("");
  Provide("A", "e1");
  calls_.SetSilent("e1", 1000ms);
  const auto first = server_->GetRegistrySnapshot();
  ASSERT_EQ(first->providers.size(), 1u);
  EXPECT_EQ(first->providers[0].host + " " + first->providers[0].endpoint, "host-A e1");
  EXPECT_EQ(first->providers[0].services, std::vector<std::string>{"Render"});
  auto lookup = std::async(std::launch::async, [this] {
    std::string xml;
    return Lookup("Render", xml);
  });
  std::this_thread::sleep_for(100ms);  // the lookup now waits for A's load, holding the registry
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(server_->GetRegistrySnapshot(), first);
  EXPECT_LT(std::chrono::steady_clock::now() - began, 200ms);
  lookup.get();
  EXPECT_NE(server_->GetRegistrySnapshot(), first);  // a fresh copy once it is free
}

TEST_F(ResilienceTest, TimedOutPingsCountAsFailures) {
  Start("<LivenessFailuresBeforeRemoval>2</LivenessFailuresBeforeRemoval>");
  Provide("Silent", "e1");
  calls_.SetPing("e1", PingResult::TimedOut);
  // The core was made with a 60 s period: a first pass right away is on time.
  server_->Manage();
  EXPECT_EQ(server_->GetServiceProvidersCount(), 1u);  // one failure of two
  server_->Manage();
  EXPECT_EQ(server_->GetServiceProvidersCount(), 0u);
}

TEST_F(ResilienceTest, APassFarLaterThanDueDropsNobody) {
  livenessPeriod_ = 20ms;
  Start("");
  Provide("Gone", "e1");
  calls_.SetPing("e1", PingResult::Unreachable);
  std::this_thread::sleep_for(60ms);  // the host stood still
  server_->Manage();
  EXPECT_EQ(server_->GetServiceProvidersCount(), 1u);
  server_->Manage();  // on time again
  EXPECT_EQ(server_->GetServiceProvidersCount(), 0u);
}

TEST_F(ResilienceTest, SessionsAreCappedAndIdleOnesClosed) {
  Start("<MaxSessions>2</MaxSessions>");
  std::string first, second, third, error;
  ASSERT_TRUE(server_->OpenSession("", first, error));
  ASSERT_TRUE(server_->OpenSession("", second, error));
  EXPECT_FALSE(server_->OpenSession("", third, error));
  EXPECT_THAT(error, HasSubstr("limit of 2 open sessions"));
  EXPECT_FALSE(server_->AdmitSession("", 2, error));  // management sessions: the same bound

  SessionTable table;
  table.Add(std::make_shared<Session>());
  std::this_thread::sleep_for(50ms);
  auto used = std::make_shared<Session>();
  table.Add(used);
  EXPECT_EQ(table.CloseIdle(30ms), 1u);
  EXPECT_NE(table.Find(used->GetSessionId()), nullptr);
}

TEST_F(ResilienceTest, VerifyPeerAddressChecksTheConnectionToo) {
  Start("<VerifyPeerAddress>true</VerifyPeerAddress><LicenseManager><ServerManagerAllowList>10.0.0.5"
        "</ServerManagerAllowList></LicenseManager>");
  const std::string claim =
      "<SessionInfo><Application>ServerManager</Application><MachineName>10.0.0.5</MachineName></SessionInfo>";
  std::string id, error;
  EXPECT_FALSE(server_->OpenSession(claim, CallerIdentity::FromAddress("10.9.9.9"), id, error));
  EXPECT_TRUE(server_->OpenSession(claim, CallerIdentity::FromAddress("10.0.0.5"), id, error));
  EXPECT_TRUE(server_->OpenSession(claim, CallerIdentity::FromAddress("127.0.0.1"), id, error));
}

TEST(ResilienceSettingsTest, RemoteStopFrom) {
  const CallerIdentity remote = CallerIdentity::FromAddress("10.1.1.1");
  const CallerIdentity loopback = CallerIdentity::FromAddress("::1");
  const struct {
    const char* setting;
    bool remoteMay;
    bool loopbackMay;
  } cases[] = {{"", true, true}, {"ANY", true, true}, {"none", false, false}, {"local", false, true},
               {"10.1.1.1; 10.2.2.2", true, false}};
  for (const auto& c : cases) {
    GeneralUtilityLib::ElementList config;
    if (*c.setting) config["RemoteStopFrom"] = c.setting;
    const ResilienceSettings settings = ResilienceSettings::From(config);
    EXPECT_EQ(settings.MayStop(remote), c.remoteMay) << c.setting;
    EXPECT_EQ(settings.MayStop(loopback), c.loopbackMay) << c.setting;
  }
}

}  // namespace
}  // namespace Korvane::Pictora::ServerCore::Testing
