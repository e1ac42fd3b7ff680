// Provider ranking by load and the liveness pass.
#include <algorithm>
#include <cmath>

#include "servercore/LoadComparer.h"
#include "servercore/ServerImpl.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;
namespace {

constexpr const char* kManageSource = "ServerCore.ServerImpl.Manage";

// The candidate's description without its service map, which the answer does not need.
ServiceProviderRecord Candidate(const ServiceProviderRecord& record) {
  ServiceProviderRecord candidate;
  candidate.sessionId = record.sessionId;
  candidate.config = record.config;
  candidate.dynamic = record.dynamic;
  candidate.load = record.load;
  return candidate;
}

std::string ProvidersAnswer(const std::vector<ServiceProviderRecord>& candidates) {
  std::string answer = "<Pictora><Server><ServiceProviders>";
  for (const ServiceProviderRecord& candidate : candidates) {
    answer += "\n<ServiceProvider><Config>\n\t";
    answer += GU::ListToXml(candidate.config);
    answer += "\n</Config></ServiceProvider>";
  }
  answer += "\n</ServiceProviders></Server></Pictora>";
  return answer;
}

}  // namespace

bool ServerImpl::GetServiceProvidersFor(const CallerIdentity& caller,
                                        const std::string& serviceName, std::string& xml) {
  try {
    // Held while every candidate is asked for its load, so the answer reflects one moment.
    CriticalSectionLock lock(&registryLock_, "GetServiceProvidersFor");
    status_.Reset("ServerCore.Server.GetServiceProviderFor");
    std::string message;
    if (!CheckClientAccess(caller, serviceName, message)) {
      xml = message;
      return false;
    }
    std::vector<ServiceProviderRecord> candidates;
    auto allocation = allocations_.find(serviceName);
    if (allocation != allocations_.end()) {
      for (const std::string& name : allocation->second) {
        auto provider = serviceProviders_.find(name);
        if (provider == serviceProviders_.end()) continue;
        UpdateLoad(provider->second);
        candidates.push_back(Candidate(provider->second));
      }
    }
    std::sort(candidates.begin(), candidates.end(), LoadComparer());
    xml = ProvidersAnswer(candidates);
    return true;
  } catch (...) {
    ReportFatal("GetServiceProvidersFor");
    return false;
  }
}

void ServerImpl::UpdateLoad(ServiceProviderRecord& record) {
  record.load = 1.0;
  IProviderCalls* calls = providerCalls_.load();
  if (calls == nullptr) return;
  try {
    calls->GetLoad(record.config["HostMachine"], record.config["Endpoint"], record.load);
  } catch (...) {
  }
  // A NaN would break the ordering the sort relies on; rank it like a silent provider.
  if (std::isnan(record.load)) record.load = 1.0;
}

void ServerImpl::Manage() {
  try {
    for (const PingTarget& target : CopyPingTargets()) {
      std::string errorText;
      if (Ping(target, errorText)) continue;
      Report(kManageSource, "No response from ServiceProvider: '%s'; error: %s. Unregistering it.",
             target.name.c_str(), errorText.c_str());
      RemoveServiceProvider(target.name);
      std::string scratch;
      CloseSession(target.sessionId, scratch);
    }
  } catch (...) {
    ReportFatal("Manage");
  }
}

std::vector<ServerImpl::PingTarget> ServerImpl::CopyPingTargets() {
  CriticalSectionLock lock(&registryLock_, "Manage");
  std::vector<PingTarget> targets;
  targets.reserve(serviceProviders_.size());
  for (const auto& [name, record] : serviceProviders_) {
    targets.push_back(PingTarget{name, record.config.GetValue("HostMachine"),
                                 record.config.GetValue("Endpoint"), record.sessionId});
  }
  return targets;
}

bool ServerImpl::Ping(const PingTarget& target, std::string& errorText) {
  IProviderCalls* calls = providerCalls_.load();
  if (calls == nullptr) return true;
  PingResult result = PingResult::OtherError;
  try {
    result = calls->Ping(target.host, target.endpoint, errorText);
  } catch (...) {
  }
  return result == PingResult::Alive || result == PingResult::OtherError;
}

}  // namespace Korvane::Pictora::ServerCore
