// How the registry lies in the cluster store, under the installation's prefix:
//   <prefix>catalogue                        the services file's text
//   <prefix>leader                           the server that runs the liveness pass (leased)
//   <prefix>providers/<p>                    a registered provider: name, session, values
//   <prefix>providers/<p>/s/<service>        a service it registered: the Service element it sent
//   <prefix>providers/<p>/f/<service>        a failure it reported: the Status element it sent
// <p> and <service> are the names as the registry compares them (trimmed, "\" read as "/", lower
// case), with "%" and "/" escaped, so each name is one key piece.
#pragma once

#include <string>
#include <string_view>

#include "util/ElementList.h"

namespace Korvane::Pictora::ServerCore {

class ClusterKeys {
 public:
  explicit ClusterKeys(std::string prefix) : prefix_(std::move(prefix)) {}

  const std::string& Prefix() const { return prefix_; }
  std::string Catalogue() const { return prefix_ + "catalogue"; }
  std::string Leader() const { return prefix_ + "leader"; }
  std::string Provider(std::string_view name) const;
  std::string Service(std::string_view provider, std::string_view service) const;
  std::string Failure(std::string_view provider, std::string_view service) const;

  // What a key of the prefix holds; provider and service are the names as the key has them.
  struct Parsed {
    enum class Kind { kCatalogue, kProvider, kService, kFailure, kOther } kind = Kind::kOther;
    std::string provider;
    std::string service;
  };
  Parsed Parse(std::string_view key) const;

 private:
  std::string prefix_;
};

// A provider's record in the store.
struct ProviderEntry {
  std::string name;  // as it registered
  std::string sessionId;
  GeneralUtilityLib::ElementList config;
  GeneralUtilityLib::ElementList dynamic;
};

std::string EncodeProvider(const ProviderEntry& entry);
// False for a value that is no provider record.
bool DecodeProvider(std::string_view text, ProviderEntry& entry);

}  // namespace Korvane::Pictora::ServerCore
