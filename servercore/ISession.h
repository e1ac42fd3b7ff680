// A client's or provider's session: who the caller said it is. The procedures look a session up
// once per call and hand it to the core's operation.
#pragma once

#include <string>
#include <string_view>

#include "global/IObject.h"

namespace Korvane::Pictora::ServerCore {

class ISession : public virtual Global::IObject {
 public:
  // Reads the caller's SessionInfo XML; a "ServerManager" application is admitted only from
  // a machine on the allow list of the configuration file at configFilePath.
  virtual bool Init(const std::string& sessionInfoXml, const std::string& configFilePath) = 0;
  virtual std::string GetSessionId() = 0;
  virtual bool NotifySession(bool flag, const std::string& text) = 0;
  // The caller's description value of that name ("UserName", "MachineName", ...), empty when
  // missing.
  virtual std::string Info(std::string_view name) const = 0;
};

}  // namespace Korvane::Pictora::ServerCore
