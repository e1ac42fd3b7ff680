// The liveness pass: every provider pinged, the dead ones dropped.
#include <ctime>

#include "servercore/ServerImpl.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;
namespace {

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

void ServerImpl::Manage() {
  const auto started = std::chrono::steady_clock::now();
  // A pass far later than due says the host stood still: failures seen now prove nothing.
  const bool late = started - lastPassEnd_ > 2 * livenessPeriod_;
  if (late) {
    Report(kManageSource, "The liveness pass runs %lld s after the last one; no provider is dropped in this pass",
           static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(started - lastPassEnd_).count()));
  }
  {
    CriticalSectionLock reportLock(&reportLock_);
    log_.RemoveExpired(std::time(nullptr));
  }
  std::vector<PingTarget> targets;
  // In a cluster one server, the elected one, pings for all; its removals carry the proof that it
  // still is the one.
  IClusterStore::Condition fence;
  const bool pings = changes_->Leading(fence);
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
  // The pings run without the lock, and the answers are noted under it once for the pass: taken
  // per ping, it would wait for each lookup holding it in turn (serial load queries hold it for
  // the whole lookup), and a pass would last providers x lookup time.
  std::vector<std::pair<std::string, std::chrono::system_clock::time_point>> answered;
  for (const PingTarget& target : targets) {
    std::string errorText;
    const PingResult result = PingProvider(providerCalls_.load(), target, errorText);
    // Any other remote error (access denied, say) is no proof of death.
    if (result == PingResult::OtherError) continue;
    if (result == PingResult::Alive) {
      answered.emplace_back(target.name, std::chrono::system_clock::now());
      continue;
    }
    if (!DropAfterFailedPing(target.name, late)) continue;
    if (!changes_->Leading(fence)) break;
    Report(kManageSource, "No response from ServiceProvider: '%s'; error: %s. Unregistering it.", target.name.c_str(),
           errorText.c_str());
    if (!RemoveProvider(target.name, RegistryChange::Kind::kDropProvider, fence)) continue;
    droppedCount_.fetch_add(1, std::memory_order_relaxed);
    std::string scratch;
    CloseSession(target.sessionId, scratch);
  }
  Guarded("Manage", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    for (const auto& [name, when] : answered) registry_.NoteAnsweredPing(name, when);
    return true;
  });
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
