// The pieces of the client tool and the stand-in provider that run without a server.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "interfaces/ProviderProcedureShapes.h"
#include "tools/cli/CliApp.h"
#include "tests/support/TempFolder.h"
#include "tools/cli/CliCommands.h"
#include "tools/cli/ClusterStatus.h"
#include "tools/cli/Output.h"
#include "tools/provider/ProviderOptions.h"
#include "tools/provider/StandInProvider.h"

namespace Korvane::Pictora::Tools {
namespace {

std::optional<ProviderOptions> Parse(const std::vector<std::string>& words, std::string& error) {
  std::ostringstream out, err;
  int status = -1;
  auto options = ParseProviderOptions(words, out, err, status);
  EXPECT_EQ(status, options ? 0 : kProviderUsageExit);
  error = err.str();
  return options;
}

TEST(ProviderOptionsTest, RefusesBadValues) {
  const std::vector<std::vector<std::string>> bad = {
      {"--port", "65536"},   {"--port", "x"},         {"--load", "nan"},
      {"--load", ""},        {"--update-ms", "5"},    {"--reregister-delay-ms", "400:100"},
      {"--reregister-delay-ms", "100"}, {"--name"},   {"--unknown", "1"},
      {"--name", ""},        {"--server", "nocolon"}, {"--service", "A", "B"},
      {"--server", "h:1,nocolon"}, {"--server", "h:1", "k:2"},
  };
  for (const auto& words : bad) {
    std::string error;
    EXPECT_FALSE(Parse(words, error)) << words[0];
    EXPECT_FALSE(error.empty());
  }
}

// Exit statuses that need no server: usage errors, help, and a server that is not there.
TEST(CliTest, ExitStatusWithoutAnAnswer) {
  int closedPort = 0;
  {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), length), 0);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    closedPort = ntohs(address.sin_port);
    close(probe);  // bound, never listening: connections are refused
  }
  const std::string unreachable = "127.0.0.1:" + std::to_string(closedPort);
  TestSupport::TempFolder folder;
  const std::string banana = folder.Write("c.xml", "<Config><RpcCallTimeoutMs>banana</RpcCallTimeoutMs></Config>");
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{}, kExitUsage},
      {{"info", "bogus"}, kExitUsage},
      {{"--server", "nocolon", "version"}, kExitUsage},
      {{"--server", "h:1,nocolon", "version"}, kExitUsage},
      {{"--pipe", "P", "--server", "h:1", "version"}, kExitUsage},
      {{"admin", "service", "add", "S"}, kExitUsage},  // no --source
      {{"admin", "provider", "create", "P", "--port", "65536"}, kExitUsage},
      {{"admin", "config", "set", "/no/such/file"}, kExitUsage},
      {{"--help"}, kExitOk},
      {{"--server", unreachable, "version"}, kExitUnreachable},
      {{"--server", unreachable + "," + unreachable, "--server", unreachable, "version"}, kExitUnreachable},
      {{"providers-for", "S", "--xml", "--server", unreachable}, kExitUnreachable},
      {{"admin", "service", "start", "S", "--server", unreachable}, kExitUnreachable},
      {{"admin", "config", "set", banana, "--server", unreachable}, kExitUsage},  // checked, never sent
  };
  for (const auto& [words, status] : cases) {
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(RunCli(words, in, out, err), status) << (words.empty() ? "(none)" : words[0]) << ": " << err.str();
  }
  // PICTORA_SERVER stands in for --server only when the line names no server.
  std::istringstream in;
  std::ostringstream out, err;
  EXPECT_EQ(RunCli({"version"}, in, out, err, unreachable), kExitUnreachable);
  EXPECT_NE(err.str().find(unreachable), std::string::npos) << err.str();
  EXPECT_EQ(RunCli({"version"}, in, out, err, "h:1,nocolon"), kExitUsage);
  EXPECT_EQ(RunCli({"version"}, in, out, err, " , "), kExitUsage);
  EXPECT_EQ(RunCli({"--server", unreachable, "version"}, in, out, err, "nocolon"), kExitUnreachable);
}

