// The metrics page in the Prometheus text format (version 0.0.4): the calls the runtime answered
// (rpc/CallMetrics), the server's calls to providers (rpc/ProviderCalls), the core's counts, the
// management calls refused, the build and the process's own figures. Every name begins with
// "pictora_" but the process figures', which have the names scrapers know ("process_...").
#pragma once

#include <string>

#include <vector>

#include "rpc/CallMetrics.h"
#include "rpc/ManagementAudit.h"
#include "rpc/ProcessFigures.h"
#include "rpc/ProviderCalls.h"
#include "servercore/IServer.h"

namespace Korvane::Pictora::Rpc {

struct MetricsSources {
  const CallMetrics& calls;
  const ProviderCalls& providerCalls;
  ServerCore::ServerCounts core;
  std::vector<RefusalCounts::Row> refusals;
  ProcessFigures process;
  std::string version;           // the program's
  std::string interfaceVersion;  // the one the wire's GetVersion reports
};

std::string MetricsPage(const MetricsSources& sources);

}  // namespace Korvane::Pictora::Rpc
