// pictora-cli's admin commands against the management procedures served in process by a
// stand-in: which procedure a command line calls with which texts, inside the management
// session it opens and closes, and what it prints.
#include <gtest/gtest.h>

#include <mutex>
#include <sstream>

#include "dcerpc/Server.h"
#include "global/MachineIdentity.h"
#include "rpc/ReplyText.h"
#include "rpc/ServerProcedureShapes.h"
#include "tests/support/TempFolder.h"
#include "tools/cli/AdminReport.h"
#include "tools/cli/CliApp.h"
#include "tools/cli/CliCommands.h"
#include "util/Status.h"

namespace Korvane::Pictora::Tools {
namespace {

namespace Op = Rpc::ServerOp;
using DceRpc::ParamKind;

constexpr const char* kSession = "00000000-0000-4000-8000-00000000abcd";
constexpr const char* kDocument = "<Doc/>";

struct Call {
  uint16_t opnum;
  std::vector<std::string> texts;  // the [in] texts
  bool operator==(const Call&) const = default;
};

void PrintTo(const Call& call, std::ostream* out) {
  *out << call.opnum << ":";
  for (const std::string& text : call.texts) *out << " '" << text << "'";
}

// 25 opens kSession, the buffer procedures answer kDocument, 43 a stored name, the others
// succeed; procedure `refuse` answers with `status` instead.
class StandInServer {
 public:
  explicit StandInServer(uint16_t refuse = 0, std::string status = "") : refuse_(refuse), status_(std::move(status)) {
    DceRpc::InterfaceDefinition definition{Rpc::ServerInterfaceId(), {}};
    for (uint16_t opnum = Op::kManagerOpenSession; opnum <= Op::kRefreshAllServices; ++opnum) {
      definition.procedures[opnum] = {Rpc::ServerProcedureSpec(opnum),
                                      [this, opnum](const DceRpc::CallContext&, DceRpc::Arguments& args) {
                                        Answer(opnum, Rpc::ServerProcedureSpec(opnum), args);
                                      }};
    }
    EXPECT_TRUE(server_.RegisterInterface(std::move(definition)));
    EXPECT_TRUE(server_.Listen("ncacn_ip_tcp", "0").ok());
  }
  ~StandInServer() { server_.StopListening(); }

  std::string Address() const { return "127.0.0.1:" + std::to_string(server_.TcpPort()); }
  std::vector<Call> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  void Answer(uint16_t opnum, const DceRpc::ProcedureSpec& spec, DceRpc::Arguments& args) {
    Call call{opnum, {}};
    size_t buffer = 0;
    for (size_t i = 0; i < spec.params.size(); ++i) {
      if (spec.params[i].kind == ParamKind::kInString) call.texts.push_back(args.Text(i));
      if (spec.params[i].kind == ParamKind::kOutChars) buffer = i;
    }
    {
      std::lock_guard lock(mutex_);
      calls_.push_back(call);
    }
    const bool longResult = spec.result == DceRpc::ResultKind::kLong;
    if (opnum == refuse_) {
      args.SetText(spec.params.size() - 1, status_);  // the status is the last text of every shape
      return longResult ? args.SetResultLong(-1) : args.SetResultSmall(0);
    }
    if (opnum == Op::kManagerOpenSession) args.SetText(Rpc::OpenSessionParam::kSessionId, kSession);
    if (opnum == Op::kGetServiceName) args.SetText(Rpc::ServiceNameParam::kName, "Stored/Name");
    if (!longResult) return args.SetResultSmall(1);
    std::string copied;
    args.SetResultLong(Rpc::CopyToBuffer(kDocument, args.Long(spec.params[buffer].sizeParam), copied));
    if (copied.size() > 0) args.SetText(buffer, copied);
  }

