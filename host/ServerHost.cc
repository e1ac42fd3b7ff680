#include "host/ServerHost.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>

#include "dcerpc/Client.h"
#include "global/Installation.h"
#include "global/IReporter.h"
#include "host/LivenessClock.h"
#include "host/StatusRoutes.h"
#include "rpc/PublishedObjects.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::Host {

namespace {

// A configured time-out in milliseconds; the default for a missing, unreadable or non-positive
// value.
std::chrono::milliseconds TimeoutValue(const GeneralUtilityLib::ElementList& config, const char* name,
                                       std::chrono::milliseconds fallback) {
  const auto value = GeneralUtilityLib::ParseLong(config.GetValue(name), 0);
  return value > 0 ? std::chrono::milliseconds(value) : fallback;
}

// The cluster store's members from the installation key's ClusterEndpoints ("host:port" or
// URLs, separated by commas), as URLs.
std::vector<std::string> ConfiguredClusterMembers() {
  std::vector<std::string> members;
  for (std::string member : GeneralUtilityLib::Tokenize(Global::ReadInstallationValue("ClusterEndpoints"), ",")) {
    member = GeneralUtilityLib::Trim(member);
    if (member.empty()) continue;
    if (member.find("://") == std::string::npos) member = "http://" + member;
    members.push_back(member);
  }
  return members;
}

// Null when the installation names no member: a single server.
std::unique_ptr<Rpc::EtcdClusterStore> ClusterStoreOn(const std::vector<std::string>& members) {
  if (members.empty()) return nullptr;
  return std::make_unique<Rpc::EtcdClusterStore>(members, std::chrono::seconds(2));
}

// Several installations may share one cluster store, each under a prefix of its own.
std::string ConfiguredClusterPrefix() {
  std::string prefix = GeneralUtilityLib::Trim(Global::ReadInstallationValue("ClusterPrefix"));
  if (prefix.empty()) prefix = "/korvane/pictora";
  return prefix.back() == '/' ? prefix : prefix + "/";
}

ServerCore::ServerImpl::Seams CoreSeams(Rpc::Listener& listener, Rpc::ProviderCalls& providerCalls,
                                        Rpc::EtcdClusterStore* clusterStore) {
  ServerCore::ServerImpl::Seams seams;
  seams.listener = &listener;
  seams.providerCalls = &providerCalls;
  // The loop's clock counts whole seconds: a pass comes up to a second after its period.
  seams.livenessPeriod = std::chrono::seconds(LivenessClock::ConfiguredPeriod() + 1);
  seams.clusterStore = clusterStore;
  if (clusterStore != nullptr) seams.clusterPrefix = ConfiguredClusterPrefix();
  return seams;
}

}  // namespace

ServerHost::ServerHost()
    : metricsEndpoint_(ConfiguredMetricsEndpoint()),
      callMetrics_(metricsEndpoint_.empty() ? nullptr : std::make_unique<Rpc::CallMetrics>()),
      listener_({}, callMetrics_ ? callMetrics_->Observer() : DceRpc::CallObserver()),
      clusterMembers_(ConfiguredClusterMembers()),
      clusterStore_(ClusterStoreOn(clusterMembers_)),
      core_(std::make_unique<ServerCore::ServerImpl>(CoreSeams(listener_, providerCalls_, clusterStore_.get()))) {
  Rpc::PublishServer(core_.get());
}

ServerHost::~ServerHost() {
  Close();
  Rpc::PublishFacade(nullptr);
  core_->SetManagementInfo(nullptr);
  facade_.reset();
  Rpc::PublishServer(nullptr);
  core_.reset();
}

long ServerHost::Start(const std::string& endpoint) {
  const long code = core_->Init(endpoint);
  if (code == 0) {
    started_ = true;
    ApplyClientTimeouts();
    SizeProviderConnectionPool();
    StartMetrics();
  }
  return code;
}

void ServerHost::StartMetrics() {
  if (!callMetrics_ || metrics_) return;
  constexpr const char* kSource = "Korvane::Pictora::Host::ServerHost::StartMetrics";
  std::string error;
  StatusSources sources;
  sources.core = core_.get();
  sources.calls = callMetrics_.get();
  sources.providerCalls = &providerCalls_;
  sources.readiness = [this] {
    Rpc::Readiness readiness;
    readiness.coreStarted = started_.load();
    readiness.listening = listener_.Listening();
    readiness.managementReady = facadeReady_.load();
    return readiness;
  };
  sources.clusterMembers = clusterMembers_;
  sources.version = PICTORA_VERSION;
  sources.interfaceVersion = core_->GetVersion();
  metrics_ = MetricsServer::Start(metricsEndpoint_, StatusRoutes(std::move(sources)), error);
  Global::ReportToGlobal(kSource, metrics_ ? "Metrics page at http://" + metricsEndpoint_ + "/metrics"
                                           : "The metrics page at '" + metricsEndpoint_ +
                                                 "' could not be served: " + error);
}

void ServerHost::StartFacade(const std::string& extraAllowList) {
  if (facade_) return;
  // Until it is published the management procedures answer that it is not initialised.
  facade_ = std::make_unique<ServerCore::ServerManagerProxy>(&providerCalls_, &launcher_);
  facade_->Init(core_.get(), extraAllowList);
  core_->SetManagementInfo(facade_.get());
  Rpc::PublishFacade(facade_.get());
  facadeReady_ = true;
}

void ServerHost::Close() {
  if (closed_) return;
  closed_ = true;
  metrics_.reset();  // its pages read the core and the listener
  // The endpoint stops first, outside the core's registry lock: the runtime waits for its
  // worker threads to end, and calls that wait for that lock could never end while the core's
  // Close holds it. The core's own stop of the endpoint then finds nothing left to stop.
  listener_.StopListening();
  core_->Close();
}

std::string ServerHost::StatusText() { return core_->GetStatus().ToString(); }

void ServerHost::SizeProviderConnectionPool() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return;
  DceRpc::SetClientConnectionPoolKeys(std::max<size_t>(kMinPooledProviders, limit.rlim_cur / 4));
}

void ServerHost::ApplyClientTimeouts() {
  const GeneralUtilityLib::ElementList config = core_->GetConfiguration();
  const DceRpc::ClientTimeouts defaults;
  DceRpc::ClientTimeouts timeouts;
  timeouts.connect = TimeoutValue(config, "RpcConnectTimeoutMs", defaults.connect);
  timeouts.call = TimeoutValue(config, "RpcCallTimeoutMs", defaults.call);
  DceRpc::SetDefaultClientTimeouts(timeouts);
}

}  // namespace Korvane::Pictora::Host
