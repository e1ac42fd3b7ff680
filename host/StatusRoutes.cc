#include "host/StatusRoutes.h"

#include <chrono>
#include <memory>

#include "rpc/MetricsPage.h"
#include "rpc/StatusPage.h"

namespace Korvane::Pictora::Host {
namespace {

constexpr const char* kJson = "application/json";

HttpReply Json(std::string body, int status = 200) {
  return HttpReply{status, kJson, std::move(body), "Cache-Control: no-store\r\n"};
}

// The providers' and services' documents, built at most once a second however often they are
// asked for: pollers cannot make the server copy its registry more often than that. Used on the
// metrics server's one thread only.
class RegistryDocuments {
 public:
  explicit RegistryDocuments(ServerCore::IServer* core) : core_(core) {}

  const std::string& Providers() { return Fresh().providers; }
  const std::string& Services() { return Fresh().services; }

 private:
  static constexpr std::chrono::seconds kMaxAge{1};
  struct Built {
    std::string providers;
    std::string services;
  };

  const Built& Fresh() {
    const auto now = std::chrono::steady_clock::now();
    if (built_ && now - builtAt_ < kMaxAge) return *built_;
    const std::shared_ptr<const ServerCore::RegistrySnapshot> snapshot = core_->GetRegistrySnapshot();
    built_ = std::make_unique<Built>(Built{Rpc::ProvidersJson(snapshot.get()), Rpc::ServicesJson(snapshot.get())});
    builtAt_ = now;
    return *built_;
  }

  ServerCore::IServer* const core_;
  std::unique_ptr<Built> built_;
  std::chrono::steady_clock::time_point builtAt_;
};

}  // namespace

HttpRouter StatusRoutes(StatusSources given) {
  const auto sources = std::make_shared<const StatusSources>(std::move(given));
  ServerCore::IServer* const core = sources->core;
  HttpRouter router;
  router.Get("/metrics", [sources, core] {
    return HttpReply{200, "text/plain; version=0.0.4; charset=utf-8",
                     Rpc::MetricsPage({*sources->calls, *sources->providerCalls, core->GetCounts(),
                                       Rpc::RefusedManagementCalls(), Rpc::ProcessFigures::OfThisProcess(),
                                       sources->version, sources->interfaceVersion}),
                     {}};
  });
  router.Get("/healthz", [] { return Json(R"({"status":"serving"})"); });
  router.Get("/readyz", [sources, core] {
    Rpc::Readiness readiness = sources->readiness();
    const ServerCore::ServerCounts counts = core->GetCounts();
    readiness.clustered = counts.clustered;
    readiness.clusterReachable = counts.clusterReachable;
    readiness.clusterCaughtUp = counts.clusterCaughtUp;
    return Json(Rpc::ReadinessJson(readiness), readiness.Ready() ? 200 : 503);
  });
  const auto documents = std::make_shared<RegistryDocuments>(core);
  router.Get("/api/v1/providers", [documents] { return Json(documents->Providers()); });
  router.Get("/api/v1/services", [documents] { return Json(documents->Services()); });
  router.Get("/api/v1/sessions", [core] { return Json(Rpc::SessionsJson(core->GetCounts())); });
  router.Get("/api/v1/cluster",
             [sources, core] { return Json(Rpc::ClusterJson(core->GetCounts(), sources->clusterMembers)); });
  router.Get("/", [] {
    return HttpReply{200, "text/html; charset=utf-8", std::string(Rpc::StatusPageHtml()),
                     "Content-Security-Policy: " + std::string(Rpc::StatusPagePolicy()) + "\r\n"};
  });
  return router;
}

}  // namespace Korvane::Pictora::Host