  const uint16_t refuse_;
  const std::string status_;
  DceRpc::Server server_;
  std::mutex mutex_;
  std::vector<Call> calls_;
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
  const std::string file = folder.Write("new.xml", "<New/>");
  const std::string doc = std::string(kDocument) + "\n";
  const struct {
    std::string line;
    uint16_t opnum;
    std::vector<std::string> texts;  // after the session
    std::string printed;
  } cases[] = {
      {"info --xml", Op::kGetServerInfo, {}, doc},
      {"providers-info", Op::kGetServiceProvidersInfo, {}, doc},
      {"config", Op::kGetServerConfigXml, {}, doc},
      {"config set " + file, Op::kUpdateServerConfigXml, {"<New/>"}, "server configuration updated\n"},
      {"services", Op::kGetServicesXml, {}, doc},
      {"services set -", Op::kUpdateServicesXml, {"<Typed/>"}, "services updated\n"},
      {"service add S --source src --properties <P/> --providers A;B", Op::kManagerAddService,
       {"src", "S", "<P/>", "A;B"}, "service 'S' added\n"},
      {"service remove S --providers A", Op::kManagerRemoveService, {"S", "A"}, "service 'S' taken off A\n"},
      {"service start S", Op::kStartService, {"S"}, "service 'S' started\n"},
      {"service stop S", Op::kStopService, {"S"}, "service 'S' stopped\n"},
      {"service refresh S", Op::kRefreshService, {"S"}, "service 'S' refreshed\n"},
      {"service refresh-all", Op::kRefreshAllServices, {}, "every configured provider refreshed\n"},
      {"service name s", Op::kGetServiceName, {"s"}, "Stored/Name\n"},
      {"provider create P --machine m --port 7100", Op::kCreateServiceProvider, {"m", "7100", "P"},
       "provider 'P' created\n"},
      {"provider create P --port 1", Op::kCreateServiceProvider, {Global::LocalHostName(), "1", "P"},
       "provider 'P' created\n"},
      {"provider delete P", Op::kDeleteServiceProvider, {"P"}, "provider 'P' deleted\n"},
      {"provider start P", Op::kStartServiceProvider, {"P"}, "provider 'P' started\n"},
      {"provider stop P", Op::kStopServiceProvider, {"P"}, "provider 'P' stopped\n"},
      {"provider config P", Op::kGetServiceProviderConfigXml, {"P"}, doc},
      {"provider config P set -", Op::kUpdateServiceProviderConfigXml, {"P", "<Typed/>"},
       "configuration of provider 'P' updated\n"},
  };
  for (const auto& c : cases) {
    StandInServer server;
    const Outcome outcome = RunAdminLine(server, c.line, "<Typed/>");
    EXPECT_EQ(outcome.exit, kExitOk) << c.line << ": " << outcome.err;
    EXPECT_EQ(outcome.out, c.printed) << c.line;
    std::vector<Call> calls = server.Calls();
    ASSERT_GE(calls.size(), 3u) << c.line;
    EXPECT_NE(calls.front().texts.at(0).find("<Application>ServerManager</Application>"), std::string::npos);
    std::vector<std::string> texts{kSession};
    texts.insert(texts.end(), c.texts.begin(), c.texts.end());
    EXPECT_EQ(calls[1], (Call{c.opnum, texts})) << c.line;  // a buffer reply asks twice: size, then text
    EXPECT_EQ(calls.back(), (Call{Op::kManagerCloseSession, {kSession}})) << c.line;
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
       "the server refused:\n"
       "[ServiceManager.StartService : 00DD0D] Error: Service 'S' does not exist on the server.\n"},
      {Op::kGetServiceProvidersInfo, "", "providers-info", "the server refused without giving a reason\n"},
      {Op::kManagerOpenSession, "not on the allow list", "info",
       "could not open a management session:\nnot on the allow list\n"},
  };
  for (const auto& c : cases) {
    StandInServer server(c.refuse, c.status);
    const Outcome outcome = RunAdminLine(server, c.line);
    EXPECT_EQ(outcome.exit, kExitRefused) << c.line;
    EXPECT_EQ(outcome.err, c.printed);
    EXPECT_EQ(outcome.out, "");
    const bool opened = c.refuse != Op::kManagerOpenSession;
    EXPECT_EQ(server.Calls().back().opnum, opened ? Op::kManagerCloseSession : Op::kManagerOpenSession) << c.line;
  }
}

TEST(AdminCliTest, ServerReportAsTables) {
  const std::string report =
      "<Pictora><Server><Info><Basic><StartedAt>T0</StartedAt><Endpoint>3982</Endpoint><Version>1.0</Version></Basic>"
      "<Detailed><ServiceProviders>"
      "<ServiceProvider><Name>Idle</Name><Endpoint>4001</Endpoint><HostMachine>h1</HostMachine><State>On</State>"
      "<Status>OK</Status><Basic><Name>Idle</Name><Load>0.1</Load></Basic></ServiceProvider>"
      "<ServiceProvider><Name>Render1</Name><Endpoint>7100</Endpoint><HostMachine>h2</HostMachine><State>Off</State>"
      "<Status><Item><ID>003D08</ID><Source>Core</Source><Message>not running</Message></Item></Status>"
      "</ServiceProvider></ServiceProviders><Services>"
      "<Service><Statistics><ServiceProvider><Name>Maps</Name></ServiceProvider></Statistics><Name>Maps</Name>"
      "<State>Off</State><ServiceProviders></ServiceProviders><RunningOnServiceProviders>Idle"
      "</RunningOnServiceProviders><FailedOnServiceProviders></FailedOnServiceProviders><Status></Status></Service>"
      "</Services></Detailed></Info></Server></Pictora>";
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
