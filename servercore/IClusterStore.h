// The shared store several servers keep one registry in: keys with the revisions of their
// creation and last change, transactions that write only when what they read is unchanged, a
// stream of changes, and leases (for the one server that runs the liveness pass). The real one is
// the cluster store's client; the host wires it when the installation key names the members.
//
// Implementations never throw and may be used from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Korvane::Pictora::ServerCore {

class IClusterStore {
 public:
  struct Entry {
    std::string key;
    std::string value;
    std::int64_t createRevision = 0;
    std::int64_t modRevision = 0;
  };
  struct Change {
    bool deleted = false;
    Entry entry;  // for a deletion: the key
  };
  // The key was created (0: does not exist) or last changed at `revision`.
  struct Condition {
    std::string key;
    bool onCreation = true;
    std::int64_t revision = 0;
  };
  struct Operation {
    enum class Kind { kPut, kDelete, kDeletePrefix };
    Kind kind = Kind::kPut;
    std::string key;
    std::string value;
    std::int64_t lease = 0;
  };
  enum class Outcome { kDone, kConflict, kUnreachable };
  enum class StreamEnd { kStopped, kBroken, kCompacted };
  using OnChanges = std::function<void(const std::vector<Change>& changes, std::int64_t revision)>;

  virtual ~IClusterStore() = default;

  // Every key under prefix, and the store's revision of the read.
  virtual bool ReadAll(const std::string& prefix, std::vector<Entry>& entries, std::int64_t& revision,
                       std::string& error) = 0;
  virtual bool Read(const std::string& key, std::optional<Entry>& entry, std::string& error) = 0;
  virtual Outcome Commit(const std::vector<Condition>& conditions, const std::vector<Operation>& operations,
                         std::int64_t& revision, std::string& error) = 0;
  virtual bool GrantLease(int ttlSeconds, std::int64_t& id, std::string& error) = 0;
  virtual bool KeepAlive(std::int64_t id, std::string& error) = 0;
  // Streams the changes under prefix from fromRevision on until shouldStop(), a break or a
  // compaction; the revision after each batch comes with it (also with no change, as progress).
  virtual StreamEnd Watch(const std::string& prefix, std::int64_t fromRevision, const OnChanges& onChanges,
                          const std::function<bool()>& shouldStop, std::string& error) = 0;
};

}  // namespace Korvane::Pictora::ServerCore
