// The read-only JSON API of the metrics server (/api/v1/...) and the probes' bodies. Every text
// a provider or an operator chose goes through the JSON encoder, invalid UTF-8 replaced, so no
// name can break the document or the page that reads it.
#pragma once

#include <string>
#include <vector>

#include "servercore/IServer.h"

namespace Korvane::Pictora::Rpc {

// What /readyz checks; ready when all of them hold.
struct Readiness {
  bool coreStarted = false;
  bool listening = false;
  bool managementReady = false;
  bool clustered = false;
  bool clusterReachable = false;  // cluster mode: the store answers with a quorum
  bool clusterCaughtUp = false;   // and this server has read the registry from it

  bool Ready() const {
    return coreStarted && listening && managementReady && (!clustered || (clusterReachable && clusterCaughtUp));
  }
};

std::string ReadinessJson(const Readiness& readiness);
// snapshot may be null (no copy taken yet): the lists are then empty.
std::string ProvidersJson(const ServerCore::RegistrySnapshot* snapshot);
std::string ServicesJson(const ServerCore::RegistrySnapshot* snapshot);
std::string SessionsJson(const ServerCore::ServerCounts& counts);
// storeMembers: the cluster store's members as the installation key names them.
std::string ClusterJson(const ServerCore::ServerCounts& counts, const std::vector<std::string>& storeMembers);

}  // namespace Korvane::Pictora::Rpc
