// A client's or provider's session (see ISession). Created and owned by the core's session
// table; a caller that found it keeps it alive through its shared_ptr. Init runs once before
// the session is published; after that its state is read-only, so it may be used by several
// threads at once.
#pragma once

#include <optional>
#include <string>

#include "global/NameValueMap.h"
#include "global/Object.h"
#include "servercore/CallerIdentity.h"
#include "servercore/ISession.h"

namespace Korvane::Pictora::ServerCore {

class Session : public Global::Object, public ISession {
 public:
  Session();
  ~Session() override = default;

  bool Init(const std::string& sessionInfoXml, const std::string& configFilePath) override;
  std::string GetSessionId() override { return sessionId_; }
  bool NotifySession(bool flag, const std::string& text) override;
  std::string Info(std::string_view name) const override { return sessionInfo_.Get(name); }
  // Before Init: a server manager must also connect from a machine on the allow list.
  void RequirePeer(const CallerIdentity& caller) { peer_ = caller; }

 private:
  bool CheckAllowList(const std::string& configFilePath);

  std::string sessionId_;
  Global::NameValueMap sessionInfo_;
  std::optional<CallerIdentity> peer_;
};

// The log line of a lookup: who asked for which service.
std::string LookupRequestLine(const ISession& session, const std::string& serviceName);

}  // namespace Korvane::Pictora::ServerCore
