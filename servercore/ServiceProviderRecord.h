// The registry's record of one registered service provider. Plain value.
#pragma once

#include <chrono>
#include <map>
#include <set>
#include <string>

#include "servercore/RegistryKeyLess.h"
#include "servercore/ServiceRecord.h"
#include "util/ElementList.h"

namespace Korvane::Pictora::ServerCore {

struct ServiceProviderRecord {
  std::string sessionId;  // the session through which it registered
  GeneralUtilityLib::ElementList config;   // children of its Config element
  GeneralUtilityLib::ElementList dynamic;  // children of its Dynamic element
  ServiceMap services;  // the services it registered, as described when registered
  double load = 1.0;    // the last load it reported; 1.0 when it could not be asked
  int failedPasses = 0;  // liveness passes it failed in a row
  // The last ping it answered here; the epoch when none did (in a cluster only the server that
  // runs the liveness pass pings).
  std::chrono::system_clock::time_point lastPing;
};

using ServiceProviderMap = std::map<std::string, ServiceProviderRecord, RegistryKeyLess>;
using ProviderNameSet = std::set<std::string, RegistryKeyLess>;
using AllocationMap = std::map<std::string, ProviderNameSet, RegistryKeyLess>;

}  // namespace Korvane::Pictora::ServerCore
