// The calls the service store makes to a provider by name: its host and endpoint come from the
// core (a provider the core does not know is sent nothing and the call fails), the call itself
// goes through the provider-calls seam. Results are the provider's answer; a provider that
// cannot be reached answers false.
//
// Thread safety: as safe as the core and the seam (both are).
#pragma once

#include <string>

#include "servercore/IProviderCalls.h"
#include "servercore/IServer.h"

namespace Korvane::Pictora::ServerCore {

class ProviderServiceCalls {
 public:
  ProviderServiceCalls(IServer* server, IProviderCalls* calls) : server_(server), calls_(calls) {}

  bool StartService(const std::string& source, const std::string& name, const std::string& properties,
                    const std::string& providerName);
  bool StopService(const std::string& name, const std::string& providerName);
  bool RefreshService(const std::string& serviceXml, const std::string& providerName);
  bool RefreshServices(const std::string& providerName);

 private:
  // Where the provider listens; false when the core does not know it.
  bool Address(const std::string& providerName, std::string& host, std::string& endpoint);

  IServer* server_;
  IProviderCalls* calls_;
};

}  // namespace Korvane::Pictora::ServerCore
