// The objects of one server run and their order, shared by console and service mode:
// core constructed (with its endpoint listener and provider calls) -> core published -> Init
// (ends by listening) -> client time-outs from the configuration -> metrics server -> facade ->
// (the caller's loop) -> Close (metrics page first) -> facade and core unpublished and destroyed.
// The metrics server runs where the installation key's MetricsEndpoint says (unless it is written
// empty); only then does the endpoint count calls.
//
// Not thread-safe: owned and driven by the host's loop thread. The remote procedures reach the
// published core on the runtime's threads meanwhile.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "admin/ServerManagerProxy.h"
#include "host/CommandProviderLauncher.h"
#include "host/MetricsServer.h"
#include "rpc/CallMetrics.h"
#include "rpc/EtcdClusterStore.h"
#include "rpc/Listener.h"
#include "rpc/ProviderCalls.h"
#include "servercore/ServerImpl.h"

namespace Korvane::Pictora::Host {

class ServerHost {
 public:
  ServerHost();
  ~ServerHost();  // Close, then unpublish and destroy facade and core
  ServerHost(const ServerHost&) = delete;
  ServerHost& operator=(const ServerHost&) = delete;

  // The core's Init with the endpoint from the command line (empty: the configured one).
  // 0 on success, else the core's code; StatusText() then says why.
  long Start(const std::string& endpoint);
  // Creates and initialises the administration facade (after Start) and publishes it.
  void StartFacade(const std::string& extraAllowList);
  // Stops listening (waiting, bounded, for calls in progress), then closes the core, which
  // destroys the sessions; a second call does nothing more.
  void Close();

  ServerCore::IServer& Core() { return *core_; }
  std::string StatusText();
  // The TCP port served (0 when none).
  uint16_t TcpPort() const { return listener_.TcpPort(); }

 private:
  void ApplyClientTimeouts();
  // Load queries and pings reuse a pooled connection per provider; beyond the pool's endpoint
  // limit each would connect anew (a lookup among 1,000 candidates: 744 connects). Idle ones
  // may hold a quarter of the descriptors (at least the runtime's default of 256); the rest
  // stays for the providers' and clients' own connections.
  void SizeProviderConnectionPool();
  static constexpr size_t kMinPooledProviders = 256;
  // A page that cannot be served is reported; the server runs on without it.
  void StartMetrics();

  const std::string metricsEndpoint_;  // empty: no metrics
  std::unique_ptr<Rpc::CallMetrics> callMetrics_;
  Rpc::Listener listener_;
  Rpc::ProviderCalls providerCalls_;
  CommandProviderLauncher launcher_;
  // Cluster mode only: the installation key names the cluster store's members.
  const std::vector<std::string> clusterMembers_;
  std::unique_ptr<Rpc::EtcdClusterStore> clusterStore_;
  std::unique_ptr<ServerCore::ServerImpl> core_;
  std::unique_ptr<ServerCore::ServerManagerProxy> facade_;
  std::unique_ptr<MetricsServer> metrics_;
  bool closed_ = false;
  // For the readiness probe, read on the metrics server's thread.
  std::atomic<bool> started_{false};
  std::atomic<bool> facadeReady_{false};
};

}  // namespace Korvane::Pictora::Host
