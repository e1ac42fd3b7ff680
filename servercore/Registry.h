// The in-memory registry: the registered providers with their values and services, the services
// the services file defines, and which providers registered which service.
//
// A plain value: no lock, no I/O, no reports. The core guards it with its registry lock, brings
// the services up to date from the services file before it changes them, and reports what each
// change says it did.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "servercore/ServiceProviderRecord.h"
#include "servercore/ServiceRecord.h"
#include "util/ElementList.h"

namespace Korvane::Pictora::ServerCore {

// One service of the services file.
struct ServiceDefinition {
  std::string name;  // normal form
  std::string source;
  std::string state;
  std::string application;
  std::string serviceProvidersText;      // trimmed
  std::vector<std::string> allocatedOn;  // its pieces; empty: every configured provider
};

// One Service element of a provider's registration text.
struct ServiceElement {
  std::string markup;        // the element as the provider sent it
  std::string name;          // normal form; empty when it has none
  std::string statusMarkup;  // its Status child: a failure report when not empty
  GeneralUtilityLib::ElementList properties;  // every element of the markup, by name
};

// A provider's Config and Dynamic values.
struct ProviderValues {
  GeneralUtilityLib::ElementList config;
  GeneralUtilityLib::ElementList dynamic;
};

// What unregistering a provider did.
struct RemovedProvider {
  std::string registeredName;               // the spelling it registered with
  std::string sessionId;                    // the session it registered through
  std::vector<std::string> stoppedServices;  // the services it ran, in name order
};

// A provider a lookup may name: its record without its services, copied so that the load can
// be asked and the answer written from the copy.
struct Candidate {
  std::string name;
  ServiceProviderRecord record;
};

class Registry {
 public:
  const ServiceProviderMap& Providers() const { return providers_; }
  const ServiceMap& Services() const { return services_; }
  const AllocationMap& Allocations() const { return allocations_; }
  const ServiceProviderRecord* FindProvider(std::string_view name) const;
  // Service names registered by any provider, each counted once.
  std::size_t RegisteredServiceCount() const;

  // False (nothing stored) when a provider of that name is registered.
  bool AddProvider(const std::string& name, const std::string& sessionId, const ProviderValues& values);
  // Merges newer values into a registered provider; false when it is not registered.
  bool UpdateProvider(std::string_view name, const ProviderValues& values);
  // Unregisters the provider and every service it registered; nothing when it is not registered.
  std::optional<RemovedProvider> RemoveProvider(std::string_view name);

  // The services file's definitions; services that stay keep where they run and failed.
  void ReplaceDefinitions(std::vector<ServiceDefinition> definitions);
  // Services whose file entry names no provider are meant for every configured one.
  void AllocateUnassigned(const std::vector<std::string>& configuredProviders);

  // A provider's failure report for a service of the file: no longer running there.
  void RecordFailure(const std::string& providerName, const std::string& serviceName,
                     const std::string& statusMarkup);
  // First half of a registration: the service of the file runs on the provider.
  void MarkRunning(const std::string& providerName, const ServiceElement& element);
  // Second half: the service takes the element's properties and joins the provider's services,
  // for the first time or as an update of what the provider registered before.
  enum class Registration { kFirst, kUpdate };
  Registration CompleteRegistration(const std::string& providerName, const ServiceElement& element);
  // The provider no longer runs the service. True when it was running there.
  bool RemoveService(const std::string& providerName, std::string_view serviceName);

  // The registered providers that registered the service, in name order, with the load
  // askLoad(host, endpoint) gives for each, stored in its record too (1.0 without askLoad: the
  // loads are then asked later and written back with SetLoad). A lookup adds empty
  // "HostMachine" and "Endpoint" values to a provider that sent none, as binding to it reads them.
  using LoadQuery = std::function<double(const std::string& host, const std::string& endpoint)>;
  std::vector<Candidate> PrepareCandidates(std::string_view serviceName, const LoadQuery& askLoad = {});
  void SetLoad(std::string_view providerName, double load);
  // The provider failed one more liveness pass in a row: how many now (0 when not registered).
  int CountFailedPass(std::string_view providerName);
  // A ping it answered: its failures forgotten, the time kept for the status page.
  void NoteAnsweredPing(std::string_view providerName, std::chrono::system_clock::time_point when);
  // Where to call the provider (adding the two values as empty when missing); false when it
  // is not registered.
  bool Address(std::string_view providerName, std::string& host, std::string& endpoint);

 private:
  ServiceProviderMap providers_;
  ServiceMap services_;
  AllocationMap allocations_;
};

}  // namespace Korvane::Pictora::ServerCore
