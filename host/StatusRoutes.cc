#include "host/StatusRoutes.h"

#include <memory>

#include "rpc/MetricsPage.h"
#include "rpc/StatusPage.h"

namespace Korvane::Pictora::Host {
namespace {

constexpr const char* kJson = "application/json";

HttpReply Json(std::string body, int status = 200) {
  return HttpReply{status, kJson, std::move(body), "Cache-Control: no-store\r\n"};
}

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
  router.Get("/api/v1/providers", [core] { return Json(Rpc::ProvidersJson(core->GetRegistrySnapshot().get())); });
  router.Get("/api/v1/services", [core] { return Json(Rpc::ServicesJson(core->GetRegistrySnapshot().get())); });
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
