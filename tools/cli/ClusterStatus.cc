#include "tools/cli/ClusterStatus.h"

#include <algorithm>

#include "interfaces/ServerProcedureShapes.h"
#include "tools/cli/CliCommands.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::Tools {

namespace GU = GeneralUtilityLib;

namespace {

// The fields of the Cluster text: "reachable; runs the liveness pass; revision 42".
struct ClusterFields {
  std::string store = "-";
  std::string livenessPass = "-";
  std::string revision = "-";
};

ClusterFields FieldsOf(const std::string& cluster) {
  ClusterFields fields;
  const std::vector<std::string> pieces = GU::Tokenize(cluster, ";");
  if (pieces.size() > 0) fields.store = GU::Trim(pieces[0]);
  if (pieces.size() > 1)
    fields.livenessPass = GU::Trim(pieces[1]) == "runs the liveness pass" ? "this server" : "another";
  if (pieces.size() > 2 && GU::StartsWith(GU::Trim(pieces[2]), "revision "))
    fields.revision = GU::Trim(pieces[2]).substr(9);
  return fields;
}

std::string ViewsXml(const std::vector<ClusterView>& views) {
  std::string xml = "<ClusterStatus>";
  for (const ClusterView& view : views) {
    const ClusterFields fields = FieldsOf(view.cluster);
    xml += "<Server><Address>" + XmlEscape(view.server) + "</Address><Answered>" + (view.answered ? "true" : "false") +
           "</Answered><ClusterMode>" + (view.cluster.empty() ? "false" : "true") + "</ClusterMode>";
    if (!view.cluster.empty()) {
      xml += "<Store>" + XmlEscape(fields.store) + "</Store><LivenessPass>" + XmlEscape(fields.livenessPass) +
             "</LivenessPass><Revision>" + XmlEscape(fields.revision) + "</Revision>";
    }
    xml += "</Server>";
  }
  return xml + "</ClusterStatus>";
}

std::string ViewsTable(const std::vector<ClusterView>& views) {
  std::vector<TableRow> rows;
  for (const ClusterView& view : views) {
    if (!view.answered) {
      rows.push_back({{view.server, "(no answer)", "-", "-"}, ""});
    } else if (view.cluster.empty()) {
      rows.push_back({{view.server, "(single server: no cluster store)", "-", "-"}, ""});
    } else {
      const ClusterFields fields = FieldsOf(view.cluster);
      rows.push_back({{view.server, fields.store, fields.livenessPass, fields.revision}, ""});
    }
  }
  return Table({"SERVER", "STORE", "LIVENESS PASS", "REVISION"}, rows);
}

}  // namespace

ClusterView ClusterViewOf(const std::string& server, const std::string& basicReportXml) {
  GU::XmlDocument document;
  ClusterView view{server, document.LoadXml(basicReportXml), ""};
  if (view.answered) view.cluster = GU::Trim(document.GetText("//Basic/Cluster", ""));
  return view;
}

int PrintClusterViews(const std::vector<ClusterView>& views, OutputFormat format, std::ostream& out,
                      std::ostream& err) {
  const int printed = PrintDocument(
      ViewsXml(views), format, [&views](const std::string&) { return ViewsTable(views); }, out, err);
  const bool anyAnswered = std::any_of(views.begin(), views.end(), [](const ClusterView& v) { return v.answered; });
  return printed != kExitOk ? printed : anyAnswered ? kExitOk : kExitUnreachable;
}

int ClusterStatus(const std::vector<std::pair<std::string, DceRpc::Binding>>& servers, OutputFormat format,
                  std::ostream& out, std::ostream& err) {
  std::vector<ClusterView> views;
  for (const auto& server : servers) {
    const std::string& address = server.first;
    ServerClient client(server.second);
    std::string report;
    try {
      WithSession(client, SessionKind::kClient, err, [&]() -> int {
        const BufferReply reply = client.NameBuffer(Rpc::ServerOp::kGetInfo, client.SessionId(), "Basic");
        if (reply.result != 0) return Refuse(err, address + ": basic report failed", reply.error);
        report = reply.text;
        return kExitOk;
      });
    } catch (const DceRpc::RpcError& error) {
      err << "cannot talk to the server at " << address << ": " << error.what() << "\n";
    }
    views.push_back(report.empty() ? ClusterView{address, false, ""} : ClusterViewOf(address, report));
  }
  return PrintClusterViews(views, format, out, err);
}

}  // namespace Korvane::Pictora::Tools
