// The information reports, text for text, on a small registry: providers A and B, services
// S1 (on A and B), S2 (on A) and S3 (failed on B).
#include <gmock/gmock.h>


#include "tests/servercore/ServerTestSupport.h"
#include "util/Status.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore::Testing {
namespace {
namespace GU = GeneralUtilityLib;
using ::testing::HasSubstr;

constexpr const char* kFailure =
    "<Status><Item><ID>003D04</ID><Source>prov</Source><Message>no disk</Message>"
    "<Details></Details></Item></Status>";

class ReportsTest : public ServerCoreTest {
 protected:
  void SetUp() override {
    ServerCoreTest::SetUp();
    WriteConfiguration("<Endpoint>4000</Endpoint><CreateLogs>false</CreateLogs>");
    WriteServices(ServiceEntry("S1", "On", "A;B") + ServiceEntry("S2", "On", "A") +
                  ServiceEntry("S3", "On", "B"));
    for (const char* name : {"A", "B"}) {
      WriteFile(ServerFolder() + name + ".PTPConfig", "<Pictora><Config/></Pictora>");
    }
    WriteFile(ServerFolder() + "C.PTPConfig",
              "<Pictora><Config><HostMachine>hc</HostMachine><Endpoint>ec</Endpoint>"
              "<State>Off</State></Config></Pictora>");
    WriteFile(ServerFolder() + "D.PTPConfig", "<Pictora><Config><Endpoint>ed</Endpoint>"
                                              "</Config></Pictora>");
    WriteFile(ServerFolder() + "E.PTPConfig", "not xml");
    StartServer();
    RegisterProvider("A", "e1");
    RegisterProvider("B", "e2");
    AddServices("A", "<Service><Name>S1</Name></Service><Service><Name>S2</Name></Service>");
    AddServices("B", std::string("<Service><Name>S1</Name><By>B</By></Service><Service><Name>S3"
                                 "</Name>") + kFailure + "</Service>");
  }

  std::string Basic(const std::string& providers, const std::string& services) {
    return "<StartedAt>T</StartedAt>\n<PTSConfigFile>" + ServerFolder() +
           "Pictora.PTSConfig</PTSConfigFile>\n<HostMachine></HostMachine>\n"
           "<Endpoint>4000</Endpoint>\n<Version>0.0.0.0</Version>\n<LogsFolder></LogsFolder>\n"
           "<ServerType>undefined</ServerType>\n<NumServiceProviders>" + providers +
           "</NumServiceProviders>\n<NumServices>" + services + "</NumServices>\n";
  }

  std::string Info(const std::string& kind) {
    std::string out;
    std::string text = server_->GetInfo(CallerIdentity{}, kind, out);
    // The start time varies: every <StartedAt> value becomes "T" (no std::regex: GCC 12 warns
    // inside it under the sanitizers).
    for (std::size_t at = text.find("<StartedAt>"); at != std::string::npos; at = text.find("<StartedAt>", at + 1)) {
      const std::size_t start = at + 11, end = text.find('<', start);
      if (end != std::string::npos) text.replace(start, end - start, "T");
    }
    return text;
  }

  static std::string Provider(const std::string& name, const std::string& endpoint,
                              const std::string& host) {
    return "<ServiceProvider>\n<Name>" + name + "</Name>\n<Endpoint>" + endpoint +
           "</Endpoint>\n<HostMachine>" + host + "</HostMachine>\n";
  }

