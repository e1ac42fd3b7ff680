// What the metrics server answers, path by path: /metrics, the probes (/healthz: the process
// serves; /readyz: 200 once the server takes calls, else 503), the JSON API under /api/v1/ and the
// status page at "/". Every handler reads the core without waiting on its registry lock for long;
// the providers' and services' documents are at most a second old.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/HttpRouter.h"
#include "rpc/CallMetrics.h"
#include "rpc/ProviderCalls.h"
#include "rpc/StatusApi.h"
#include "servercore/IServer.h"

namespace Korvane::Pictora::Host {

struct StatusSources {
  ServerCore::IServer* core = nullptr;
  const Rpc::CallMetrics* calls = nullptr;
  const Rpc::ProviderCalls* providerCalls = nullptr;
  // The host's part of readiness; the cluster's checks are added from the core's counts.
  std::function<Rpc::Readiness()> readiness;
  std::vector<std::string> clusterMembers;
  std::string version;
  std::string interfaceVersion;
};

// The sources must outlive the server the routes go to.
HttpRouter StatusRoutes(StatusSources sources);

}  // namespace Korvane::Pictora::Host
