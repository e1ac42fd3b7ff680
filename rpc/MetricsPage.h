// The metrics page in the Prometheus text format (version 0.0.4): the calls the runtime answered
// (rpc/CallMetrics), the server's calls to providers (rpc/ProviderCalls) and the core's counts.
// Every name begins with "pictora_".
#pragma once

#include <string>

#include "rpc/CallMetrics.h"
#include "rpc/ProviderCalls.h"
#include "servercore/IServer.h"

namespace Korvane::Pictora::Rpc {

std::string MetricsPage(const CallMetrics& calls, const ProviderCalls& providerCalls,
                        const ServerCore::ServerCounts& core);

}  // namespace Korvane::Pictora::Rpc