  static std::string ServiceXml(const std::string& name, const std::string& allocated,
                                const std::string& running, const std::string& failed,
                                int allocatedCount, int runningCount, const std::string& status) {
    const std::string counts = "\n<AllocatedOnCount>" + std::to_string(allocatedCount) +
                               "</AllocatedOnCount>";
    return "\n<Name>" + name + "</Name>\n<Source>src-" + name +
           "</Source>\n<State>On</State>\n<Properties><Application>App</Application>"
           "</Properties>\n<ServiceProviders>" + allocated +
           "</ServiceProviders>\n<RunningOnServiceProviders>" + running +
           "</RunningOnServiceProviders>\n<FailedOnServiceProviders>" + failed +
           "</FailedOnServiceProviders>" + counts + "\n<RunningOnCount>" +
           std::to_string(runningCount) + "</RunningOnCount>" + counts + status;
  }
};

TEST_F(ReportsTest, ListsAndClientView) {
  EXPECT_EQ(server_->GetServiceProviders(),
            "<Pictora>\n\t<ServiceProvider>A</ServiceProvider>\n\t<ServiceProvider>B"
            "</ServiceProvider>\n</Pictora>\n");
  EXPECT_EQ(server_->GetServiceProviderInfo("a"),
            "<ServiceProvider><Config><HostMachine>host-A</HostMachine>\n<Endpoint>e1</Endpoint>"
            "\n</Config></ServiceProvider>");
  EXPECT_EQ(server_->GetServiceProviderInfo("Z"), "");
  EXPECT_EQ(server_->GetServices("B"), "<Pictora>\n\t<ImageService>S1</ImageService>\n</Pictora>\n");
  EXPECT_EQ(server_->GetServiceInfo("B", "s1"), "<Service><Name>S1</Name><By>B</By></Service>");
  EXPECT_EQ(server_->GetServiceInfo("B", "S3"), "");
  EXPECT_EQ(server_->GetServicesCount(), 2);

  const std::string a = "<ServiceProvider>\n<Name></Name>\n<HostMachine>host-A</HostMachine>\n"
                        "<Endpoint>e1</Endpoint>\n</ServiceProvider>\n";
  const std::string b = "<ServiceProvider>\n<Name></Name>\n<HostMachine>host-B</HostMachine>\n"
                        "<Endpoint>e2</Endpoint>\n</ServiceProvider>\n";
  EXPECT_EQ(server_->GetServerInfoForClient("", ""),
            "<Pictora><Client><ServerInfo>\n<ImageServices>\n<ImageService>\n<Name>S1</Name>\n" +
                a + b + "</ImageService>\n<ImageService>\n<Name>S2</Name>\n" + a +
                "</ImageService>\n</ImageServices>\n</ServerInfo></Client></Pictora>");
}

TEST_F(ReportsTest, BasicAndDetailed) {
  EXPECT_EQ(Info("basic"), "<Pictora><Server><Info><Basic>\n" + Basic("2", "2") +
                               "</Basic></Info></Server></Pictora>\n");
  const std::string detailed =
      "<Pictora><Server><Info>\n<Basic>\n" + Basic("2", "2") +
      "</Basic>\n<Detailed><ServiceProviders>\n" + Provider("A", "e1", "host-A") +
      "<Services>\n<Service><Name>S1</Name></Service><Service><Name>S2</Name></Service>"
      "</Services>\n</ServiceProvider>\n" + Provider("B", "e2", "host-B") +
      "<Services>\n<Service><Name>S1</Name><By>B</By></Service></Services>\n"
      "</ServiceProvider>\n</ServiceProviders></Detailed>\n</Info></Server></Pictora>\n";
  EXPECT_EQ(Info("Detailed"), detailed);
  EXPECT_EQ(Info("ServerInfoForClient"), detailed);
}

TEST_F(ReportsTest, ServerManagerReport) {
  calls_.SetInfo("e1", "<Info><Basic><Load>0.5</Load></Basic><Services><Service><Name>S1</Name>"
                       "<Calls>3</Calls></Service></Services></Info>");
  management_.notRunning["d"] = "<Status>failed start</Status>";

  GU::Status gone;
  gone.Add(15625, "The ServiceProvider 'B' is no longer running");
  GU::Status notRunningE;
  notRunningE.Add(15625, "The ServiceProvider 'E' is not running");
  GU::Status s1;
  s1.Add(15620, "Failed to load service 'S1' on serviceprovider: B; The serviceprovider is not "
                "running or does not exist.");
  s1.AddFront(15620, "Failed to load service 'S1' on serviceproviders: B;\n" + s1.ToString());
  GU::Status s3;
  s3.AddXml(kFailure);
  s3.AddFront(15620, "Failed to load service 'S3' on serviceproviders: B;\n" + s3.ToString());

  // B does not answer: it is unregistered while the report is made, so the Basic block
  // (made first) still counts it.
  const std::string expected =
      "<Pictora><Server><Info>\n<Basic>\n" + Basic("2", "2") +
      "</Basic>\n<Detailed><ServiceProviders>\n" + Provider("A", "e1", "host-A") +
      "<State>On</State>\n<Status>OK</Status>\n<Basic><Load>0.5</Load></Basic>"
      "</ServiceProvider>\n" + Provider("B", "e2", "host-B") + "<State>Off</State>\n" +
      gone.ToXml() + "</ServiceProvider>\n" + Provider("C", "ec", "hc") +
      "<State>Off</State>\n<Status></Status>\n</ServiceProvider>\n" + Provider("D", "ed", "") +
      "<State>Off</State>\n<Status>failed start</Status></ServiceProvider>\n" +
      Provider("E", "", "") + "<State>Off</State>\n" + notRunningE.ToXml() +
      "</ServiceProvider>\n</ServiceProviders>\n<Services>\n"
      "<Service>\n<Statistics><ServiceProvider><Name>S1</Name><Calls>3</Calls></ServiceProvider>"
      "</Statistics>" + ServiceXml("S1", "A;B", "A", "B", 2, 1, s1.ToXml()) +
      "</Service>\n<Service>\n<Statistics></Statistics>" +
      ServiceXml("S2", "A", "A", "", 1, 1, "<Status></Status>") +
      "</Service>\n<Service>\n<Statistics></Statistics>" +
      ServiceXml("S3", "B", "", "B", 1, 0, s3.ToXml()) +
      "</Service>\n</Services>\n</Detailed>\n</Info></Server></Pictora>\n";
  EXPECT_EQ(Info("ServerManager"), expected);
  EXPECT_EQ(server_->GetServiceProvidersCount(), 1u);
}

TEST_F(ReportsTest, ServerManagerReportNeedsTheFacade) {
  server_->SetManagementInfo(nullptr);
  std::string out;
  EXPECT_EQ(server_->GetInfo(CallerIdentity{}, "ServerManager", out), "");
  EXPECT_THAT(out, HasSubstr("not available"));
}

TEST_F(ReportsTest, EmptyRegistryDetailedReport) {
  server_->RemoveServiceProvider("A");
  server_->RemoveServiceProvider("B");
  EXPECT_EQ(Info("x"), "<Pictora><Server><Info>\n<Basic>\n" + Basic("0", "0") +
                           "</Basic>\n<Detailed><ServiceProviders>\n</ServiceProviders>"
                           "</Detailed>\n</Info></Server></Pictora>\n");
  // Unregistered services stay in the client view, without providers.
  EXPECT_THAT(server_->GetServerInfoForClient("", ""),
              HasSubstr("<ImageService>\n<Name>S1</Name>\n</ImageService>\n"));
}

}  // namespace
}  // namespace Korvane::Pictora::ServerCore::Testing
