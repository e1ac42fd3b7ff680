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

// Whether the provider stays: it answered, or the call failed with something other than a
// refusal or an unreachable peer.
bool StaysAlive(IProviderCalls* calls, const PingTarget& target, std::string& errorText) {
  if (calls == nullptr) return true;
  PingResult result = PingResult::OtherError;
  try {
    result = calls->Ping(target.host, target.endpoint, errorText);
  } catch (...) {
  }
  return result == PingResult::Alive || result == PingResult::OtherError;
}

}  // namespace

bool ServerImpl::GetServiceProvidersFor(const ISession& session, const CallerIdentity& caller,
                                        const std::string& serviceName, std::string& xml) {
  Report(kRequestSource, "%s", LookupRequestLine(session, serviceName).c_str());
  const bool found = Guarded("GetServiceProvidersFor", false, [&] {
    // Held while every candidate is asked for its load, so the answer reflects one moment.
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
    IProviderCalls* calls = providerCalls_.load();
    std::vector<Candidate> candidates = registry_.PrepareCandidates(
        serviceName, [calls](const std::string& host, const std::string& endpoint) { return AskLoad(calls, host, endpoint); });
    xml = ProvidersAnswer(RankByLoad(candidates));
    return true;
  });
  if (!found) Report(kRequestSource, "%s", xml.c_str());
  return found;
}

void ServerImpl::Manage() {
  std::vector<PingTarget> targets;
  Guarded("Manage", false, [&] {
    CriticalSectionLock lock(&registryLock_);
    for (const auto& [name, record] : registry_.Providers()) {
      targets.push_back(PingTarget{name, record.config.GetValue("HostMachine"), record.config.GetValue("Endpoint"),
                                   record.sessionId});
    }
    return true;
  });
  // The pings run without the lock.
  for (const PingTarget& target : targets) {
    std::string errorText;
    if (StaysAlive(providerCalls_.load(), target, errorText)) continue;
    Report(kManageSource, "No response from ServiceProvider: '%s'; error: %s. Unregistering it.", target.name.c_str(),
           errorText.c_str());
    RemoveServiceProvider(target.name);
    std::string scratch;
    CloseSession(target.sessionId, scratch);
  }
}

}  // namespace Korvane::Pictora::ServerCore
