#include "tools/cli/CliCommands.h"

#include <algorithm>
#include <chrono>
#include <iomanip>
#include <map>
#include <sstream>

#include "dcerpc/Status.h"
#include "interfaces/ProviderProcedureShapes.h"
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
// A provider that does not answer its load within this long shows none: the table must not wait
// on it as long as the server would.
constexpr std::chrono::milliseconds kLoadTimeout{1000};
constexpr std::chrono::seconds kLoadBudget{5};

std::string AskLoad(const std::string& host, const std::string& endpoint) {
  try {
    DceRpc::Binding binding("ncacn_ip_tcp", host, endpoint);
    if (binding.Validate() != DceRpc::StatusCode::kOk) return "-";
    binding.SetTimeouts({kLoadTimeout, kLoadTimeout});
    DceRpc::Arguments args(1);
    args.SetDouble(0, 0.0);
    binding.Call(Rpc::ProviderInterfaceId(), Rpc::ProviderOp::kGetLoad, Rpc::ProviderSpecs::GetLoad(), args);
    return GU::Format("%.2f", args.Double(0));
  } catch (const std::exception&) {
    return "-";
  }
}

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

int Version(ServerClient& client, OutputFormat format, std::ostream& out, std::ostream& err) {
  std::string version;
  if (!client.GetVersion(version)) return Refuse(err, "the server did not give its version", "");
  if (format == OutputFormat::kTable) {
    out << version << "\n";
    return kExitOk;
  }
  return PrintDocument("<Version>" + XmlEscape(version) + "</Version>", format, nullptr, out, err);
}

int Info(ServerClient& client, const std::string& kind, OutputFormat format, std::ostream& out, std::ostream& err) {
  return WithSession(client, SessionKind::kClient, err, [&] {
    const BufferReply reply = client.NameBuffer(Op::kGetInfo, client.SessionId(), kind);
    if (reply.result != 0) return Refuse(err, "information report failed", reply.error);
    return PrintDocument(reply.text, format, nullptr, out, err);
  });
}

int ProvidersFor(ServerClient& client, const std::string& service, OutputFormat format, std::ostream& out,
                 std::ostream& err) {
  return WithSession(client, SessionKind::kClient, err, [&] {
    const BufferReply reply = client.NameBuffer(Op::kGetServiceProvidersFor, client.SessionId(), service);
    if (reply.result != 0) return Refuse(err, "providers-for failed", reply.error);
    // However many providers the answer lists, the loads take kLoadBudget at most.
    const auto deadline = std::chrono::steady_clock::now() + kLoadBudget;
    const LoadOf loadOf = [deadline](const std::string& host, const std::string& endpoint) {
      return std::chrono::steady_clock::now() < deadline ? AskLoad(host, endpoint) : std::string("-");
    };
    return PrintDocument(reply.text, format, [&](const std::string& xml) { return ProvidersTable(xml, loadOf); }, out,
                         err);
  });
}

int Providers(ServerClient& client, OutputFormat format, std::ostream& out, std::ostream& err) {
  return WithSession(client, SessionKind::kClient, err, [&] {
    const BufferReply reply = client.SessionBuffer(Op::kGetServiceProviders);
    if (reply.result != 0) return Refuse(err, "providers failed", reply.error);
    return PrintDocument(
        reply.text, format, [](const std::string& xml) { return ListTable(xml, "ServiceProvider", "PROVIDER"); }, out,
        err);
  });
}

int Services(ServerClient& client, const std::string& provider, OutputFormat format, std::ostream& out,
             std::ostream& err) {
  return WithSession(client, SessionKind::kClient, err, [&] {
    const BufferReply reply = client.NameBuffer(Op::kGetServices, client.SessionId(), provider);
    if (reply.result != 0) return Refuse(err, "services failed", reply.error);
    return PrintDocument(
        reply.text, format, [](const std::string& xml) { return ListTable(xml, "ImageService", "SERVICE"); }, out,
        err);
  });
}

int Stop(ServerClient& client, OutputFormat format, std::ostream& out, std::ostream& err) {
  if (!client.SetStopFlag()) return Refuse(err, "the server refused to stop", "");
  PrintDone("stop requested", format, out);
  return kExitOk;
}

std::string ReadableFailure(const std::string& errorText) {
  std::string text = GU::Trim(errorText);
  if (text.empty()) return {};
  GU::Status status;
  if (GU::StartsWith(text, "<") && status.AddXml(text) && status.Count() > 0) return GU::Trim(status.ToString());
  return text;
}

std::string ProvidersTable(const std::string& answerXml, const LoadOf& loadOf) {
  GU::XmlDocument document;
  if (!document.LoadXml(answerXml)) return {};
  const long count = document.CountNodes("//ServiceProviders/ServiceProvider");
  if (count < 0) return {};
  std::vector<std::string> heading{"#", "NAME", "HOST", "ENDPOINT"};
  if (loadOf) heading.push_back("LOAD");
  std::vector<TableRow> rows;
  for (long i = 0; i < count; ++i) {
    const std::string prefix = "//ServiceProviders/ServiceProvider[" + std::to_string(i) + "]/Config/";
    const std::string host = document.GetText(prefix + "HostMachine", "");
    const std::string endpoint = document.GetText(prefix + "Endpoint", "");
    TableRow row{{std::to_string(i + 1), GU::DefaultIfEmpty(document.GetText(prefix + "Name", ""), "-"),
                  GU::DefaultIfEmpty(host, "-"), GU::DefaultIfEmpty(endpoint, "-")},
                 ""};
    if (loadOf) row.cells.push_back(loadOf(host, endpoint));
    rows.push_back(std::move(row));
  }
  return count == 0 ? Table(heading, {{{"(no provider runs this service)"}, ""}}) : Table(heading, rows);
}

}  // namespace Korvane::Pictora::Tools
