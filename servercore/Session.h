// A client's or provider's session (see ISession). Created and owned by the core's session
// table; a caller that found it keeps it alive through its shared_ptr. Init runs once before
// the session is published; after that the session's own state is read-only, so its
// operations may run on several threads at once.
#pragma once

#include <string>

#include "global/NameValueMap.h"
#include "global/Object.h"
#include "servercore/ISession.h"

namespace Korvane::Pictora::ServerCore {

class Session : public Global::Object, public ISession {
 public:
  Session();
  ~Session() override = default;

  bool Init(const std::string& sessionInfoXml, const std::string& configFilePath) override;
  std::string GetSessionId() override { return sessionId_; }
  bool SetServer(IServer* server) override;
  bool NotifySession(bool flag, const std::string& text) override;
  std::string GetInfo(const CallerIdentity& caller, const std::string& reportKind,
                      std::string& out) override;
  bool AddServiceProvider(const std::string& name, const std::string& providerXml,
                          std::string& out) override;
  bool RemoveServiceProvider(const std::string& name, std::string& out) override;
  bool UpdateServiceProviderInfo(const std::string& name, const std::string& providerXml,
                                 std::string& out) override;
  bool AddServices(const std::string& name, const std::string& servicesXml,
                   std::string& out) override;
  bool RemoveServices(const std::string& name, const std::string& servicesXml,
                      std::string& out) override;
  std::string GetServiceProviders() override;
  std::string GetServiceProviderInfo(const std::string& name) override;
  bool GetServiceProvidersFor(const CallerIdentity& caller, const std::string& serviceName,
                              std::string& out) override;
  std::string GetServices(const std::string& providerName) override;
  std::string GetServiceInfo(const std::string& providerName,
                             const std::string& serviceName) override;

  // The caller's description value of that name, empty when missing.
  std::string Info(const std::string& name) const { return sessionInfo_.Get(name); }

 private:
  bool CheckAllowList(const std::string& configFilePath);

  std::string sessionId_;
  IServer* server_ = nullptr;
  Global::NameValueMap sessionInfo_;
};

}  // namespace Korvane::Pictora::ServerCore
