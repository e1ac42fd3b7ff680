// pictora-cli's admin commands against the management procedures served in process by a
// stand-in: which procedure a command line calls with which texts, inside the management
// session it opens and closes, and what it prints.
#include <gtest/gtest.h>

#include <sstream>

#include "dcerpc/Server.h"
#include "global/MachineIdentity.h"
#include "interfaces/ServerProcedureShapes.h"
#include "rpc/ReplyText.h"
#include "tests/support/TempFolder.h"
#include "tools/cli/AdminReport.h"
#include "tools/cli/CliApp.h"
#include "tools/cli/CliCommands.h"
#include "util/CriticalSection.h"
#include "util/Status.h"

namespace Korvane::Pictora::Tools {
namespace {

namespace Op = Rpc::ServerOp;
using DceRpc::ParamKind;

// 25 opens session "sid", the buffer procedures answer <Doc/>, 43 a stored name, the others
// succeed; procedure `refuse` answers with `status` instead. Each call is recorded as its number
// and [in] texts, space-separated.
class StandInServer {
 public:
  explicit StandInServer(uint16_t refuse = 0, std::string status = "") {
    DceRpc::InterfaceDefinition definition{Rpc::ServerInterfaceId(), {}};
    for (uint16_t opnum = Op::kManagerOpenSession; opnum <= Op::kRefreshAllServices; ++opnum) {
      definition.procedures[opnum] = {Rpc::ServerProcedureSpec(opnum),
                                      [=, this](const DceRpc::CallContext&, DceRpc::Arguments& args) {
                                        Answer(opnum, args, opnum == refuse, status);
                                      }};
    }
    EXPECT_TRUE(server_.RegisterInterface(std::move(definition)));
    EXPECT_TRUE(server_.Listen("ncacn_ip_tcp", "0").ok());
  }
  ~StandInServer() { server_.StopListening(); }

  std::string Address() const { return "127.0.0.1:" + std::to_string(server_.TcpPort()); }
  std::vector<std::string> Calls() {
    GeneralUtilityLib::CriticalSectionLock lock(&section_);
    return calls_;
  }

 private:
  void Answer(uint16_t opnum, DceRpc::Arguments& args, bool refuse, const std::string& status) {
    const DceRpc::ProcedureSpec& shape = Rpc::ServerProcedureSpec(opnum);
    std::string call = std::to_string(opnum);
    size_t buffer = 0;
    for (size_t i = 0; i < shape.params.size(); ++i) {
      if (shape.params[i].kind == ParamKind::kInString) call += " " + args.Text(i);
      if (shape.params[i].kind == ParamKind::kOutChars) buffer = i;
    }
    GeneralUtilityLib::CriticalSectionLock lock(&section_);
    calls_.push_back(call);
    lock.Release();
    const bool longResult = shape.result == DceRpc::ResultKind::kLong;
    if (refuse) {
      args.SetText(shape.params.size() - 1, status);  // the status is the last text of every shape
      return longResult ? args.SetResultLong(-1) : args.SetResultSmall(0);
    }
    if (opnum == Op::kManagerOpenSession) args.SetText(Rpc::OpenSessionParam::kSessionId, "sid");
    if (opnum == Op::kGetServiceName) args.SetText(Rpc::ServiceNameParam::kName, "Stored/Name");
    if (!longResult) return args.SetResultSmall(1);
    std::string copied;
    args.SetResultLong(Rpc::CopyToBuffer("<Doc/>", args.Long(shape.params[buffer].sizeParam), copied));
    if (!copied.empty()) args.SetText(buffer, copied);
  }

