// Registrations, lookups, reports, liveness passes and session churn on several threads at
// once. Meant for ThreadSanitizer; also checks that the registry ends consistent.
#include <gmock/gmock.h>

#include <atomic>
#include <thread>

#include "tests/servercore/ServerTestSupport.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore::Testing {
namespace {
namespace GU = GeneralUtilityLib;

constexpr int kRounds = 60;

class ConcurrencyTest : public ServerCoreTest {
 protected:
  void SetUp() override {
    ServerCoreTest::SetUp();
    WriteConfiguration("<Endpoint>4000</Endpoint><LicenseManager><ServerManagerAllowList>*"
                       "</ServerManagerAllowList></LicenseManager>");
    WriteServices(ServiceEntry("S1") + ServiceEntry("S2") + ServiceEntry("S3"));
    StartServer();
  }

  // Registers, updates and removes its own providers; keeps the last one registered.
  void Registrar(int id) {
    for (int round = 0; round < kRounds; ++round) {
      const std::string name = GU::Format("P%d-%d", id, round);
      const std::string endpoint = GU::Format("e%d-%d", id, round);
      calls_.SetLoad(endpoint, 0.01 * round);
      calls_.SetInfo(endpoint, "<Info><Basic><Load>0</Load></Basic><Services/></Info>");
      std::string sessionId, error, out;
      server_->OpenSession("<SessionInfo><Application>Provider</Application></SessionInfo>",
                           sessionId, error);
      if (!server_->GetSession(sessionId)) continue;
      server_->AddServiceProvider(name, sessionId, ProviderXml("h", endpoint), out);
      server_->AddServices(name, "<Pictora><ImageServices><Service><Name>S1</Name></Service>"
                                 "<Service><Name>S2</Name></Service></ImageServices></Pictora>",
                           out);
      server_->UpdateServiceProviderInfo(name, ProviderXml("h2", endpoint), out);
      if (round % 7 == 2) calls_.SetPing(endpoint, PingResult::Unreachable);
      if (round + 1 < kRounds) {
        server_->RemoveServices(name, "<Pictora><ImageServices><Service><Name>S2</Name>"
                                      "</Service></ImageServices></Pictora>", out);
        server_->RemoveServiceProvider(name);
      }
    }
  }

  void Reader() {
    for (int round = 0; round < kRounds; ++round) {
      std::string xml, out;
      Lookup("S1", xml);
      server_->GetInfo(CallerIdentity{}, round % 2 ? "Basic" : "Detailed", out);
      server_->GetInfo(CallerIdentity{}, "ServerManager", out);
      server_->GetServerInfoForClient("", "");
      server_->GetServiceProviders();
      server_->GetRegistrySnapshot();
      server_->GetServicesCount();
      server_->GetServiceProvidersCount();
      server_->GetServicesForServiceProvider("P0-0");
      server_->GetConfiguration();
      server_->GetServiceName("s3", xml, out);
    }
  }

  void SessionChurn() {
    for (int round = 0; round < kRounds; ++round) {
      std::string id, error, out;
      server_->OpenSession("<SessionInfo><Application>ServerManager</Application>"
                           "<MachineName>m</MachineName></SessionInfo>",
                           id, error);
      std::shared_ptr<ISession> session = server_->GetSession(id);
      server_->CloseSession(id, out);
      if (session) session->Info("MachineName");
    }
  }
};

TEST_F(ConcurrencyTest, EverythingAtOnce) {
  std::vector<std::thread> threads;
  for (int id = 0; id < 3; ++id) threads.emplace_back([this, id] { Registrar(id); });
  threads.emplace_back([this] { Reader(); });
  threads.emplace_back([this] { SessionChurn(); });
  threads.emplace_back([this] {
    for (int round = 0; round < kRounds / 4; ++round) server_->Manage();
  });
  threads.emplace_back([this] {
    for (int round = 0; round < 5; ++round) {
      WriteServices(ServiceEntry("S1") + ServiceEntry("S2") + ServiceEntry("S3") +
                    ServiceEntry(GU::Format("Extra%d", round)));
      server_->Synchronize("");
    }
  });
  for (std::thread& thread : threads) thread.join();

  // Each registrar kept its last provider (never made unreachable nor silent).
  server_->Manage();
  EXPECT_EQ(server_->GetServiceProvidersCount(), 3u) << ::testing::PrintToString(capture_.Messages());
  std::string xml;
  ASSERT_TRUE(Lookup("S1", xml));
  EXPECT_THAT(xml, ::testing::HasSubstr("e0-59"));
  EXPECT_THAT(xml, ::testing::HasSubstr("e2-59"));
}

}  // namespace
}  // namespace Korvane::Pictora::ServerCore::Testing
