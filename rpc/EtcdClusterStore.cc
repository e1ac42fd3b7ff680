#include "rpc/EtcdClusterStore.h"

namespace Korvane::Pictora::Rpc {
namespace {

using Store = ServerCore::IClusterStore;

Store::Entry ToEntry(const Etcd::KeyValue& kv) { return Store::Entry{kv.key, kv.value, kv.createRevision, kv.modRevision}; }

}  // namespace

EtcdClusterStore::EtcdClusterStore(std::vector<std::string> endpoints, std::chrono::milliseconds requestTimeout)
    : client_(std::move(endpoints), requestTimeout) {}

bool EtcdClusterStore::ReadAll(const std::string& prefix, std::vector<Entry>& entries, std::int64_t& revision,
                               std::string& error) {
  std::vector<Etcd::KeyValue> kvs;
  if (!client_.Range(prefix, kvs, revision, error)) return false;
  entries.clear();
  for (const Etcd::KeyValue& kv : kvs) entries.push_back(ToEntry(kv));
  return true;
}

bool EtcdClusterStore::Read(const std::string& key, std::optional<Entry>& entry, std::string& error) {
  std::optional<Etcd::KeyValue> kv;
  std::int64_t revision = 0;
  if (!client_.Get(key, kv, revision, error)) return false;
  entry = kv ? std::optional<Entry>(ToEntry(*kv)) : std::nullopt;
  return true;
}

Store::Outcome EtcdClusterStore::Commit(const std::vector<Condition>& conditions,
                                        const std::vector<Operation>& operations, std::int64_t& revision,
                                        std::string& error) {
  std::vector<Etcd::Condition> etcdConditions;
  for (const Condition& c : conditions) {
    etcdConditions.push_back({c.key, c.onCreation ? Etcd::Condition::On::kCreateRevision : Etcd::Condition::On::kModRevision,
                              c.revision});
  }
  std::vector<Etcd::Operation> etcdOperations;
  for (const Operation& o : operations) {
    const auto kind = o.kind == Operation::Kind::kPut      ? Etcd::Operation::Kind::kPut
                      : o.kind == Operation::Kind::kDelete ? Etcd::Operation::Kind::kDelete
                                                           : Etcd::Operation::Kind::kDeletePrefix;
    etcdOperations.push_back({kind, o.key, o.value, o.lease});
  }
  switch (client_.Commit(etcdConditions, etcdOperations, revision, error)) {
    case Etcd::TxnResult::kDone: return Outcome::kDone;
    case Etcd::TxnResult::kConflict: return Outcome::kConflict;
    case Etcd::TxnResult::kFailed: break;
  }
  return Outcome::kUnreachable;
}

bool EtcdClusterStore::GrantLease(int ttlSeconds, std::int64_t& id, std::string& error) {
  return client_.GrantLease(ttlSeconds, id, error);
}

bool EtcdClusterStore::KeepAlive(std::int64_t id, std::string& error) { return client_.KeepAlive(id, error); }

Store::StreamEnd EtcdClusterStore::Watch(const std::string& prefix, std::int64_t fromRevision,
                                         const OnChanges& onChanges, const std::function<bool()>& shouldStop,
                                         std::string& error) {
  const auto forward = [&onChanges](const std::vector<Etcd::Event>& events, std::int64_t revision) {
    std::vector<Change> changes;
    for (const Etcd::Event& event : events) changes.push_back(Change{event.deleted, ToEntry(event.kv)});
    onChanges(changes, revision);
  };
  switch (client_.Watch(prefix, fromRevision, forward, shouldStop, error)) {
    case Etcd::WatchEnd::kStopped: return StreamEnd::kStopped;
    case Etcd::WatchEnd::kCompacted: return StreamEnd::kCompacted;
    case Etcd::WatchEnd::kBroken: break;
  }
  return StreamEnd::kBroken;
}

}  // namespace Korvane::Pictora::Rpc
