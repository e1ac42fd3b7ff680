#include "rpc/MetricsPage.h"

#include "util/TextUtil.h"

namespace Korvane::Pictora::Rpc {
namespace GU = GeneralUtilityLib;
namespace {

void Header(std::string& page, const char* name, const char* type, const char* help) {
  page += GU::Format("# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
}

void Line(std::string& page, const std::string& name, const std::string& labels, const std::string& value) {
  page += name + (labels.empty() ? "" : "{" + labels + "}") + " " + value + "\n";
}

void Line(std::string& page, const std::string& name, const std::string& labels, uint64_t count) {
  Line(page, name, labels, std::to_string(count));
}

std::string ProcedureLabels(const CallMetrics::Procedure& procedure) {
  if (procedure.other) return "interface=\"other\",opnum=\"other\",procedure=\"other\"";
  return GU::Format("interface=\"%s\",opnum=\"%u\",procedure=\"%s\"", ServerInterfaceId().uuid.ToString().c_str(),
                    procedure.opnum, ServerProcedureName(procedure.opnum));
}

void Outcomes(std::string& page, const char* name, const char* help, const CallOutcomes& outcomes) {
  Header(page, name, "counter", help);
  Line(page, name, "outcome=\"ok\"", outcomes.ok);
  Line(page, name, "outcome=\"failed\"", outcomes.failed);
  Line(page, name, "outcome=\"timed_out\"", outcomes.timedOut);
}

}  // namespace

std::string MetricsPage(const CallMetrics& calls, const ProviderCalls& providerCalls,
                        const ServerCore::ServerCounts& core) {
  std::string page;
  const std::vector<CallMetrics::Procedure> procedures = calls.Procedures();
  Header(page, "pictora_calls_total", "counter", "Calls answered, by procedure of the server's interface.");
  for (const auto& procedure : procedures) {
    Line(page, "pictora_calls_total", ProcedureLabels(procedure), procedure.calls);
  }
  Header(page, "pictora_call_duration_seconds", "histogram",
         "From a request's last fragment to its reply handed to the socket.");
  for (const auto& procedure : procedures) {
    const std::string labels = ProcedureLabels(procedure);
    uint64_t cumulative = 0;
    for (std::size_t bucket = 0; bucket < CallMetrics::kBuckets; ++bucket) {
      cumulative += procedure.buckets[bucket];
      const std::string bound = bucket < CallMetrics::kBucketBounds.size()
                                    ? GU::Format("%g", CallMetrics::kBucketBounds[bucket].count() / 1e6)
                                    : std::string("+Inf");
      Line(page, "pictora_call_duration_seconds_bucket", labels + ",le=\"" + bound + "\"", cumulative);
    }
    Line(page, "pictora_call_duration_seconds_sum", labels, GU::Format("%.9f", procedure.total.count() / 1e9));
    Line(page, "pictora_call_duration_seconds_count", labels, cumulative);
  }
  Header(page, "pictora_call_faults_total", "counter",
         "Calls answered with a fault, by status (0x00000000: any other).");
  for (const auto& fault : calls.Faults()) {
    Line(page, "pictora_call_faults_total", GU::Format("status=\"0x%08x\"", fault.status), fault.count);
  }
  Header(page, "pictora_open_sessions", "gauge", "Sessions open in the core.");
  Line(page, "pictora_open_sessions", "", core.openSessions);
  Header(page, "pictora_registered_providers", "gauge", "Service providers registered.");
  Line(page, "pictora_registered_providers", "", core.providers);
  Header(page, "pictora_registered_services", "gauge", "Service names registered by at least one provider.");
  Line(page, "pictora_registered_services", "", core.services);
  Outcomes(page, "pictora_provider_load_queries_total", "Load queries to providers, by outcome.",
           providerCalls.LoadQueries());
  Outcomes(page, "pictora_provider_pings_total", "Pings to providers, by outcome.", providerCalls.Pings());
  Header(page, "pictora_providers_dropped_total", "counter", "Providers the liveness passes unregistered.");
  Line(page, "pictora_providers_dropped_total", "", core.providersDropped);
  if (!core.clustered) return page;
  Header(page, "pictora_cluster_reachable", "gauge", "1 while the cluster store answers with a quorum, else 0.");
  Line(page, "pictora_cluster_reachable", "", core.clusterReachable ? 1u : 0u);
  Header(page, "pictora_cluster_revision", "gauge", "The cluster store's revision this server has applied.");
  Line(page, "pictora_cluster_revision", "", std::to_string(core.clusterRevision));
  Header(page, "pictora_cluster_stream_breaks_total", "counter",
         "Times the cluster store's stream broke or fell behind and was opened again on another member.");
  Line(page, "pictora_cluster_stream_breaks_total", "", core.clusterStreamBreaks);
  return page;
}

}  // namespace Korvane::Pictora::Rpc
