#include "rpc/StatusApi.h"

#include <ctime>

#include <nlohmann/json.hpp>

namespace Korvane::Pictora::Rpc {
namespace {

using Json = nlohmann::json;
using ServerCore::RegistrySnapshot;

std::string Text(const Json& document) { return document.dump(-1, ' ', false, Json::error_handler_t::replace); }

// RFC 3339 in UTC; null for the epoch (never).
Json Timestamp(std::chrono::system_clock::time_point when) {
  if (when.time_since_epoch().count() == 0) return nullptr;
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

Json Listed(const RegistrySnapshot* snapshot, const char* name, Json items) {
  return Json{{"taken", snapshot != nullptr ? Timestamp(snapshot->taken) : Json(nullptr)}, {name, std::move(items)}};
}

}  // namespace

std::string ReadinessJson(const Readiness& readiness) {
  Json checks{{"core_started", readiness.coreStarted},
              {"listening", readiness.listening},
              {"management_ready", readiness.managementReady}};
  if (readiness.clustered) {
    checks["cluster_reachable"] = readiness.clusterReachable;
    checks["cluster_caught_up"] = readiness.clusterCaughtUp;
  }
  return Text({{"status", readiness.Ready() ? "ready" : "not ready"}, {"checks", std::move(checks)}});
}

std::string ProvidersJson(const RegistrySnapshot* snapshot) {
  Json providers = Json::array();
  if (snapshot != nullptr) {
    for (const RegistrySnapshot::Provider& provider : snapshot->providers) {
      providers.push_back({{"name", provider.name},
                           {"endpoint", provider.endpoint},
                           {"host", provider.host},
                           {"load", provider.load},
                           {"last_ping", Timestamp(provider.lastPing)},
                           {"services", provider.services}});
    }
  }
  return Text(Listed(snapshot, "providers", std::move(providers)));
}

std::string ServicesJson(const RegistrySnapshot* snapshot) {
  Json services = Json::array();
  if (snapshot != nullptr) {
    for (const RegistrySnapshot::Service& service : snapshot->services) {
      services.push_back({{"name", service.name},
                          {"defined", service.defined},
                          {"state", service.defined ? Json(service.state) : Json(nullptr)},
                          {"providers", service.providers}});
    }
  }
  return Text(Listed(snapshot, "services", std::move(services)));
}

std::string SessionsJson(const ServerCore::ServerCounts& counts) {
  return Text({{"open", counts.openSessions}, {"providers", counts.providers}, {"services", counts.services}});
}

std::string ClusterJson(const ServerCore::ServerCounts& counts, const std::vector<std::string>& storeMembers) {
  if (!counts.clustered) return Text({{"clustered", false}});
  return Text({{"clustered", true},
               {"server", counts.clusterServerId},
               {"leader", counts.clusterLeader.empty() ? Json(nullptr) : Json(counts.clusterLeader)},
               {"leading", counts.clusterLeading},
               {"store_members", storeMembers},
               {"store_reachable", counts.clusterReachable},
               {"caught_up", counts.clusterCaughtUp},
               {"revision", counts.clusterRevision}});
}

}  // namespace Korvane::Pictora::Rpc
