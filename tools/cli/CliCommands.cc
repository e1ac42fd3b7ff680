#include "tools/cli/CliCommands.h"

#include <algorithm>
#include <iomanip>
#include <map>
#include <sstream>

#include "dcerpc/Status.h"
#include "rpc/ServerProcedureShapes.h"
#include "util/Status.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::Tools {

namespace Op = Rpc::ServerOp;
namespace GU = GeneralUtilityLib;

const char* const kCliUsage =
    "usage: pictora-cli [--server HOST:PORT | --pipe NAME] COMMAND\n"
    "commands:\n"
    "  version                         the server's version\n"
    "  info [basic|detailed|client]    the server's information report (default basic)\n"
    "  providers-for SERVICE [--xml]   providers running SERVICE, least loaded first\n"
    "  providers                       the registered providers\n"
    "  services PROVIDER               the services a provider registered\n"
    "  stop                            asks a server in console mode to stop\n";

namespace {

constexpr const char* kApplication = "PictoraCli";

int Fail(std::ostream& err, const std::string& what, const std::string& errorText) {
  err << what;
  std::string readable = ReadableFailure(errorText);
  if (!readable.empty()) err << ":\n" << readable;
  err << "\n";
  return 1;
}

// The report kind the server knows for a word of the command line; empty when unknown.
std::string ReportKind(const std::string& word) {
  if (GU::Equals(word, "basic", true)) return "Basic";
  if (GU::Equals(word, "detailed", true)) return "Detailed";
  if (GU::Equals(word, "client", true)) return "ServerInfoForClient";
  return {};
}

// Opens a session, runs `body`, closes the session whatever happened.
template <typename Body>
int WithSession(ServerClient& client, std::ostream& err, Body body) {
  std::string error;
  if (!client.OpenSession(SessionInfoXml(kApplication), error)) return Fail(err, "could not open a session", error);
  int status = 1;
  try {
    status = body();
  } catch (...) {
    client.CloseSession();
    throw;
  }
  client.CloseSession();
  return status;
}

int PrintReply(const BufferReply& reply, const std::string& what, std::ostream& out, std::ostream& err) {
  if (reply.result != 0) return Fail(err, what + " failed", reply.error);
  out << reply.text;
  if (reply.text.empty() || reply.text.back() != '\n') out << "\n";
  return 0;
}

int Version(ServerClient& client, std::ostream& out, std::ostream& err) {
  std::string version;
  if (!client.GetVersion(version)) return Fail(err, "the server did not give its version", "");
  out << version << "\n";
  return 0;
}

int Info(ServerClient& client, const std::string& kind, std::ostream& out, std::ostream& err) {
  return WithSession(client, err, [&] {
    return PrintReply(client.NameBuffer(Op::kGetInfo, client.SessionId(), kind), "information report", out, err);
  });
}

int ProvidersFor(ServerClient& client, const std::string& service, bool xml, std::ostream& out,
                 std::ostream& err) {
  return WithSession(client, err, [&] {
    BufferReply reply = client.NameBuffer(Op::kGetServiceProvidersFor, client.SessionId(), service);
    if (reply.result != 0 || xml) return PrintReply(reply, "providers-for", out, err);
    std::string table = ProvidersTable(reply.text);
    if (table.empty()) return Fail(err, "the server's answer does not parse", reply.text);
    out << table;
    return 0;
  });
}

}  // namespace

std::string ReadableFailure(const std::string& errorText) {
  std::string text = GU::Trim(errorText);
  if (text.empty()) return {};
  GU::Status status;
  if (GU::StartsWith(text, "<") && status.AddXml(text) && status.Count() > 0) return GU::Trim(status.ToString());
  return text;
}

std::string ProvidersTable(const std::string& answerXml) {
  GU::XmlDocument document;
  if (!document.LoadXml(answerXml)) return {};
  long count = document.CountNodes("//ServiceProviders/ServiceProvider");
  if (count < 0) return {};
  std::ostringstream table;
  table << std::left << std::setw(4) << "#" << std::setw(24) << "NAME" << std::setw(32) << "HOST" << "ENDPOINT\n";
  for (long i = 0; i < count; ++i) {
    std::string prefix = "//ServiceProviders/ServiceProvider[" + std::to_string(i) + "]/Config/";
    table << std::setw(4) << (i + 1) << std::setw(24) << GU::DefaultIfEmpty(document.GetText(prefix + "Name", ""), "-")
          << std::setw(32) << document.GetText(prefix + "HostMachine", "") << document.GetText(prefix + "Endpoint", "")
          << "\n";
  }
  if (count == 0) table << "(no provider runs this service)\n";
  return table.str();
}

int RunCliCommand(ServerClient& client, const std::vector<std::string>& words, std::ostream& out,
                  std::ostream& err) {
  const std::string command = words.empty() ? std::string() : words[0];
  const size_t arguments = words.size() - (words.empty() ? 0 : 1);
  try {
    if (command == "version" && arguments == 0) return Version(client, out, err);
    if (command == "info" && arguments <= 1) {
      std::string kind = ReportKind(arguments == 1 ? words[1] : "basic");
      if (!kind.empty()) return Info(client, kind, out, err);
    }
    if (command == "providers-for" && (arguments == 1 || (arguments == 2 && words[2] == "--xml")))
      return ProvidersFor(client, words[1], arguments == 2, out, err);
    if (command == "providers" && arguments == 0) {
      return WithSession(client, err, [&] {
        return PrintReply(client.SessionBuffer(Op::kGetServiceProviders), "providers", out, err);
      });
    }
    if (command == "services" && arguments == 1) {
      return WithSession(client, err, [&] {
        return PrintReply(client.NameBuffer(Op::kGetServices, client.SessionId(), words[1]), "services", out, err);
      });
    }
    if (command == "stop" && arguments == 0) {
      if (!client.SetStopFlag()) return Fail(err, "the server refused to stop", "");
      out << "stop requested\n";
      return 0;
    }
  } catch (const DceRpc::RpcError& error) {
    err << "cannot talk to the server: " << error.what() << " (status " << error.status() << ")\n";
    return 1;
  }
  err << kCliUsage;
  return 2;
}

}  // namespace Korvane::Pictora::Tools