TEST(CliOutputTest, AnswersAsJsonAndAsTables) {
  const std::string xml = "<R a=\"1\"><P><N>x</N></P><P><N>\"y\"</N></P><Q>t</Q></R>";
  EXPECT_EQ(XmlToJson(xml), R"({
  "R": {
    "@a": "1",
    "P": [
      {
        "N": "x"
      },
      {
        "N": "\"y\""
      }
    ],
    "Q": "t"
  }
})");
  EXPECT_EQ(XmlToTable(xml), "ELEMENT  VALUE\nP/N      x\nP/N      \"y\"\nQ        t\n");
  EXPECT_EQ(XmlToJson("<R><Open></R>"), std::nullopt);
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "<a>";
  for (int i = 0; i < 5000; ++i) deep += "</a>";
  EXPECT_TRUE(XmlToJson(deep).has_value());  // deeper than 64 levels: text, not recursion
  EXPECT_FALSE(XmlToTable(deep).empty());

  const std::string providers =
      "<Pictora><Server><ServiceProviders><ServiceProvider><Config><Name>Idle</Name><HostMachine>h</HostMachine>"
      "<Endpoint>4001</Endpoint></Config></ServiceProvider></ServiceProviders></Server></Pictora>";
  EXPECT_EQ(ProvidersTable(providers, [](const std::string& host, const std::string& endpoint) {
              return host + endpoint == "h4001" ? "0.25" : "?";
            }),
            "#  NAME  HOST  ENDPOINT  LOAD\n1  Idle  h     4001      0.25\n");
}

TEST(ClusterStatusTest, EachServersViewAsARow) {
  const ClusterView leader = ClusterViewOf(
      "a:1", "<Pictora><Server><Info><Basic><Cluster>reachable; runs the liveness pass; revision 42</Cluster>"
             "</Basic></Info></Server></Pictora>");
  std::ostringstream out, err;
  EXPECT_EQ(PrintClusterViews({leader, {"b:2", false, ""}, ClusterViewOf("c:3", "<Basic/>")}, OutputFormat::kTable,
                              out, err),
            kExitOk);
  EXPECT_EQ(out.str(),
            "SERVER  STORE                              LIVENESS PASS  REVISION\n"
            "a:1     reachable                          this server    42\n"
            "b:2     (no answer)                        -              -\n"
            "c:3     (single server: no cluster store)  -              -\n");
  EXPECT_EQ(PrintClusterViews({{"b:2", false, ""}}, OutputFormat::kJson, out, err), kExitUnreachable);
}

TEST(StandInProviderTest, InformationListsTheServicesAndTheFixedLoad) {
  StandInProvider provider({"P<1>", "host", 0.3, false, false});
  provider.SetEndpoint("4711");
  provider.SetServices({"A/B", "C&D"});
  EXPECT_DOUBLE_EQ(provider.CurrentLoad(), 0.3);
  EXPECT_EQ(provider.InfoDocument("Detailed"),
            "<Pictora><ServiceProvider Level=\"Detailed\"><Basic><Name>P&lt;1&gt;</Name><HostMachine>host"
            "</HostMachine><Endpoint>4711</Endpoint><Load>0.3</Load></Basic><Services><Service><Name>A/B</Name>"
            "<State>Running</State></Service><Service><Name>C&amp;D</Name><State>Running</State></Service>"
            "</Services></ServiceProvider></Pictora>");
}

TEST(StandInProviderTest, LoadWithoutAFixedValueFollowsActivity) {
  StandInProvider provider({"P", "host", std::nullopt, false, false});
  EXPECT_DOUBLE_EQ(provider.CurrentLoad(), 0.0);
  DceRpc::InterfaceDefinition definition = provider.Definition();
  ASSERT_EQ(definition.procedures.size(), 27u);
  for (int i = 0; i < 250; ++i) {
    DceRpc::Arguments args(1);
    definition.procedures.at(Rpc::ProviderOp::kGetLoad).handler({}, args);
  }
  EXPECT_DOUBLE_EQ(provider.CurrentLoad(), 0.25);
}

}  // namespace
}  // namespace Korvane::Pictora::Tools
