// The lookup (which providers run a service, least loaded first) and the liveness pass.
#include "servercore/LoadQueries.h"
#include "servercore/ServerImpl.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;
namespace {

constexpr const char* kRequestSource = "Korvane::Pictora::ServerCore::Session::GetServiceProvidersFor";
constexpr const char* kManageSource = "ServerCore.ServerImpl.Manage";

// What the liveness pass needs of a provider, copied under the lock.
struct PingTarget {
  std::string name;
  std::string host;
  std::string endpoint;
  std::string sessionId;
};

PingResult PingProvider(IProviderCalls* calls, const PingTarget& target, std::string& errorText) {
  if (calls == nullptr) return PingResult::Alive;
  try {
    return calls->Ping(target.host, target.endpoint, errorText);
  } catch (...) {
    return PingResult::OtherError;
  }
}

}  // namespace

bool ServerImpl::GetServiceProvidersFor(const ISession& session, const CallerIdentity& caller,
                                        const std::string& serviceName, std::string& xml) {
  Report(kRequestSource, "%s", LookupRequestLine(session, serviceName).c_str());
  const bool found = Guarded("GetServiceProvidersFor", false, [&] {
    std::vector<Candidate> candidates;
    {
      CriticalSectionLock lock(&registryLock_);
      PublishLocked(GU::Status("ServerCore.Server.GetServiceProviderFor"));
      // The file the service's registered name denotes, however the caller spelled it.
      auto allocation = registry_.Allocations().find(serviceName);
      const std::string& checkedName = allocation != registry_.Allocations().end() ? allocation->first : serviceName;
      std::string message;
      if (!authentication_.MayUse(caller, checkedName, message)) {
        xml = message;
        return false;
      }
      if (!parallelLoads_) {
        // Held while every candidate is asked for its load, so the answer reflects one moment.
        IProviderCalls* calls = providerCalls_.load();
        candidates = registry_.PrepareCandidates(serviceName, [calls](const std::string& host, const std::string& endpoint) {
          return AskLoad(calls, host, endpoint);
        });
        xml = ProvidersAnswer(RankByLoad(candidates));
        return true;
      }
      candidates = registry_.PrepareCandidates(serviceName);
    }
    // The loads are asked without the lock; the answers are written back under it.
    std::vector<std::pair<std::string, std::string>> addresses;
    for (const Candidate& candidate : candidates) {
      addresses.emplace_back(candidate.record.config.GetValue("HostMachine"), candidate.record.config.GetValue("Endpoint"));
    }
    const std::vector<double> loads = parallelLoads_->Ask(addresses, settings_.loadQueryBudget);
    CriticalSectionLock lock(&registryLock_);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      candidates[i].record.load = loads[i];
      registry_.SetLoad(candidates[i].name, loads[i]);
    }
    xml = ProvidersAnswer(RankByLoad(candidates));
    return true;
  });
  if (!found) Report(kRequestSource, "%s", xml.c_str());
  return found;
}

void ServerImpl::Manage() {
  const auto started = std::chrono::steady_clock::now();
  // A pass far later than due says the host stood still: failures seen now prove nothing.
  const bool late = started - lastPassEnd_ > 2 * livenessPeriod_;
  if (late) {
    Report(kManageSource, "The liveness pass runs %lld s after the last one; no provider is dropped in this pass",
           static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(started - lastPassEnd_).count()));
  }
  std::vector<PingTarget> targets;
  // In a cluster one server, the elected one, pings for all; its removals carry the proof that it
  // still is the one.
  IClusterStore::Condition fence;
  const bool pings = !replica_ || replica_->Leading(fence);
  Guarded("Manage", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    if (settings_.sessionIdleTimeout.count() > 0) sessions_.CloseIdle(settings_.sessionIdleTimeout);
    if (!pings) return true;
    for (const auto& [name, record] : registry_.Providers()) {
      targets.push_back(PingTarget{name, record.config.GetValue("HostMachine"), record.config.GetValue("Endpoint"),
                                   record.sessionId});
    }
    return true;
  });
  // The pings run without the lock.
  for (const PingTarget& target : targets) {
    std::string errorText;
    const PingResult result = PingProvider(providerCalls_.load(), target, errorText);
    // Any other remote error (access denied, say) is no proof of death.
    if (result == PingResult::OtherError) continue;
    if (result == PingResult::Alive) {
      Guarded("Manage", false, [&] {
        CriticalSectionLock lock(&registryLock_);
        registry_.ClearFailedPasses(target.name);
        return true;
      });
      continue;
    }
    if (!DropAfterFailedPing(target.name, late)) continue;
    if (replica_) {
      if (!replica_->Leading(fence)) break;
      Report(kManageSource, "No response from ServiceProvider: '%s'; error: %s. Unregistering it.", target.name.c_str(),
             errorText.c_str());
      std::int64_t revision = 0;
      std::string error;
      if (writer_->RemoveProvider(target.name, fence, revision, error) == ClusterWriter::Result::kDone) {
        droppedCount_.fetch_add(1, std::memory_order_relaxed);
        replica_->WaitApplied(revision, std::chrono::seconds(5));
      }
      continue;
    }
    Report(kManageSource, "No response from ServiceProvider: '%s'; error: %s. Unregistering it.", target.name.c_str(),
           errorText.c_str());
    RemoveServiceProvider(target.name);
    droppedCount_.fetch_add(1, std::memory_order_relaxed);
    std::string scratch;
    CloseSession(target.sessionId, scratch);
  }
  lastPassEnd_ = std::chrono::steady_clock::now();
}

bool ServerImpl::DropAfterFailedPing(const std::string& name, bool passIsLate) {
  if (passIsLate) return false;
  return Guarded("Manage", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    return registry_.CountFailedPass(name) >= settings_.livenessFailuresBeforeRemoval;
  });
}

}  // namespace Korvane::Pictora::ServerCore
