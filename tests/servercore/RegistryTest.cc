// Registration, update and removal of providers and services, and their log lines.
#include <gmock/gmock.h>

#include "tests/servercore/ServerTestSupport.h"
#include "util/Status.h"

namespace Korvane::Pictora::ServerCore::Testing {
namespace {
namespace GU = GeneralUtilityLib;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

class RegistryTest : public ServerCoreTest {
 protected:
  void SetUp() override {
    ServerCoreTest::SetUp();
    WriteConfiguration("<Endpoint>4000</Endpoint><CreateLogs>false</CreateLogs>");
    WriteServices(ServiceEntry("Imaging/Render") + ServiceEntry("Imaging/Tiles") +
                  ServiceEntry("Maps"));
    memoryGuard_ = std::make_unique<MemoryGuard>(8 * kMiB, [this] { return resident_; }, [this] { ++returnedFreed_; });
    StartServer();
    RegisterProvider("P1", "e1");
    capture_.Clear();
  }

  static constexpr std::size_t kMiB = 1 << 20;
  std::size_t resident_ = 0;
  int returnedFreed_ = 0;

  std::vector<std::string> Registry(const char* prefix) {
    std::vector<std::string> lines;
    for (const std::string& message : capture_.Messages()) {
      if (message.rfind(prefix, 0) == 0) lines.push_back(message);
    }
    return lines;
  }
};

TEST_F(RegistryTest, KeysIgnoreCaseSlashesAndBlanksAndKeepTheFirstSpelling) {
  std::string statusXml;
  EXPECT_FALSE(server_->AddServiceProvider(" p1 ", "s", ProviderXml("h", "e"), statusXml));
  GU::Status status;
  ASSERT_TRUE(status.AddXml(statusXml));
  ASSERT_EQ(status.Count(), 1u);
  EXPECT_EQ(status.GetItem(0).id, 15617u);
  EXPECT_EQ(status.GetItem(0).message, "ServiceProvider ' p1 ' already registered");

  AddServices("p1", "<Service><Name> imaging\\RENDER </Name></Service>");
  EXPECT_THAT(capture_.Messages(), Contains("Registered Service 'imaging/RENDER' from 'p1'"));
  EXPECT_EQ(server_->GetServices("P1"),
            "<Pictora>\n\t<ImageService>imaging/RENDER</ImageService>\n</Pictora>\n");
  EXPECT_EQ(server_->GetServiceProviders(), "<Pictora>\n\t<ServiceProvider>P1</ServiceProvider>\n</Pictora>\n");
  std::string stored, message;
  EXPECT_TRUE(server_->GetServiceName(" IMAGING\\render", stored, message));
  EXPECT_EQ(stored, "Imaging/Render");
  EXPECT_FALSE(server_->GetServiceName("Nope", stored, message));
  EXPECT_EQ(message,
            "Failed to get the service name. The service 'Nope'is not registered on the Server");
}

TEST_F(RegistryTest, RegisteringTwiceUpdatesTheProperties) {
  AddServices("P1", "<Service><Name>Maps</Name><Scale>1</Scale></Service>");
  AddServices("P1", "<Service><Name>Maps</Name><Scale>2</Scale></Service>");
  EXPECT_THAT(Registry(""), ElementsAre("Registered Service 'Maps' from 'P1'",
                                        "Updated properties of Service 'Maps' from 'P1'"));
  EXPECT_THAT(server_->GetServiceInfo("p1", "maps"), HasSubstr("<Scale>2</Scale>"));
  EXPECT_EQ(server_->GetServicesCount(), 1);
}

TEST_F(RegistryTest, FailureReportEndsTheDocument) {
  AddServices("P1",
              "<Service><Name>Imaging/Tiles</Name><Status></Status></Service>"
              "<Service><Name>Maps</Name></Service><Service><Name>Imaging/Render</Name></Service>");
  EXPECT_THAT(Registry("Registered"), ElementsAre());
  EXPECT_EQ(server_->GetServices("P1"), "<Pictora>\n</Pictora>\n");
  EXPECT_EQ(server_->GetServicesCount(), 0);
}

TEST_F(RegistryTest, UnknownServicesAndNamelessElementsChangeNothing) {
  AddServices("P1", "<Service><Name>Nope</Name></Service><Service><Other/></Service>"
                    "<Service><Name>Maps</Name></Service>");
  EXPECT_THAT(Registry("Registered"), ElementsAre("Registered Service 'Maps' from 'P1'"));
  EXPECT_EQ(server_->GetServicesCount(), 1);
}

TEST_F(RegistryTest, RemovingAProviderUnregistersItsServicesFirst) {
  AddServices("P1", "<Service><Name>Maps</Name></Service><Service><Name>Imaging/Render</Name>"
                    "</Service>");
  capture_.Clear();
  EXPECT_TRUE(server_->RemoveServiceProvider("p1"));
  EXPECT_THAT(capture_.Messages(),
              ElementsAre("Unregistered Service 'Imaging/Render' from 'P1'",
                          "Unregistered Service 'Maps' from 'P1'", "Removed serviceProvider: p1"));
  EXPECT_EQ(server_->GetServiceProvidersCount(), 0u);
  EXPECT_EQ(server_->GetSession("session-P1"), nullptr);
  // Allocation entries stay, empty.
  EXPECT_EQ(server_->GetServicesCount(), 2);
}

TEST_F(RegistryTest, RemoveServicesUnregistersTheNamedOnes) {
  AddServices("P1", "<Service><Name>Maps</Name></Service><Service><Name>Imaging/Render</Name>"
                    "</Service>");
  capture_.Clear();
  std::string out;
  EXPECT_TRUE(server_->RemoveServices(
      "P1", "<Pictora><ImageServices><Service><Name>maps</Name></Service></ImageServices></Pictora>",
      out));
  EXPECT_THAT(capture_.Messages(), ElementsAre("Unregistered Service 'maps' from 'P1'"));
  EXPECT_EQ(server_->GetServices("P1"),
            "<Pictora>\n\t<ImageService>Imaging/Render</ImageService>\n</Pictora>\n");
}

TEST_F(RegistryTest, OperationsOnUnknownProvidersFailWithTheirCodes) {
  struct Case {
    const char* name;
    std::function<bool(std::string&)> call;
    std::uint32_t code;
    std::string message;
  };
  const std::string xml = "<Pictora><ImageServices/></Pictora>";
  const std::vector<Case> cases = {
      {"remove provider", [&](std::string&) { return server_->RemoveServiceProvider("X"); }, 15618,
       "Could not unregister ServiceProvider; ServiceProvider 'X' is not registered on this "
       "Server."},
      {"update", [&](std::string& out) { return server_->UpdateServiceProviderInfo("X", xml, out); },
       15619,
       "Could not update ServiceProvider info; ServiceProvider 'X' is not registered on this "
       "Server."},
      {"add services", [&](std::string& out) { return server_->AddServices("X", xml, out); }, 15620,
       "Could not register services of ServiceProvider 'X' as it is not registered on this "
       "Server."},
      {"remove services", [&](std::string& out) { return server_->RemoveServices("X", xml, out); },
       15621,
       "Could not unregister services of ServiceProvider 'X' as it is not registered on this "
       "Server."},
      {"host and port",
       [&](std::string& out) {
         std::string host, endpoint;
         return server_->GetServiceProviderHostAndPort("X", host, endpoint, out);
       },
       15624, "The Service Provider 'X' is not registered on the Server."},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_FALSE(c.call(out)) << c.name;
    const GU::Status& status = server_->GetStatus();
    ASSERT_GE(status.Count(), 1u) << c.name;
    EXPECT_EQ(status.GetItem(0).id, c.code) << c.name;
    EXPECT_EQ(status.GetItem(0).message, c.message) << c.name;
  }
}

TEST_F(RegistryTest, InvalidXmlFailsWithoutStoringAnything) {
  std::string out;
  // Failures of the text itself reach the caller through the core's status only.
  EXPECT_FALSE(server_->AddServiceProvider("P2", "s", "<Config>", out));
  EXPECT_EQ(out, "");
  EXPECT_THAT(server_->GetStatus().ToXml(), HasSubstr("Could not load XML"));
  EXPECT_EQ(server_->GetServiceProvidersCount(), 1u);
  EXPECT_FALSE(server_->AddServices("P1", "not xml", out));
  EXPECT_FALSE(server_->UpdateServiceProviderInfo("P1", "<a>", out));
}

TEST_F(RegistryTest, HostAndPortComeFromConfigAndMayBeEmpty) {
  std::string statusXml, host, endpoint;
  ASSERT_TRUE(server_->AddServiceProvider(
      "P2", "s2", "<SP><Config><HostMachine>h2</HostMachine></Config></SP>", statusXml));
  EXPECT_TRUE(server_->GetServiceProviderHostAndPort("p2", host, endpoint, statusXml));
  EXPECT_EQ(host, "h2");
  EXPECT_EQ(endpoint, "");
  std::string out;
  ASSERT_TRUE(server_->UpdateServiceProviderInfo(
      "P2", "<SP><Config><Endpoint> 77 </Endpoint></Config></SP>", out));
  EXPECT_TRUE(server_->GetServiceProviderHostAndPort("P2", host, endpoint, statusXml));
  EXPECT_EQ(host, "h2");
  EXPECT_EQ(endpoint, "77");
}

TEST_F(RegistryTest, ServicesFileEditsArePickedUpKeepingRunningState) {
  AddServices("P1", "<Service><Name>Maps</Name></Service>");
  WriteServices(ServiceEntry("Maps") + ServiceEntry("Fresh"));
  AddServices("P1", "<Service><Name>Fresh</Name></Service><Service><Name>Imaging/Tiles</Name>"
                    "</Service>");
  EXPECT_THAT(Registry("Registered"), ElementsAre("Registered Service 'Maps' from 'P1'",
                                                  "Registered Service 'Fresh' from 'P1'"));
  capture_.Clear();
  // Maps still knows it runs on P1: unregistering it is reported.
  std::string out;
  EXPECT_TRUE(server_->RemoveService("P1", "Maps", out));
  EXPECT_THAT(capture_.Messages(), ElementsAre("Unregistered Service 'Maps' from 'P1'"));
}

TEST_F(RegistryTest, ServicesForAProviderFollowStateAndProviderList) {
  WriteServices(ServiceEntry("Everyone") + ServiceEntry("Mine", "On", "p1;P2;") +
                ServiceEntry("Others", "On", "P2,P3") + ServiceEntry("Stopped", "Off") +
                ServiceEntry("No\\State", ""));
  const std::string text = server_->GetServicesForServiceProvider("P1");
  EXPECT_EQ(text.rfind("<Pictora><Services>", 0), 0u);
  EXPECT_THAT(text, HasSubstr("<Name>Everyone</Name>"));
  EXPECT_THAT(text, HasSubstr("<Name>Mine</Name>"));
  EXPECT_THAT(text, HasSubstr("<Name>No/State</Name>"));
  EXPECT_THAT(text, Not(HasSubstr("Others")));
  EXPECT_THAT(text, Not(HasSubstr("Stopped")));
}

// Every walk over a provider's text is linear: a service with very many different properties
// would otherwise hold the registry lock for minutes.
TEST_F(RegistryTest, AServiceWithManyPropertiesIsTakenInLinearTime) {
  std::string properties;
  for (int i = 0; i < 200000; ++i) properties += "<P" + std::to_string(i) + "/>";
  AddServices("P1", "<Service><Name>Maps</Name>" + properties + "</Service>");
  EXPECT_THAT(server_->GetServiceInfo("P1", "Maps"), HasSubstr("<P199999>"));
}

TEST_F(RegistryTest, AtTheMemoryLimitOnlyCallsThatFreeMemoryAreTaken) {
  resident_ = 9 * kMiB;
  auto refusal = [](const std::string& statusXml) {
    GU::Status status;
    EXPECT_TRUE(status.AddXml(statusXml)) << statusXml;
    return status.Count() == 0 ? GU::StatusItem{} : status.GetItem(0);
  };
  const std::string services = "<Pictora><ImageServices><Service><Name>Maps</Name></Service></ImageServices></Pictora>";
  std::string sessionId, error, out;
  EXPECT_FALSE(server_->OpenSession("<SessionInfo/>", sessionId, error));
  EXPECT_EQ(refusal(error).id, kStatusServerOutOfMemory);
  EXPECT_THAT(refusal(error).message, HasSubstr("holds 9 MiB of its 8 MiB limit"));
  EXPECT_FALSE(server_->AddServiceProvider("P2", "s", ProviderXml("h", "e2"), out));
  EXPECT_EQ(refusal(out).id, kStatusServerOutOfMemory);
  EXPECT_FALSE(server_->UpdateServiceProviderInfo("P1", ProviderXml("h", "e1"), out));
  EXPECT_EQ(refusal(out).id, kStatusServerOutOfMemory);
  EXPECT_FALSE(server_->AddServices("P1", services, out));
  EXPECT_EQ(refusal(out).id, kStatusServerOutOfMemory);
  EXPECT_EQ(server_->GetServices("P1"), "<Pictora>\n</Pictora>\n");
  EXPECT_EQ(returnedFreed_, 1);  // freed memory is given back before refusing, once per second
  // One log line when refusing starts, not one per refused call.
  EXPECT_EQ(Registry("Not enough server storage").size(), 1u);

  // Calls that free memory are never refused.
  EXPECT_TRUE(server_->RemoveServiceProvider("P1"));

  resident_ = 7 * kMiB;
  EXPECT_FALSE(server_->OpenSession("<SessionInfo>" + std::string(2 * kMiB, 'x') + "</SessionInfo>", sessionId,
                                    error));  // the incoming text counts
  EXPECT_TRUE(server_->OpenSession("<SessionInfo/>", sessionId, error)) << error;
  EXPECT_TRUE(server_->CloseSession(sessionId, out));
  EXPECT_EQ(Registry("Not enough server storage").size(), 1u);
  EXPECT_EQ(Registry("Memory use is below the limit again").size(), 1u);
}

}  // namespace
}  // namespace Korvane::Pictora::ServerCore::Testing
