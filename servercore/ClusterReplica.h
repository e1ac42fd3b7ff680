// This server's copy of the registry kept in the cluster store: it follows the store's stream of
// changes and hands every batch, in revision order, to the core; it tells the writers when a
// change they committed has arrived here; it knows whether the store answers; and it takes part
// in the election of the one server that runs the liveness pass.
//
// Two threads of its own: the follower (the stream, and a full read whenever the stream lost its
// place) and the elector (a leased leader key, renewed every second; each renewal also proves the
// store has a quorum). Handlers run on the follower thread, one at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "servercore/ClusterKeys.h"
#include "servercore/IClusterStore.h"
#include "util/CriticalSection.h"

namespace Korvane::Pictora::ServerCore {

// The leader's lease, how often it is renewed (and the store's quorum proven), the pause before
// a broken stream is opened again, and how long a change this server stored may take to arrive
// on the stream before the registry is read whole instead, and then that read.
struct ClusterTiming {
  int leaseSeconds = 3;
  std::chrono::milliseconds renewal{1000};
  std::chrono::milliseconds retry{500};
  std::chrono::milliseconds arrival{2000};
  std::chrono::milliseconds catchUp{5000};
};

class ClusterReplica {
 public:
  struct Handlers {
    // Changes in revision order, as the stream delivers them.
    std::function<void(const std::vector<IClusterStore::Change>&)> apply;
    // Everything under the prefix, after the stream lost its place (or the first read failed).
    std::function<void(const std::vector<IClusterStore::Entry>&)> replaceAll;
    std::function<void(const std::string& line)> report;
  };
  ClusterReplica(IClusterStore& store, ClusterKeys keys, std::string serverId, Handlers handlers,
                 ClusterTiming timing = ClusterTiming{});
  ~ClusterReplica();
  ClusterReplica(const ClusterReplica&) = delete;
  ClusterReplica& operator=(const ClusterReplica&) = delete;

  // The first full read, on the caller's thread, for the caller to apply before it takes calls.
  // False when the store does not answer; Start then reads in the background.
  bool ReadInitial(std::vector<IClusterStore::Entry>& entries, std::string& error);
  void Start();
  void Stop();

  // Waits until the changes up to revision have been handed to the core; false on timeout.
  bool WaitApplied(std::int64_t revision, std::chrono::milliseconds timeout);
  // As WaitApplied, but when the stream does not bring revision in time (its member may be cut
  // off and not know it yet) the registry is read whole from a member of the majority; false
  // when that too fails.
  bool Arrived(std::int64_t revision);
  std::int64_t AppliedRevision() const;

  bool Reachable() const;
  std::uint64_t StreamBreaks() const { return streamBreaks_.load(std::memory_order_relaxed); }
  // A writer found the store without answer or quorum.
  void NoteUnreachable(const std::string& error);
  // Whether this server runs the liveness pass; fence: the condition a removal it makes must
  // carry, so a leader that lost its lease unnoticed cannot remove anything.
  bool Leading(IClusterStore::Condition& fence) const;
  // One line for the reports: members reachable or not, leader or not, revision applied.
  std::string Describe() const;

  // What the status page and the readiness probe show; caughtUp: the registry has been read and
  // no full read is pending.
  struct State {
    bool reachable = false;
    bool caughtUp = false;
    bool leading = false;
    std::int64_t applied = 0;
    std::string self;
    std::string leader;  // the server the leader key names, as last read; empty: none
  };
  State Snapshot() const;

  IClusterStore& Store() { return store_; }

 private:
  void Follow();
  void Elect();
  void ApplyBatch(const std::vector<IClusterStore::Change>& changes, std::int64_t revision);
  bool Resynchronise();
  void SetReachable(bool reachable, const std::string& error);
  // Follows the leader key through what the stream and the full reads bring.
  void NoteLeaderLocked(const IClusterStore::Change& change) REQUIRES(section_);
  // Sleeps up to `period`; false when stopping.
  bool Pause(std::chrono::milliseconds period);

  IClusterStore& store_;
  const ClusterKeys keys_;
  const std::string serverId_;
  const Handlers handlers_;
  const ClusterTiming timing_;

  // Never held while calling the store or a handler.
  mutable GeneralUtilityLib::ActiveCriticalSection section_;
  GeneralUtilityLib::SectionCondition changed_;
  bool stopping_ GUARDED_BY(section_) = false;
  bool readWhole_ GUARDED_BY(section_) = false;  // Arrived asks the follower for a full read
  std::int64_t applied_ GUARDED_BY(section_) = 0;  // 0: nothing read yet
  bool reachable_ GUARDED_BY(section_) = true;
  bool leading_ GUARDED_BY(section_) = false;
  std::int64_t leaderCreated_ GUARDED_BY(section_) = 0;
  std::int64_t lease_ GUARDED_BY(section_) = 0;
  std::string leader_ GUARDED_BY(section_);

  std::atomic<std::uint64_t> streamBreaks_{0};
  std::thread follower_;
  std::thread elector_;
};

}  // namespace Korvane::Pictora::ServerCore