  DceRpc::Server server_;
  GeneralUtilityLib::ActiveCriticalSection section_;
  std::vector<std::string> calls_ GUARDED_BY(section_);
};

struct Outcome {
  int exit;
  std::string out, err;
};

Outcome RunAdminLine(const StandInServer& server, const std::string& line, const std::string& input = "") {
  std::vector<std::string> words{"--server", server.Address(), "admin"};
  std::istringstream split(line);
  for (std::string word; split >> word;) words.push_back(word);
  std::istringstream in(input);
  std::ostringstream out, err;
  return {RunCli(words, in, out, err), out.str(), err.str()};
}

TEST(AdminCliTest, EachCommandCallsItsProcedureInASessionOfItsOwn) {
  TestSupport::TempFolder folder;
  const std::string file = folder.Write("new.xml", "<Config><MaxSessions>9</MaxSessions></Config>");
  const std::string typed = "<P><Services/><Config/></P>";  // a services document and a provider's alike
  const struct {
    std::string line, call, printed;
  } cases[] = {
      {"info --xml", "27 sid", "<Doc/>"},
      {"providers-info --output xml", "36 sid", "<Doc/>"},
      {"config --output json", "32 sid", "{\n  \"Doc\": \"\"\n}"},
      {"config set " + file, "33 sid <Config><MaxSessions>9</MaxSessions></Config>", "server configuration updated"},
      {"services", "37 sid", "ELEMENT  VALUE\n(none)"},
      {"services set -", "38 sid " + typed, "services updated"},
      {"service add S --source src --properties <P/> --providers A;B", "39 sid src S <P/> A;B", "service 'S' added"},
      {"service remove S --providers A", "40 sid S A", "service 'S' taken off A"},
      {"service start S", "41 sid S", "service 'S' started"},
      {"service stop S", "42 sid S", "service 'S' stopped"},
      {"service refresh S", "44 sid S", "service 'S' refreshed"},
      {"service refresh-all", "45 sid", "every configured provider refreshed"},
      {"service name s", "43 sid s", "Stored/Name"},
      {"provider create P --machine m --port 7100", "28 sid m 7100 P", "provider 'P' created"},
      {"provider create P --port 1", "28 sid " + Global::LocalHostName() + " 1 P", "provider 'P' created"},
      {"provider delete P", "29 sid P", "provider 'P' deleted"},
      {"provider start P", "30 sid P", "provider 'P' started"},
      {"provider stop P", "31 sid P", "provider 'P' stopped"},
      {"provider config P --output xml", "34 sid P", "<Doc/>"},
      {"provider config P set -", "35 sid P " + typed, "configuration of provider 'P' updated"},
  };
  for (const auto& c : cases) {
    StandInServer server;
    const Outcome outcome = RunAdminLine(server, c.line, typed);
    EXPECT_EQ(outcome.exit, kExitOk) << c.line << ": " << outcome.err;
    EXPECT_EQ(outcome.out, c.printed + "\n") << c.line;
    const std::vector<std::string> calls = server.Calls();
    ASSERT_GE(calls.size(), 3u) << c.line;
    EXPECT_TRUE(calls.front().starts_with("25 <SessionInfo><Application>ServerManager</Application>")) << calls[0];
    EXPECT_EQ(calls[1], c.call);  // a buffer reply asks twice: the size, then the text
    EXPECT_EQ(calls.back(), "26 sid") << c.line;
  }
}

TEST(AdminCliTest, ARefusalPrintsTheStatusAsLinesAndExitsOne) {
  GeneralUtilityLib::Status status("ServiceManager.StartService");
  status.Add(0xDD0D, "Service 'S' does not exist on the server.");
  const struct {
    uint16_t refuse;
    std::string status, line, printed;
  } cases[] = {
      {Op::kStartService, status.ToXml(), "service start S",
       "the server refused:\n[ServiceManager.StartService : 00DD0D] Error: Service 'S' does not exist on the server."},
      {Op::kGetServiceProvidersInfo, "", "providers-info", "the server refused without giving a reason"},
      {Op::kManagerOpenSession, "not allowed", "info", "could not open a management session:\nnot allowed"},
  };
  for (const auto& c : cases) {
    StandInServer server(c.refuse, c.status);
    const Outcome outcome = RunAdminLine(server, c.line);
    EXPECT_EQ(outcome.exit, kExitRefused) << c.line;
    EXPECT_EQ(outcome.err, c.printed + "\n");
    EXPECT_EQ(outcome.out, "");
  }
}

// A server that cannot be reached gets nothing, the next one the whole command with the document
// read once from standard input.
TEST(AdminCliTest, MovesOnToTheNextServerUntilOneAnswers) {
  std::string gone;
  {
    StandInServer stopped;
    gone = stopped.Address();
  }
  StandInServer server;
  std::istringstream in("<Services/>");
  std::ostringstream out, err;
  EXPECT_EQ(RunCli({"admin", "services", "set", "-", "--server", gone + "," + server.Address()}, in, out, err), kExitOk)
      << err.str();
  const std::vector<std::string> calls = server.Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[1], "38 sid <Services/>");
}

TEST(AdminCliTest, ServerReportAsTables) {
  const std::string report =
      "<Pictora><Server><Info><Basic><StartedAt>T0</StartedAt><Endpoint>3982</Endpoint><Version>1.0</Version></Basic>"
      "<Detailed><ServiceProviders><ServiceProvider><Name>Idle</Name><Endpoint>4001</Endpoint><HostMachine>h1"
      "</HostMachine><State>On</State><Status>OK</Status><Basic><Name>Idle</Name><Load>0.1</Load></Basic>"
      "</ServiceProvider><ServiceProvider><Name>Render1</Name><Endpoint>7100</Endpoint><HostMachine>h2</HostMachine>"
      "<State>Off</State><Status><Item><ID>003D08</ID><Source>Core</Source><Message>not running</Message></Item>"
      "</Status></ServiceProvider></ServiceProviders><Services><Service><Statistics><ServiceProvider><Name>Maps</Name>"
      "</ServiceProvider></Statistics><Name>Maps</Name><State>Off</State><RunningOnServiceProviders>Idle"
      "</RunningOnServiceProviders></Service></Services></Detailed></Info></Server></Pictora>";
  EXPECT_EQ(ServerReportText(report),
            "Server 1.0 at endpoint 3982, started T0\n\n"
            "PROVIDER  HOST  ENDPOINT  STATE  LOAD\n"
            "Idle      h1    4001      On     0.1\n"
            "Render1   h2    7100      Off    -\n"
            "    [Core : 003D08] Error: not running\n\n"
            "SERVICE  STATE  PROVIDERS  RUNNING ON  FAILED ON\n"
            "Maps     Off    all        Idle        -\n");
  EXPECT_EQ(ServerReportText("<Pictora/>"), "");
}

}  // namespace
}  // namespace Korvane::Pictora::Tools
