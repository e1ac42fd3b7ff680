#include "tools/cli/CliCommands.h"

#include <algorithm>
#include <iomanip>
#include <map>
#include <sstream>

#include "dcerpc/Status.h"
#include "interfaces/ServerProcedureShapes.h"
#include "util/Status.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::Tools {

namespace Op = Rpc::ServerOp;
namespace GU = GeneralUtilityLib;

namespace {

constexpr const char* kApplication = "PictoraCli";
constexpr const char* kManagerApplication = "ServerManager";  // the one application the server manages with

}  // namespace

int Refuse(std::ostream& err, const std::string& what, const std::string& errorText) {
  err << what;
  std::string readable = ReadableFailure(errorText);
  if (!readable.empty()) err << ":\n" << readable;
  err << "\n";
  return kExitRefused;
}

int WithSession(ServerClient& client, SessionKind kind, std::ostream& err, const std::function<int()>& body) {
  std::string error;
  if (kind == SessionKind::kManagement) {
    if (!client.OpenManagementSession(SessionInfoXml(kManagerApplication), error)) {
      return Refuse(err, "could not open a management session", error);
    }
  } else if (!client.OpenSession(SessionInfoXml(kApplication), error)) {
    return Refuse(err, "could not open a session", error);
  }
  int status = kExitRefused;
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
  if (reply.result != 0) return Refuse(err, what + " failed", reply.error);
  out << reply.text;
  if (reply.text.empty() || reply.text.back() != '\n') out << "\n";
  return 0;
}

int Version(ServerClient& client, std::ostream& out, std::ostream& err) {
  std::string version;
  if (!client.GetVersion(version)) return Refuse(err, "the server did not give its version", "");
  out << version << "\n";
  return 0;
}

int Info(ServerClient& client, const std::string& kind, std::ostream& out, std::ostream& err) {
  return WithSession(client, SessionKind::kClient, err, [&] {
    return PrintReply(client.NameBuffer(Op::kGetInfo, client.SessionId(), kind), "information report", out, err);
  });
}

int ProvidersFor(ServerClient& client, const std::string& service, bool xml, std::ostream& out,
                 std::ostream& err) {
  return WithSession(client, SessionKind::kClient, err, [&] {
    BufferReply reply = client.NameBuffer(Op::kGetServiceProvidersFor, client.SessionId(), service);
    if (reply.result != 0 || xml) return PrintReply(reply, "providers-for", out, err);
    std::string table = ProvidersTable(reply.text);
    if (table.empty()) return Refuse(err, "the server's answer does not parse", reply.text);
    out << table;
    return 0;
  });
}

int Providers(ServerClient& client, std::ostream& out, std::ostream& err) {
  return WithSession(client, SessionKind::kClient, err, [&] {
    return PrintReply(client.SessionBuffer(Op::kGetServiceProviders), "providers", out, err);
  });
}

int Services(ServerClient& client, const std::string& provider, std::ostream& out, std::ostream& err) {
  return WithSession(client, SessionKind::kClient, err, [&] {
    return PrintReply(client.NameBuffer(Op::kGetServices, client.SessionId(), provider), "services", out, err);
  });
}

int Stop(ServerClient& client, std::ostream& out, std::ostream& err) {
  if (!client.SetStopFlag()) return Refuse(err, "the server refused to stop", "");
  out << "stop requested\n";
  return 0;
}

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

}  // namespace Korvane::Pictora::Tools
