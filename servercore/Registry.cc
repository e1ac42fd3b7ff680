#include "servercore/Registry.h"

#include <algorithm>

#include "servercore/RegistryKeyLess.h"

namespace Korvane::Pictora::ServerCore {
namespace {

void EraseFirst(std::vector<std::string>& names, const std::string& name) {
  auto found = std::find(names.begin(), names.end(), name);
  if (found != names.end()) names.erase(found);
}

}  // namespace

const ServiceProviderRecord* Registry::FindProvider(std::string_view name) const {
  auto found = providers_.find(name);
  return found == providers_.end() ? nullptr : &found->second;
}

std::size_t Registry::RegisteredServiceCount() const {
  ProviderNameSet names;
  for (const auto& provider : providers_) {
    for (const auto& service : provider.second.services) names.insert(service.first);
  }
  return names.size();
}

bool Registry::AddProvider(const std::string& name, const std::string& sessionId, const ProviderValues& values) {
  if (providers_.count(name) != 0) return false;
  ServiceProviderRecord record;
  record.sessionId = sessionId;
  record.config.Merge(values.config);
  record.dynamic.Merge(values.dynamic);
  providers_.emplace(name, std::move(record));
  return true;
}

bool Registry::UpdateProvider(std::string_view name, const ProviderValues& values) {
  auto found = providers_.find(name);
  if (found == providers_.end()) return false;
  found->second.config.Merge(values.config);
  found->second.dynamic.Merge(values.dynamic);
  return true;
}

std::optional<RemovedProvider> Registry::RemoveProvider(std::string_view name) {
  auto provider = providers_.find(name);
  if (provider == providers_.end()) return std::nullopt;
  // The registered spelling: the running lists hold the name the provider registered with.
  const std::string registeredName = provider->first;
  RemovedProvider removed{registeredName, provider->second.sessionId, {}};
  ServiceMap& services = provider->second.services;
  while (!services.empty()) {
    const std::string serviceName = services.begin()->first;
    if (RemoveService(registeredName, serviceName)) removed.stoppedServices.push_back(serviceName);
    services.erase(serviceName);
  }
  providers_.erase(provider);
  for (auto& allocation : allocations_) allocation.second.erase(registeredName);
  return removed;
}

void Registry::ReplaceDefinitions(std::vector<ServiceDefinition> definitions) {
  ServiceMap previous;
  previous.swap(services_);
  for (ServiceDefinition& definition : definitions) {
    ServiceRecord& record = services_[definition.name];
    record.name = definition.name;
    record.source = std::move(definition.source);
    record.state = std::move(definition.state);
    record.application = std::move(definition.application);
    record.serviceProvidersText = std::move(definition.serviceProvidersText);
    record.allocatedOn = std::move(definition.allocatedOn);
    auto old = previous.find(definition.name);
    if (old != previous.end()) {
      record.failedOn = std::move(old->second.failedOn);
      record.runningOn = std::move(old->second.runningOn);
    }
  }
}

void Registry::AllocateUnassigned(const std::vector<std::string>& configuredProviders) {
  for (auto& entry : services_) {
    if (entry.second.serviceProvidersText.empty()) entry.second.allocatedOn = configuredProviders;
  }
}

void Registry::RecordFailure(const std::string& providerName, const std::string& serviceName,
                             const std::string& statusMarkup) {
  auto service = services_.find(serviceName);
  if (service == services_.end()) return;
  EraseFirst(service->second.runningOn, providerName);
  service->second.failedOn[providerName] = statusMarkup;
}

void Registry::MarkRunning(const std::string& providerName, const ServiceElement& element) {
  auto service = services_.find(element.name);
  if (service == services_.end()) return;
  ServiceRecord& record = service->second;
  record.registrationXml = element.markup;
  if (std::find(record.runningOn.begin(), record.runningOn.end(), providerName) == record.runningOn.end()) {
    record.runningOn.push_back(providerName);
  }
}

Registry::Registration Registry::CompleteRegistration(const std::string& providerName,
                                                      const ServiceElement& element) {
  auto service = services_.find(element.name);
  auto provider = providers_.find(providerName);
  if (service == services_.end() || provider == providers_.end()) return Registration::kUpdate;
  ServiceRecord& record = service->second;
  record.properties.Merge(element.properties);
  ServiceMap& providerServices = provider->second.services;
  auto copy = providerServices.find(element.name);
  if (copy != providerServices.end()) {
    copy->second = record.DescriptionCopy();
    return Registration::kUpdate;
  }
  providerServices.emplace(element.name, record.DescriptionCopy());
  allocations_[element.name].insert(providerName);
  return Registration::kFirst;
}

bool Registry::RemoveService(const std::string& providerName, std::string_view serviceName) {
  const std::string name = NormalizeServiceName(serviceName);
  auto provider = providers_.find(providerName);
  if (provider != providers_.end()) provider->second.services.erase(name);
  bool wasRunning = false;
  auto service = services_.find(name);
  if (service != services_.end()) {
    std::vector<std::string>& running = service->second.runningOn;
    auto entry = std::find(running.begin(), running.end(), providerName);
    if (entry != running.end()) {
      running.erase(entry);
      wasRunning = true;
    }
    service->second.failedOn.Erase(providerName);
  }
  // The allocation entry stays even when no provider is left in it.
  auto allocation = allocations_.find(name);
  if (allocation != allocations_.end()) allocation->second.erase(providerName);
  return wasRunning;
}

std::vector<Candidate> Registry::PrepareCandidates(std::string_view serviceName, const LoadQuery& askLoad) {
  std::vector<Candidate> candidates;
  auto allocation = allocations_.find(serviceName);
  if (allocation == allocations_.end()) return candidates;
  for (const std::string& name : allocation->second) {
    auto provider = providers_.find(name);
    if (provider == providers_.end()) continue;
    ServiceProviderRecord& record = provider->second;
    // The values a load query binds with exist from now on, if only empty.
    record.config["HostMachine"];
    record.config["Endpoint"];
    // Both exist now: neither reference below can move.
    record.load = askLoad ? askLoad(record.config["HostMachine"], record.config["Endpoint"]) : 1.0;
    Candidate& candidate = candidates.emplace_back();
    candidate.name = provider->first;
    candidate.record.sessionId = record.sessionId;
    candidate.record.config = record.config;
    candidate.record.dynamic = record.dynamic;
    candidate.record.load = record.load;
  }
  return candidates;
}

void Registry::SetLoad(std::string_view providerName, double load) {
  auto provider = providers_.find(providerName);
  if (provider != providers_.end()) provider->second.load = load;
}

int Registry::CountFailedPass(std::string_view providerName) {
  auto provider = providers_.find(providerName);
  return provider == providers_.end() ? 0 : ++provider->second.failedPasses;
}

void Registry::NoteAnsweredPing(std::string_view providerName, std::chrono::system_clock::time_point when) {
  auto provider = providers_.find(providerName);
  if (provider == providers_.end()) return;
  provider->second.failedPasses = 0;
  provider->second.lastPing = when;
}

bool Registry::Address(std::string_view providerName, std::string& host, std::string& endpoint) {
  auto provider = providers_.find(providerName);
  if (provider == providers_.end()) return false;
  host = provider->second.config["HostMachine"];
  endpoint = provider->second.config["Endpoint"];
  return true;
}

}  // namespace Korvane::Pictora::ServerCore
