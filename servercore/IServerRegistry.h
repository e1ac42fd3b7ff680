// The registry's operations of the server core: providers and their services registered,
// updated and removed, the lookup of a service's providers, and what the registry holds. Kept
// apart from the rest of IServer (start-up, sessions, reports), whose rules hold here too: every
// operation is thread-safe, never throws and describes its failures in the status record.
#pragma once

#include <string>

#include "servercore/CallerIdentity.h"
#include "servercore/ISession.h"

namespace Korvane::Pictora::ServerCore {

class IServerRegistry {
 public:
  virtual ~IServerRegistry() = default;

  // On failure statusXml / out receive the status record as XML.
  virtual bool AddServiceProvider(const std::string& name, const std::string& sessionId, const std::string& providerXml,
                                  std::string& statusXml) = 0;
  virtual bool RemoveServiceProvider(const std::string& name) = 0;
  virtual bool UpdateServiceProviderInfo(const std::string& name, const std::string& providerXml, std::string& out) = 0;
  virtual bool AddServices(const std::string& providerName, const std::string& servicesXml, std::string& out) = 0;
  virtual bool RemoveServices(const std::string& providerName, const std::string& servicesXml, std::string& out) = 0;
  virtual bool RemoveService(const std::string& providerName, const std::string& serviceName, std::string& out) = 0;

  // The providers that registered the service, least loaded first (asks each for its load
  // while holding the registry lock); logs who asked, as the session tells. On false xml holds
  // the reason.
  virtual bool GetServiceProvidersFor(const ISession& session, const CallerIdentity& caller,
                                      const std::string& serviceName, std::string& xml) = 0;
  virtual std::string GetServiceProviders() = 0;
  virtual std::string GetServiceProviderInfo(const std::string& name) = 0;
  virtual bool GetServiceProviderHostAndPort(const std::string& name, std::string& host, std::string& endpoint,
                                             std::string& statusXml) = 0;
  virtual std::string GetServices(const std::string& providerName) = 0;
  virtual std::string GetServiceInfo(const std::string& providerName, const std::string& serviceName) = 0;
  virtual std::string GetServicesForServiceProvider(const std::string& providerName) = 0;
  virtual std::string GetServiceProviderConfiguration(const std::string& providerName) = 0;
  virtual std::string GetServerInfoForClient(const std::string& first, const std::string& second) = 0;
  virtual unsigned GetServiceProvidersCount() = 0;
  virtual int GetServicesCount() = 0;
  virtual bool GetServiceName(const std::string& name, std::string& storedName, std::string& message) = 0;
};

}  // namespace Korvane::Pictora::ServerCore
