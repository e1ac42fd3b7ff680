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
#include "tools/cli/CliCommands.h"
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
  };
  for (const auto& [words, status] : cases) {
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(RunCli(words, in, out, err), status) << (words.empty() ? "(none)" : words[0]) << ": " << err.str();
  }
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
