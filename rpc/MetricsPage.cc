#include "rpc/MetricsPage.h"

#include <string_view>

#include "util/TextUtil.h"

namespace Korvane::Pictora::Rpc {
namespace GU = GeneralUtilityLib;
namespace {

constexpr const char* kInterfaceName = "PictoraServer";

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
  if (procedure.other) return "interface=\"other\",interface_name=\"other\",opnum=\"other\",procedure=\"other\"";
  return GU::Format("interface=\"%s\",interface_name=\"%s\",opnum=\"%u\",procedure=\"%s\"",
                    ServerInterfaceId().uuid.ToString().c_str(), kInterfaceName, procedure.opnum,
                    ServerProcedureName(procedure.opnum));
}

void Outcomes(std::string& page, const char* name, const char* help, const CallOutcomes& outcomes) {
  Header(page, name, "counter", help);
  Line(page, name, "outcome=\"ok\"", outcomes.ok);
  Line(page, name, "outcome=\"failed\"", outcomes.failed);
  Line(page, name, "outcome=\"timed_out\"", outcomes.timedOut);
}

// A label value: `\`, `"` and line ends escaped as the text format asks.
std::string LabelValue(std::string_view text) {
  std::string value;
  for (const char c : text.substr(0, 200)) {
    if (c == '\\' || c == '"') value += '\\';
    if (c == '\n') {
      value += "\\n";
      continue;
    }
    value += c;
  }
  return value;
}

void Gauge(std::string& page, const char* name, const char* help, double value) {
  if (value < 0) return;  // not readable here
  Header(page, name, "gauge", help);
  Line(page, name, "", GU::Format("%.17g", value));
}

void ProcessLines(std::string& page, const ProcessFigures& process) {
  Gauge(page, "process_resident_memory_bytes", "Resident memory size in bytes.", process.residentBytes);
  Gauge(page, "process_open_fds", "Open file descriptors.", process.openDescriptors);
  Gauge(page, "process_max_fds", "The limit of open file descriptors.", process.maxDescriptors);
  if (process.cpuSeconds >= 0) {
    Header(page, "process_cpu_seconds_total", "counter", "User and system CPU time spent, in seconds.");
    Line(page, "process_cpu_seconds_total", "", GU::Format("%.2f", process.cpuSeconds));
  }
  Gauge(page, "process_start_time_seconds", "Start time of the process since the Unix epoch, in seconds.",
        process.startTimeSeconds);
}

}  // namespace

std::string MetricsPage(const MetricsSources& sources) {
  const CallMetrics& calls = sources.calls;
  const ServerCore::ServerCounts& core = sources.core;
  std::string page;
  Header(page, "pictora_build_info", "gauge", "Always 1; the program's and the wire interface's versions.");
  Line(page, "pictora_build_info",
       "version=\"" + LabelValue(sources.version) + "\",interface_version=\"" + LabelValue(sources.interfaceVersion) +
           "\"",
       1u);
  ProcessLines(page, sources.process);
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
           sources.providerCalls.LoadQueries());
  Outcomes(page, "pictora_provider_pings_total", "Pings to providers, by outcome.", sources.providerCalls.Pings());
  Header(page, "pictora_management_refusals_total", "counter",
         "Management calls refused, by the status ID of the answer (0x00000000: any other).");
  for (const auto& refusal : sources.refusals) {
    Line(page, "pictora_management_refusals_total", GU::Format("status=\"0x%08x\"", refusal.status), refusal.count);
  }
  Header(page, "pictora_providers_dropped_total", "counter", "Providers the liveness passes unregistered.");
  Line(page, "pictora_providers_dropped_total", "", core.providersDropped);
  if (!core.clustered) return page;
  Header(page, "pictora_cluster_reachable", "gauge", "1 while the cluster store answers with a quorum, else 0.");
  Line(page, "pictora_cluster_reachable", "", core.clusterReachable ? 1u : 0u);
  Header(page, "pictora_cluster_leader", "gauge", "1 while this server runs the liveness pass for the cluster, else 0.");
  Line(page, "pictora_cluster_leader", "", core.clusterLeading ? 1u : 0u);
  Header(page, "pictora_cluster_revision", "gauge", "The cluster store's revision this server has applied.");
  Line(page, "pictora_cluster_revision", "", std::to_string(core.clusterRevision));
  Header(page, "pictora_cluster_stream_breaks_total", "counter",
         "Times the cluster store's stream broke or fell behind and was opened again on another member.");
  Line(page, "pictora_cluster_stream_breaks_total", "", core.clusterStreamBreaks);
  return page;
}

}  // namespace Korvane::Pictora::Rpc
