// What the server-manager report needs from the administration facade.
#pragma once

#include <map>
#include <string>

#include "util/ElementList.h"

namespace Korvane::Pictora::ServerCore {

class IManagementInfo {
 public:
  virtual ~IManagementInfo() = default;
  // The provider's detailed information XML, asked over the provider interface with its
  // "HostMachine" and "Endpoint" values; empty text when it did not answer.
  virtual std::string GetServiceProviderInfo(const GeneralUtilityLib::ElementList& config) = 0;
  // Configured providers whose start failed: name -> status text of that start (a copy).
  virtual std::map<std::string, std::string> NotRunningProviders() = 0;
};

}  // namespace Korvane::Pictora::ServerCore
