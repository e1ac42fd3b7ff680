// Provider ranking by load, the liveness pass and sessions.
#include <gmock/gmock.h>

#include <atomic>
#include <thread>

#include "tests/servercore/ServerTestSupport.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore::Testing {
namespace {
namespace GU = GeneralUtilityLib;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

class RankingTest : public ServerCoreTest {
 protected:
  void SetUp() override {
    ServerCoreTest::SetUp();
    WriteConfiguration("<Endpoint>4000</Endpoint><CreateLogs>false</CreateLogs>");
    WriteServices(ServiceEntry("Render"));
    StartServer();
  }

  void Provide(const std::string& name, const std::string& endpoint) {
    RegisterProvider(name, endpoint);
    AddServices(name, "<Service><Name>Render</Name></Service>");
  }

  // The endpoints of the answer in order.
  std::vector<std::string> Ranked(const std::string& service = "Render") {
    std::string xml;
    EXPECT_TRUE(Lookup(service, xml)) << xml;
    std::vector<std::string> endpoints;
    for (std::size_t at = xml.find("<Endpoint>"); at != std::string::npos;
         at = xml.find("<Endpoint>", at + 1)) {
      const std::size_t start = at + 10;
      endpoints.push_back(xml.substr(start, xml.find('<', start) - start));
    }
    return endpoints;
  }
};

// Least loaded first; the e2e tests rank real providers the same way.
TEST_F(RankingTest, ASilentProviderRanksAsLoadOne) {
  calls_.SetLoad("e1", 1.5);
  calls_.SetLoad("e3", 0.9);
  calls_.SetLoad("e4", std::nan(""));
  Provide("A", "e1");
  Provide("B", "e2");  // no answer
  Provide("C", "e3");
  EXPECT_THAT(Ranked(), ElementsAre("e3", "e2", "e1"));
  Provide("D", "e4");  // NaN ranks like no answer
  const std::vector<std::string> ranked = Ranked();
  EXPECT_EQ(ranked.front(), "e3");
  EXPECT_EQ(ranked.back(), "e1");
}

TEST_F(RankingTest, AnswerTextIsExact) {
  calls_.SetLoad("e1", 0.1);
  Provide("A", "e1");
  std::string xml;
  ASSERT_TRUE(Lookup("render", xml));
  EXPECT_EQ(xml,
            "<Pictora><Server><ServiceProviders>\n<ServiceProvider><Config>\n\t"
            "<HostMachine>host-A</HostMachine>\n<Endpoint>e1</Endpoint>\n"
            "\n</Config></ServiceProvider>\n</ServiceProviders></Server></Pictora>");
  const int services = server_->GetServicesCount();
  ASSERT_TRUE(Lookup("Unknown", xml));
  EXPECT_EQ(xml, "<Pictora><Server><ServiceProviders>\n</ServiceProviders></Server></Pictora>");
  EXPECT_EQ(server_->GetServicesCount(), services);
}

TEST_F(RankingTest, LivenessDropsUnreachableAndRefusingProvidersOnly) {
  Provide("Alive", "e1");
  Provide("Gone", "e2");
  Provide("Refuses", "e3");
  Provide("Denied", "e4");
  calls_.SetPing("e2", PingResult::Unreachable);
  calls_.SetPing("e3", PingResult::Refused);
  calls_.SetPing("e4", PingResult::OtherError);
  capture_.Clear();
  server_->Manage();
  EXPECT_EQ(server_->GetServiceProviders(),
            "<Pictora>\n\t<ServiceProvider>Alive</ServiceProvider>\n\t<ServiceProvider>Denied"
            "</ServiceProvider>\n</Pictora>\n");
  EXPECT_THAT(capture_.Messages(),
              Contains("No response from ServiceProvider: 'Gone'; error: The RPC server is "
                       "unavailable.. Unregistering it."));
  EXPECT_THAT(capture_.Messages(), Contains("Removed serviceProvider: Refuses"));
  EXPECT_THAT(Ranked(), ElementsAre("e1", "e4"));
}

// Serial load queries hold the registry lock for a whole lookup; the pass must not wait for one
// lookup per ping, or with lookups coming one after another it lasts providers x lookup time.
TEST_F(RankingTest, LivenessPassDoesNotWaitForALookupPerPing) {
  for (int i = 0; i < 20; ++i) Provide("P" + std::to_string(i), "e" + std::to_string(i));
  calls_.SetSilent("e0", 50ms);
  calls_.pingDelayMs = 2;
  std::atomic<bool> passing{true};
  std::atomic<int> lookupsDone{0};
  std::thread lookups([&] {
    while (passing) {
      Ranked();
      ++lookupsDone;
    }
  });
  std::this_thread::sleep_for(50ms);  // the first lookup holds the lock
  server_->Manage();
  passing = false;
  lookups.join();
  EXPECT_EQ(calls_.PingCount(), 20);
  EXPECT_LE(lookupsDone.load(), 8);  // a lock per ping: a lookup per provider at least
}

TEST_F(RankingTest, LivenessWithoutProvidersPingsNobody) {
  server_->Manage();
  EXPECT_EQ(calls_.PingCount(), 0);
}

TEST_F(RankingTest, SessionsOpenLookUpAndCloseOnce) {
  std::string id, error;
  ASSERT_TRUE(server_->OpenSession("", id, error));
  EXPECT_EQ(id.size(), 36u);
  std::shared_ptr<ISession> session = server_->GetSession(GU::ToUpper(id));
  ASSERT_NE(session, nullptr);
  std::string out;
  EXPECT_TRUE(server_->CloseSession(id, out));
  EXPECT_FALSE(server_->CloseSession(id, out));
  // The holder's session stays usable after the close.
  EXPECT_EQ(session->GetSessionId(), id);
}

TEST_F(RankingTest, SessionLogsWhoAskedForWhichService) {
  std::string id, error;
  ASSERT_TRUE(server_->OpenSession(
      "<SessionInfo><Application>Viewer</Application><MachineName>ws1</MachineName>"
      "<UserName>ann</UserName></SessionInfo>",
      id, error));
  std::string out;
  capture_.Clear();
  ASSERT_TRUE(server_->GetServiceProvidersFor(*server_->GetSession(id), CallerIdentity{}, "Render", out));
  EXPECT_THAT(capture_.Messages(),
              Contains("'ann' on 'ws1' using application 'Viewer' requested for service 'Render'"));
}

TEST_F(RankingTest, ServerManagerOutsideTheAllowListIsRefused) {
  WriteConfiguration("<Endpoint>4000</Endpoint><LicenseManager><ServerManagerAllowList>"
                     "ADMIN1;;admin2,</ServerManagerAllowList></LicenseManager>");
  std::string id, error;
  EXPECT_TRUE(server_->OpenSession(
      "<SessionInfo><Application>servermanager</Application><MachineName>admin1</MachineName>"
      "</SessionInfo>",
      id, error));
  EXPECT_FALSE(server_->OpenSession(
      "<SessionInfo><Application>ServerManager</Application><MachineName>intruder</MachineName>"
      "</SessionInfo>",
      id, error));
  EXPECT_THAT(error, HasSubstr("The application 'ServerManager' running  on host 'intruder' does "
                               "not have access rights on the Server running on host '"));
  EXPECT_THAT(error, HasSubstr("00D000"));
}

}  // namespace
}  // namespace Korvane::Pictora::ServerCore::Testing
