// A client of the cluster store (etcd, API v3) over its JSON gateway: HTTP POSTs of JSON bodies,
// keys and values in base64, on libcurl. Each request goes to the member that answered last and
// moves on to the next member when that one does not answer. Every request requires the member
// to have a leader, and reads are linearizable: a member cut off from its peers refuses and the
// next one is asked; while all refuse at once (an election), they are asked again until the
// request's time is up. A watch ends when its member loses its leader or falls behind the
// majority.
//
// Thread safety: every operation may run on many threads at once (each thread keeps a
// connection of its own).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Korvane::Pictora::Etcd {

struct KeyValue {
  std::string key;
  std::string value;
  std::int64_t createRevision = 0;
  std::int64_t modRevision = 0;
};

struct Event {
  bool deleted = false;
  KeyValue kv;  // for a deletion: the key and the revision of the deletion
};

// A condition of a transaction: the key's creation or last modification was at `revision`
// (creation at 0: the key does not exist).
struct Condition {
  enum class On { kCreateRevision, kModRevision };
  std::string key;
  On on = On::kModRevision;
  std::int64_t revision = 0;
};

struct Operation {
  enum class Kind { kPut, kDelete, kDeletePrefix };
  Kind kind = Kind::kPut;
  std::string key;
  std::string value;
  std::int64_t lease = 0;  // puts only; 0: none
};

enum class TxnResult { kDone, kConflict, kFailed };
enum class WatchEnd { kStopped, kBroken, kCompacted };

class Client {
 public:
  // endpoints: "http://host:port" of the members. requestTimeout bounds every request but the
  // watch.
  Client(std::vector<std::string> endpoints, std::chrono::milliseconds requestTimeout);

  // Every key beginning with prefix; revision: the store's revision of the read.
  bool Range(const std::string& prefix, std::vector<KeyValue>& kvs, std::int64_t& revision, std::string& error);
  bool Get(const std::string& key, std::optional<KeyValue>& kv, std::int64_t& revision, std::string& error);
  // Carries out every operation, in order, when every condition holds; revision: the store's
  // revision after the write.
  TxnResult Commit(const std::vector<Condition>& conditions, const std::vector<Operation>& operations,
                   std::int64_t& revision, std::string& error);
  bool GrantLease(int ttlSeconds, std::int64_t& id, std::string& error);
  // False when the lease is gone (expired) or no member answers.
  bool KeepAlive(std::int64_t id, std::string& error);
  // Streams the changes under prefix from fromRevision on, a batch at a time with the store's
  // revision after it, until shouldStop() says so (checked at least every second), the stream
  // breaks, its member falls behind the majority (compared every kLagPeriod) or the revision was
  // compacted away.
  WatchEnd Watch(const std::string& prefix, std::int64_t fromRevision,
                 const std::function<void(const std::vector<Event>&, std::int64_t revision)>& onEvents,
                 const std::function<bool()>& shouldStop, std::string& error);

 private:
  static constexpr std::chrono::seconds kLagPeriod{1};

  bool PostTo(std::size_t member, const std::string& path, const std::string& body, std::string& reply,
              std::string& error, bool leaderRequired);
  bool Post(const std::string& path, const std::string& body, std::string& reply, std::string& error);

  // The store's revision: the majority's (linearizable, any member) or one member's own.
  bool Revision(std::optional<std::size_t> member, std::int64_t& revision, std::string& error);
  // Runs beside a watch on member: sets behind (and why) when the member lags the majority.
  void CheckLag(std::size_t member, const std::atomic<bool>& done, std::atomic<bool>& behind, std::string& why);

  std::vector<std::string> endpoints_;
  std::chrono::milliseconds requestTimeout_;
  std::atomic<std::size_t> preferred_{0};
};

// The first key after every key that begins with prefix.
std::string PrefixEnd(const std::string& prefix);

}  // namespace Korvane::Pictora::Etcd
