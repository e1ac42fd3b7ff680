// A client's or provider's session: it remembers who the caller is and forwards the
// caller's requests to the server core. Forwarded operations take the core's locks.
#pragma once

#include <string>

#include "global/IObject.h"
#include "servercore/CallerIdentity.h"

namespace Korvane::Pictora::ServerCore {

class IServer;

class ISession : public virtual Global::IObject {
 public:
  // Reads the caller's SessionInfo XML; a "ServerManager" application is admitted only from
  // a machine on the allow list of the configuration file at configFilePath.
  virtual bool Init(const std::string& sessionInfoXml, const std::string& configFilePath) = 0;
  virtual std::string GetSessionId() = 0;
  // The core that created the session (not owned; it outlives its sessions).
  virtual bool SetServer(IServer* server) = 0;
  virtual bool NotifySession(bool flag, const std::string& text) = 0;
  virtual std::string GetInfo(const CallerIdentity& caller, const std::string& reportKind,
                              std::string& out) = 0;
  virtual bool AddServiceProvider(const std::string& name, const std::string& providerXml,
                                  std::string& out) = 0;
  virtual bool RemoveServiceProvider(const std::string& name, std::string& out) = 0;
  virtual bool UpdateServiceProviderInfo(const std::string& name, const std::string& providerXml,
                                         std::string& out) = 0;
  virtual bool AddServices(const std::string& name, const std::string& servicesXml,
                           std::string& out) = 0;
  virtual bool RemoveServices(const std::string& name, const std::string& servicesXml,
                              std::string& out) = 0;
  virtual std::string GetServiceProviders() = 0;
  virtual std::string GetServiceProviderInfo(const std::string& name) = 0;
  virtual bool GetServiceProvidersFor(const CallerIdentity& caller, const std::string& serviceName,
                                      std::string& out) = 0;
  virtual std::string GetServices(const std::string& providerName) = 0;
  virtual std::string GetServiceInfo(const std::string& providerName,
                                     const std::string& serviceName) = 0;
};

}  // namespace Korvane::Pictora::ServerCore
