// The seam of the administration facade that the management procedures will reach. The host
// creates it after the core has started and initialises it with the core and the extra
// allow-list text of its command line. Until an implementation exists the host has none, and
// the management procedures are not registered, so no call can reach a missing facade; when
// they are, they must refuse the call while PublishedFacade() is null.
#pragma once

#include <string>

#include "servercore/IServer.h"

namespace Korvane::Pictora::Rpc {

class IAdministrationFacade {
 public:
  virtual ~IAdministrationFacade() = default;
  // Reads the provider configuration files and starts the providers marked on. The core is not
  // owned and outlives the facade.
  virtual bool Init(ServerCore::IServer* core, const std::string& extraAllowList) = 0;
};

}  // namespace Korvane::Pictora::Rpc
