// Start-up: default files, configuration values, listening, failures, reporting.
#include <gmock/gmock.h>

#include "tests/servercore/ServerTestSupport.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::ServerCore::Testing {
namespace {
namespace GU = GeneralUtilityLib;
using ::testing::Contains;
using ::testing::HasSubstr;

TEST_F(ServerCoreTest, FirstStartWritesDefaultFilesAndListensOnTcp) {
  ServerImpl& server = StartServer();

  EXPECT_EQ(ReadFile(ServerFolder() + "Pictora.Services"),
            "<?xml version=\"1.0\" standalone=\"yes\"?>\n<Pictora><Server><Services>\n"
            "</Services></Server></Pictora>");
  // The configuration is the one-line template as the XML layer saves it.
  GU::XmlDocument expected;
  ASSERT_TRUE(expected.LoadXml(
      "<?xml version=\"1.0\" standalone=\"yes\"?><Pictora>\t<X_DEF>\t\t<XAD_Path>PTSConfig.xad"
      "</XAD_Path>\t\t<XFD_Path>PTSConfig.xfd</XFD_Path>\t\t<HELP_Path>Pictora_Help.chm"
      "</HELP_Path>\t</X_DEF>\t<Server>\t\t<Config>\t\t\t<Endpoint>3982</Endpoint>\t\t\t"
      "<CreateLogs>true</CreateLogs>\t\t\t<LogsFolder></LogsFolder>\t\t\t"
      "<ActivateAuthentication>False</ActivateAuthentication>\t\t\t<LicenseManager>\t\t\t\t"
      "<ServerManagerAllowList></ServerManagerAllowList>\t\t\t\t<ServiceProviderAllowList>"
      "</ServiceProviderAllowList>\t\t\t\t<ServiceEditorAllowList></ServiceEditorAllowList>"
      "\t\t\t</LicenseManager>\t\t</Config>\t</Server></Pictora>"));
  ASSERT_TRUE(expected.Save(root_ + "/expected.xml"));
  EXPECT_EQ(ReadFile(ServerFolder() + "Pictora.PTSConfig"), ReadFile(root_ + "/expected.xml"));

  EXPECT_EQ(listener_.endpoint, "3982");
  EXPECT_EQ(listener_.protocol, "ncacn_ip_tcp");
  const GU::ElementList config = server.GetConfiguration();
  EXPECT_EQ(config.GetValue("Version"), "0.0.0.0");
  EXPECT_EQ(config.GetValue("ServerType"), "undefined");
  EXPECT_EQ(server.GetVersion(), "1.0.0.2");
  EXPECT_THAT(capture_.Messages(), Contains("Starting Server: Version '0.0.0.0'"));
  EXPECT_THAT(capture_.Messages(), Contains("Server listening at endpoint: 3982"));
  EXPECT_FALSE(server.GetStopFlag());
  server.SetStopFlag();
  EXPECT_TRUE(server.GetStopFlag());
}

TEST_F(ServerCoreTest, AuthenticationSwitchesToTheNamedChannel) {
  WriteConfiguration("<Endpoint>4000</Endpoint><CreateLogs>false</CreateLogs>"
                     "<ActivateAuthentication>yes</ActivateAuthentication>");
  ServerImpl& server = StartServer();
  EXPECT_EQ(listener_.protocol, "ncacn_np");
  EXPECT_EQ(listener_.endpoint, "\\pipe\\KorvanePictora");
  EXPECT_EQ(server.GetConfiguration().GetValue("Protocol"), "ncacn_np");
}

TEST_F(ServerCoreTest, CommandLineEndpointRewritesTheFileKeepingOtherValues) {
  WriteConfiguration("<Endpoint>4000</Endpoint><CreateLogs>false</CreateLogs><Extra>kept</Extra>"
                     "<LicenseManager><ServerManagerAllowList>adminhost</ServerManagerAllowList>"
                     "</LicenseManager>");
  // The rewrite keeps the definitions block, so the file needs one.
  std::string text = ReadFile(ServerFolder() + "Pictora.PTSConfig");
  GU::Replace(text, "<Pictora>", "<Pictora><X_DEF><XAD_Path>a</XAD_Path></X_DEF>");
  WriteFile(ServerFolder() + "Pictora.PTSConfig", text);

  ServerImpl& server = StartServer("5123");
  EXPECT_EQ(listener_.endpoint, "5123");
  const GU::ElementList config = server.GetConfiguration();
  EXPECT_EQ(config.GetValue("Extra"), "kept");
  GU::XmlDocument saved;
  ASSERT_TRUE(saved.LoadFile(ServerFolder() + "Pictora.PTSConfig"));
  EXPECT_EQ(saved.GetText("//Config/Endpoint", ""), "5123");
  EXPECT_EQ(saved.GetText("//LicenseManager/ServerManagerAllowList", ""), "adminhost");
  EXPECT_EQ(saved.GetText("//X_DEF/XAD_Path", ""), "a");
}

TEST_F(ServerCoreTest, InvalidConfigurationFailsWith15622AndLogsWhy) {
  WriteFile(ServerFolder() + "Pictora.PTSConfig", "<Pictora><Server>");
  ServerImpl& server = MakeServer();
  EXPECT_EQ(server.Init(""), 15622);
  EXPECT_EQ(listener_.starts, 0);
  const std::vector<std::string> messages = capture_.Messages();
  const std::string expected = "Failed to read configuration xml: " + ServerFolder() +
                               "Pictora.PTSConfig";
  EXPECT_THAT(messages, Contains(expected));
  EXPECT_THAT(messages, Contains(HasSubstr("Could not load XML")));
}

TEST_F(ServerCoreTest, ListenFailureReturnsTheListenersCode) {
  listener_.fail = true;
  ServerImpl& server = MakeServer();
  EXPECT_EQ(server.Init(""), 98);
  ASSERT_GE(server.GetStatus().Count(), 1u);
  EXPECT_EQ(server.GetStatus().GetItem(0).id, 15616u);
  EXPECT_EQ(server.GetStatus().GetItem(0).message, "Address already in use");
}

TEST_F(ServerCoreTest, LogFileIsDatedAndSynchronizeMovesItIntoServerSubfolder) {
  WriteConfiguration("<Endpoint>4000</Endpoint><LogsFolder>" + root_ +
                     "\\logs</LogsFolder>");
  ServerImpl& server = StartServer();
  std::string out;
  EXPECT_THAT(server.GetInfo({}, "Basic", out), HasSubstr("<LogsFolder>" + root_ + "/logs/</LogsFolder>"));
  char date[16];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(date, sizeof date, "%Y%m%d", &local);
  const std::string logName = std::string(date) + "-Server.log";
  EXPECT_THAT(ReadFile(root_ + "/logs/" + logName), HasSubstr("Server listening at endpoint"));

  EXPECT_TRUE(server.Synchronize(""));
  EXPECT_THAT(server.GetInfo({}, "Basic", out), HasSubstr("<LogsFolder>" + root_ + "/logs/Server/</LogsFolder>"));
  server.Report(nullptr, "%s", "after the switch");
  EXPECT_THAT(ReadFile(root_ + "/logs/Server/" + logName), HasSubstr("after the switch"));
}

TEST_F(ServerCoreTest, ReportsAreCutAt5000Characters) {
  ServerImpl& server = MakeServer();
  capture_.Clear();
  server.Report("src", "%s", std::string(6000, 'x').c_str());
  const std::vector<CapturedReport> reports = capture_.Reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].message.size(), 5000u);
  EXPECT_EQ(reports[0].source, "src");
}

TEST_F(ServerCoreTest, CloseStopsListeningOnceAndDropsSessions) {
  ServerImpl& server = StartServer();
  std::string id, error;
  ASSERT_TRUE(server.OpenSession("", id, error));
  EXPECT_TRUE(server.Close());
  EXPECT_TRUE(server.Close());
  EXPECT_EQ(listener_.stops, 1);
  EXPECT_EQ(server.GetSession(id), nullptr);
}

}  // namespace
}  // namespace Korvane::Pictora::ServerCore::Testing
