#include "global/ConfigurationCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>

#include "global/LogRetention.h"
#include "tests/support/TempFolder.h"

namespace Korvane::Pictora::Global {
namespace {

std::vector<std::string> Lines(const ConfigurationProblems& problems) {
  std::vector<std::string> lines;
  for (const ConfigurationProblem& problem : problems) lines.push_back(problem.ToString());
  return lines;
}

std::vector<std::string> Check(DocumentKind kind, const std::string& text) {
  return Lines(CheckDocument(kind, text, "F"));
}

TEST(ConfigurationCheckTest, EachDocumentKindNamesItsProblemsByElement) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Check(DocumentKind::kServerConfiguration,
                  "<Pictora><Server><Config><RpcCallTimeoutMs>banana</RpcCallTimeoutMs><Foo/>"
                  "<maxsessions> 12 </maxsessions><VerifyPeerAddress>maybe</VerifyPeerAddress>"
                  "<MaxSessionInfoBytes>99999999999</MaxSessionInfoBytes><LicenseManager><Bar>x</Bar>"
                  "</LicenseManager></Config></Server></Pictora>"),
            (V{"F: Config/RpcCallTimeoutMs: 'banana' is not a whole number", "F: Config/Foo: unknown setting",
               "F: Config/VerifyPeerAddress: 'maybe' is not true or false (on/off, yes/no, 1/0)",
               "F: Config/MaxSessionInfoBytes: '99999999999' is not a whole number",
               "F: Config/LicenseManager/Bar: unknown setting"}));
  EXPECT_EQ(Check(DocumentKind::kServerConfiguration, "<Foo/>"),
            V{"F: Config: missing: the server reads its settings from this element"});
  EXPECT_EQ(Check(DocumentKind::kServerConfiguration, "<Config><Endpoint>1</Config>").size(), 1u);
  EXPECT_EQ(Check(DocumentKind::kProviderConfiguration,
                  "<Pictora><ServiceProvider><Config><PowerRating>1.5</PowerRating><NumCPU>x</NumCPU>"
                  "<RpcCallTimeoutMs>1</RpcCallTimeoutMs></Config></ServiceProvider></Pictora>"),
            (V{"F: Config/NumCPU: 'x' is not a whole number", "F: Config/RpcCallTimeoutMs: unknown setting"}));
  EXPECT_EQ(Check(DocumentKind::kServices,
                  "<Pictora><Server><Services><Service><Name>A</Name><State>Off</State></Service><Other/>"
                  "<Service><Source>s</Source><State>sometimes</State><Colour>red</Colour></Service>"
                  "</Services></Server></Pictora>"),
            (V{"F: Services/Other[2]: not a Service element",
               "F: Services/Service[3]/State: 'sometimes' is not true or false (on/off, yes/no, 1/0)",
               "F: Services/Service[3]/Colour: unknown setting",
               "F: Services/Service[3]: no Name: the server skips this service"}));
  EXPECT_EQ(Check(DocumentKind::kServices, "<Pictora><Server>").size(), 1u);
  const std::string key = "# c\nVersion=1\n\nMetricsEndpoint=\nnonsense\r\nLogRetentionDays=week\nHome=" +
                          std::string(600, 'h') + "\nColour=red";
  EXPECT_EQ(Check(DocumentKind::kInstallationKey, key),
            (V{"F: line 5: not Name=Value: 'nonsense'", "F: line 6 'LogRetentionDays': 'week' is not a whole number",
               "F: line 7 'Home': the value has 512 bytes or more and reads as empty",
               "F: line 8 'Colour': unknown setting"}));
}

TEST(ConfigurationCheckTest, TheInstallationIsCheckedFileByFile) {
  TestSupport::TempFolder temp;
  TestSupport::ScopedEnv registry("PICTORA_REGISTRY_FILE", temp / "missing.conf");
  TestSupport::ScopedEnv appData("PICTORA_COMMON_APPDATA", temp / "appdata");
  const std::string server = temp / "appdata/Korvane/Pictora/Server/";
  temp.Write("appdata/Korvane/Pictora/Server/Pictora.Services", "<Pictora><Services>");
  temp.Write("appdata/Korvane/Pictora/Server/P1.PTPConfig", "<Config><State>On</State></Config>");
  temp.Write("appdata/Korvane/Pictora/Server/P2.PTPConfig", "<Config><Port>1</Port></Config>");
  const std::vector<std::string> lines = Lines(CheckInstallation());
  ASSERT_EQ(lines.size(), 3u);  // a server configuration that is missing is written at start
  EXPECT_EQ(lines[0], temp / "missing.conf: cannot be read");
  EXPECT_EQ(lines[1].rfind(server + "Pictora.Services: the document does not parse", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], server + "P2.PTPConfig: Config/Port: unknown setting");
}

TEST(LogRetentionTest, OnlyDailyFilesOlderThanTheDaysKeptGo) {
  TestSupport::TempFolder temp;
  for (const char* name : {"20261201-Server.log", "20261204-Server.log", "20261205-Server.log", "20261206-Server.log",
                           "2026120x-Server.log", "20261201-Other.log", "notes.log"}) {
    temp.Write(name, "x");
  }
  std::tm noon{};
  noon.tm_hour = 12;
  noon.tm_mday = 6;
  noon.tm_mon = 11;
  noon.tm_year = 126;
  noon.tm_isdst = -1;
  const std::time_t now = std::mktime(&noon);  // 2026-12-06, local time
  EXPECT_EQ(RemoveExpiredDailyLogs(temp / "", "-Server.log", 0, now), 0u);  // the default keeps every file
  EXPECT_EQ(RemoveExpiredDailyLogs(temp / "", "-Server.log", 2, now), 2u);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(temp.Path())) left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"20261201-Other.log", "20261205-Server.log", "20261206-Server.log",
                                             "2026120x-Server.log", "notes.log"}));
}

}  // namespace
}  // namespace Korvane::Pictora::Global
