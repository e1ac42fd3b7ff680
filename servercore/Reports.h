// The XML information reports, built as plain text from a registry: the documents are exactly
// these concatenations. Pure functions of their arguments; the core holds its registry lock
// while it calls them.
#pragma once

#include <functional>
#include <string>

#include "servercore/Registry.h"
#include "util/ElementList.h"

namespace Korvane::Pictora::ServerCore {

// What the reports say about the server itself.
struct ServerFacts {
  std::string configFile;
  std::string hostMachine;  // the configuration's HostMachine value
  std::string endpoint;
  std::string logsFolder;
  std::string cluster;  // cluster mode: the state of the cluster store as this server sees it
};

GeneralUtilityLib::ElementList BasicInformation(const ServerFacts& facts, const Registry& registry);
std::string BasicReport(const ServerFacts& facts, const Registry& registry);
// The opening of the detailed and server-manager reports, up to "<Detailed><ServiceProviders>".
std::string DetailedHeader(const ServerFacts& facts, const Registry& registry);
// Every provider with the services it registered; `shows` picks the services a client may see
// (null: all of them).
std::string DetailedReport(const ServerFacts& facts, const Registry& registry,
                           const std::function<bool(const std::string& serviceName)>& shows);

// Which providers run which service, as a client sees it.
std::string ClientServerInfo(const Registry& registry);
std::string ProviderList(const Registry& registry);
// Empty text for a provider that is not registered (also for the two below).
std::string ProviderInfo(const Registry& registry, const std::string& providerName);
std::string ServiceList(const Registry& registry, const std::string& providerName);
std::string ServiceInfo(const Registry& registry, const std::string& providerName, const std::string& serviceName);

// "<ServiceProvider>\n<Name>..</Name>\n<Endpoint>..</Endpoint>\n<HostMachine>..</HostMachine>\n".
std::string ProviderHead(const std::string& name, const GeneralUtilityLib::ElementList& config);

}  // namespace Korvane::Pictora::ServerCore
