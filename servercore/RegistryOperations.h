// The registry's operations (IServerRegistry). Each change is decided here once, for a single
// server and a cluster alike: which provider and services it concerns, what is refused with which
// status, and the memory guard. The IRegistryChanges the core runs with applies it: at once on a
// single server, through the cluster store and this server's replica in a cluster. The lookup
// and the reads answer from this server's registry either way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "servercore/CoreState.h"
#include "servercore/IRegistryChanges.h"

namespace Korvane::Pictora::ServerCore {

class ClusterRegistryChanges;

class RegistryOperations : public CoreState {
 public:
  explicit RegistryOperations(Seams seams);

  bool AddServiceProvider(const std::string& name, const std::string& sessionId, const std::string& providerXml,
                          std::string& statusXml) override;
  bool RemoveServiceProvider(const std::string& name) override;
  bool UpdateServiceProviderInfo(const std::string& name, const std::string& providerXml, std::string& out) override;
  bool AddServices(const std::string& providerName, const std::string& servicesXml, std::string& out) override;
  bool RemoveServices(const std::string& providerName, const std::string& servicesXml, std::string& out) override;
  bool RemoveService(const std::string& providerName, const std::string& serviceName, std::string& out) override;

  bool GetServiceProvidersFor(const ISession& session, const CallerIdentity& caller, const std::string& serviceName,
                              std::string& xml) override;
  std::string GetServiceProviders() override;
  std::string GetServiceProviderInfo(const std::string& name) override;
  bool GetServiceProviderHostAndPort(const std::string& name, std::string& host, std::string& endpoint,
                                     std::string& statusXml) override;
  std::string GetServices(const std::string& providerName) override;
  std::string GetServiceInfo(const std::string& providerName, const std::string& serviceName) override;
  std::string GetServicesForServiceProvider(const std::string& providerName) override;
  std::string GetServiceProviderConfiguration(const std::string& providerName) override;
  std::string GetServerInfoForClient(const std::string& first, const std::string& second) override;
  bool GetServiceName(const std::string& name, std::string& storedName, std::string& message) override;

 protected:
  // What an operation's change is called, and how it answers when its provider is registered
  // already (kExists) or is not (kMissing): conflictCode 0 means that is no failure.
  struct ChangeRules {
    const char* operation;
    const std::string& provider;
    std::uint32_t conflictCode = 0;
    std::string (*conflictMessage)(const std::string& provider) = nullptr;
    bool conflictToCaller = false;  // whether out receives the status then
    bool publishes = true;          // whether the change leaves its status record
  };
  // Runs one change: refused at once while changes_ takes none, decided (and on a single server
  // applied) under the registry lock, landed without it. On failure out, when given, receives
  // the status for a refusal (kRefused, or the conflict when the rules say so).
  template <typename Decide>
  bool Change(const ChangeRules& rules, std::string* out, Decide decide) EXCLUDES(registryLock_);
  bool EndChangeLocked(const ChangeRules& rules, ChangeOutcome outcome, GeneralUtilityLib::Status& status,
                       std::string* out) REQUIRES(registryLock_);

  // What a change of a provider's document checks first: that the provider is registered, or
  // is not (registered), then the memory guard for the incoming text.
  ChangeOutcome CheckProviderLocked(const std::string& name, bool registered, const std::string& incoming,
                                    const char* operation, GeneralUtilityLib::Status& status) REQUIRES(registryLock_);

  // A provider's removal: for a caller (kRemoveProvider), or by the liveness pass for one that
  // stopped answering (kDropProvider, with the lease's fence in a cluster); true once it is gone.
  bool RemoveProvider(const std::string& name, RegistryChange::Kind kind,
                      const std::optional<IClusterStore::Condition>& fence) EXCLUDES(registryLock_);

  // The one place a change meets this server's registry, whoever decided it: this server's
  // caller, or another server's through the cluster store. The catalogue is the caller's.
  ChangeOutcome ApplyLocked(RegistryChange& change) REQUIRES(registryLock_);
  // A provider leaves with its services and its session; false when it is not registered.
  bool RemoveProviderLocked(const std::string& name) REQUIRES(registryLock_);

  // Fixed by Init before any call can arrive: a single server's, or cluster_ once it joined.
  std::unique_ptr<IRegistryChanges> changes_;
  ClusterRegistryChanges* cluster_ = nullptr;

 private:
  void RegisterServiceLocked(const std::string& providerName, const ServiceElement& element) REQUIRES(registryLock_);
};

}  // namespace Korvane::Pictora::ServerCore
