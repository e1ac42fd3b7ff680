// The server-manager report: the state of every registered and every configured provider and
// the statistics of every service, for the administration tools. The core feeds it the
// providers one by one (asking each for its information on the way) and finishes it with the
// services of the file.
//
// Not thread-safe; one report per call.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "global/NameValueMap.h"
#include "servercore/ServiceRecord.h"
#include "util/ElementList.h"

namespace Korvane::Pictora::ServerCore {

class ServerManagerReport {
 public:
  // header: the opening up to "<Detailed><ServiceProviders>\n"; configuredProviders: the names
  // of the provider configuration files in serverFolder.
  ServerManagerReport(std::string header, std::vector<std::string> configuredProviders, std::string serverFolder);

  // A registered provider and the information it gave; an empty answer shows it as gone.
  void AddRegistered(const std::string& name, const GeneralUtilityLib::ElementList& config, const std::string& info);
  // The configured providers that are not registered; notRunning: the start failures the
  // administration keeps by provider name.
  void AddConfiguredOnly(const std::map<std::string, std::string>& notRunning);
  std::string Finish(const ServiceMap& services);

 private:
  void CollectStatistics(const std::string& info);

  std::string text_;
  std::vector<std::string> configured_;
  std::string serverFolder_;
  // Service name as the providers wrote it -> one entry per provider that reported it.
  std::map<std::string, std::vector<Global::NameValueMap>> statistics_;
};

}  // namespace Korvane::Pictora::ServerCore
