// The operator's provider commands: how a template becomes words, and real programs run as start
// and stop commands through the provider administration and the facade.
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <sstream>

#include "admin/ServerManagerProxy.h"
#include "global/MachineIdentity.h"
#include "host/CommandProviderLauncher.h"
#include "host/CommandTemplate.h"
#include "tests/servercore/ServerTestSupport.h"
#include "util/FileUtil.h"

namespace Korvane::Pictora::Host {
namespace {
using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(CommandTemplateTest, ValuesStayWithinTheirWord) {
  struct Case {
    std::string line;
    std::string name;
    std::vector<std::string> words;  // empty: refused
  };
  const Case cases[] = {
      {"systemctl start pictora-provider@{name}.service", "P1", {"systemctl", "start", "pictora-provider@P1.service"}},
      {"run {name}", "a b; rm -rf / $(id) `id` \"q\"", {"run", "a b; rm -rf / $(id) `id` \"q\""}},
      {"run \"{host} and {endpoint}\" \"\" x\"y z\"", "", {"run", "h and 4000", "", "xy z"}},
      {"  run\t{name}{name}  ", "{host}", {"run", "{host}{host}"}},  // one pass: values are not searched
      {"run {unknown} {name", "n", {"run", "{unknown}", "{name"}},
      {"run --name={name}", "-x", {"run", "--name=-x"}},
      {"run {name}", "-rf", {}},  // would become an option
      {"run \"open", "n", {}},
      {"  ", "n", {}},
  };
  for (const Case& test : cases) {
    std::string error;
    std::optional<std::vector<std::string>> words;
    if (auto command = CommandTemplate::Parse(test.line, error)) {
      words = command->Fill({{"name", test.name}, {"host", "h"}, {"endpoint", "4000"}}, error);
    }
    EXPECT_EQ(words.value_or(std::vector<std::string>{}), test.words) << test.line;
    EXPECT_EQ(words.has_value(), error.empty()) << test.line << ": " << error;
  }
  EXPECT_EQ(CommandText({"a", "b c", ""}), "a \"b c\" \"\"");
}

class ProviderLauncherTest : public ServerCore::Testing::ServerCoreTest {
 protected:
  void SetUp() override {
    ServerCoreTest::SetUp();
    // Writes each argument in brackets, one a line, to the file named first.
    WriteFile(root_ + "/record.sh", "#!/bin/sh\nout=$1; shift; printf '[%s]\\n' \"$@\" > \"$out\"\n");
    ::chmod((root_ + "/record.sh").c_str(), 0755);
    WriteFile(ServerFolder() + "P1.PTPConfig",
              "<?xml version=\"1.0\"?><Pictora><ServiceProvider><Config><HostMachine>a;b $(touch " + root_ +
                  "/pwned)</HostMachine><Endpoint>4000</Endpoint><State>Off</State></Config></ServiceProvider>"
                  "</Pictora>");
  }
  void WriteKey(const std::string& lines) { WriteFile(root_ + "/pictora.conf", "Version=1.0.0.0\n" + lines); }
  std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  CommandProviderLauncher launcher_;
  std::string status_;
};

TEST_F(ProviderLauncherTest, StartAndStopRunTheCommandsWithOneArgumentPerValue) {
  WriteKey("ProviderStartCommand=" + root_ + "/record.sh " + root_ + "/start.txt {name} \"{host} here\" {endpoint}\n" +
           "ProviderStopCommand=" + root_ + "/record.sh " + root_ + "/stop.txt {name}\n");
  ServerCore::ServiceProviderManager providers;
  providers.Init(Home(), "3982", nullptr, &launcher_);
  ASSERT_TRUE(providers.StartServiceProvider("P1", "a;b $(touch " + root_ + "/pwned)", "4000", status_)) << status_;
  EXPECT_THAT(Lines(root_ + "/start.txt"), ElementsAre("[P1]", "[a;b $(touch " + root_ + "/pwned) here]", "[4000]"));
  EXPECT_FALSE(GeneralUtilityLib::FileExists(root_ + "/pwned"));

  // The server's own shut-down stops nothing; a requested stop runs the command.
  ASSERT_TRUE(providers.StopServiceProvider("P1", status_, false));
  EXPECT_FALSE(GeneralUtilityLib::FileExists(root_ + "/stop.txt"));
  ASSERT_TRUE(providers.StopServiceProvider("P1", status_, true)) << status_;
  EXPECT_THAT(Lines(root_ + "/stop.txt"), ElementsAre("[P1]"));
}

TEST_F(ProviderLauncherTest, AFailingOrHangingCommandFailsTheStartAndSaysWhy) {
  ServerCore::ServiceProviderManager providers;
  providers.Init(Home(), "3982", nullptr, &launcher_);
  WriteKey("ProviderStartCommand=/bin/sh -c \"echo boom >&2; exit 3\"\n");
  EXPECT_FALSE(providers.StartServiceProvider("P1", "h", "4000", status_));
  EXPECT_THAT(status_, HasSubstr("00DB02"));
  EXPECT_THAT(status_, HasSubstr("'/bin/sh -c \"echo boom &gt;&amp;2; exit 3\"' for ServiceProvider 'P1' exited "
                                 "with status 3; it wrote: boom"));

  WriteKey("ProviderCommandTimeoutSeconds=1\nProviderStartCommand=/bin/sh -c \"sleep 30; echo late\"\n");
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(providers.StartServiceProvider("P1", "h", "4000", status_));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_THAT(status_, HasSubstr("did not end within 1 s and was killed; it wrote nothing"));

  WriteKey("ProviderStopCommand=/no/such/program {name}\n");
  EXPECT_FALSE(providers.StopServiceProvider("P1", status_, true));
  EXPECT_THAT(status_, HasSubstr("could not be run: No such file or directory"));
}

TEST_F(ProviderLauncherTest, AStartCommandInTheServerConfigurationChangesNothing) {
  WriteConfiguration("<Endpoint>4000</Endpoint><CreateLogs>false</CreateLogs>");
  WriteKey("");
  StartServer();
  ServerCore::ServerManagerProxy facade(&calls_, &launcher_);
  facade.Init(server_.get(), "");
  std::string session;
  ASSERT_TRUE(facade.OpenSession("<SessionInfo><Application>ServerManager</Application><MachineName>" +
                                     Global::LocalHostName() + "</MachineName></SessionInfo>",
                                 session, status_))
      << status_;
  ASSERT_TRUE(facade.UpdateServerConfigXml(facade.FindSession(session),
                                           "<Pictora><Server><Config><ProviderStartCommand>" + root_ + "/record.sh " +
                                               root_ + "/start.txt</ProviderStartCommand></Config></Server></Pictora>",
                                           status_))
      << status_;
  EXPECT_FALSE(facade.StartServiceProvider(facade.FindSession(session), "P1", status_));
  EXPECT_THAT(status_, HasSubstr("00DB02"));
  EXPECT_THAT(status_, HasSubstr("this server has no way of starting service providers."));
  EXPECT_FALSE(GeneralUtilityLib::FileExists(root_ + "/start.txt"));
}

}  // namespace
}  // namespace Korvane::Pictora::Host
