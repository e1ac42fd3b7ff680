// `pictora-cli admin cluster status`: every server given, asked for its basic report, and what
// its Cluster element says of the cluster store (reachable or not), the liveness pass (run by
// this server or another: the leader) and the store revision it has applied. Servers that do
// not answer are listed as such, so one command shows the whole cluster as its servers see it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/cli/Output.h"
#include "tools/common/ServerClient.h"

namespace Korvane::Pictora::Tools {

struct ClusterView {
  std::string server;
  bool answered = false;
  std::string cluster;  // the report's Cluster text; empty for a single server
};

// The view of one server's basic report text.
ClusterView ClusterViewOf(const std::string& server, const std::string& basicReportXml);
// The views as `format`; the exit status: kExitUnreachable when no server answered.
int PrintClusterViews(const std::vector<ClusterView>& views, OutputFormat format, std::ostream& out, std::ostream& err);

// Asks each (address, binding) in turn.
int ClusterStatus(const std::vector<std::pair<std::string, DceRpc::Binding>>& servers, OutputFormat format,
                  std::ostream& out, std::ostream& err);

}  // namespace Korvane::Pictora::Tools
