// The cluster store seam on the etcd client: members and a key prefix from the installation key
// (ClusterEndpoints, ClusterPrefix). Thread-safe, as the client is.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "etcd/Client.h"
#include "servercore/IClusterStore.h"

namespace Korvane::Pictora::Rpc {

class EtcdClusterStore : public ServerCore::IClusterStore {
 public:
  EtcdClusterStore(std::vector<std::string> endpoints, std::chrono::milliseconds requestTimeout);

  bool ReadAll(const std::string& prefix, std::vector<Entry>& entries, std::int64_t& revision,
               std::string& error) override;
  bool Read(const std::string& key, std::optional<Entry>& entry, std::string& error) override;
  Outcome Commit(const std::vector<Condition>& conditions, const std::vector<Operation>& operations,
                 std::int64_t& revision, std::string& error) override;
  bool GrantLease(int ttlSeconds, std::int64_t& id, std::string& error) override;
  bool KeepAlive(std::int64_t id, std::string& error) override;
  StreamEnd Watch(const std::string& prefix, std::int64_t fromRevision, const OnChanges& onChanges,
                  const std::function<bool()>& shouldStop, std::string& error) override;

 private:
  Etcd::Client client_;
};

}  // namespace Korvane::Pictora::Rpc
