#include "servercore/ClusterReplica.h"

#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {

using GeneralUtilityLib::CriticalSectionLock;

ClusterReplica::ClusterReplica(IClusterStore& store, ClusterKeys keys, std::string serverId, Handlers handlers,
                               ClusterTiming timing)
    : store_(store), keys_(std::move(keys)), serverId_(std::move(serverId)), handlers_(std::move(handlers)),
      timing_(timing) {}

ClusterReplica::~ClusterReplica() { Stop(); }

bool ClusterReplica::ReadInitial(std::vector<IClusterStore::Entry>& entries, std::string& error) {
  std::int64_t revision = 0;
  if (!store_.ReadAll(keys_.Prefix(), entries, revision, error)) {
    SetReachable(false, error);
    return false;
  }
  CriticalSectionLock lock(&section_);
  applied_ = revision;
  leader_.clear();
  for (const IClusterStore::Entry& entry : entries) NoteLeaderLocked({false, entry});
  return true;
}

void ClusterReplica::Start() {
  follower_ = std::thread([this] { Follow(); });
  elector_ = std::thread([this] { Elect(); });
}

void ClusterReplica::Stop() {
  {
    CriticalSectionLock lock(&section_);
    stopping_ = true;
  }
  changed_.NotifyAll();
  if (follower_.joinable()) follower_.join();
  if (elector_.joinable()) elector_.join();
  bool wasLeading = false;
  std::int64_t created = 0;
  {
    CriticalSectionLock lock(&section_);
    wasLeading = leading_;
    created = leaderCreated_;
    lease_ = 0;
    leading_ = false;
  }
  // Handing the liveness pass on at once, rather than when the lease runs out.
  if (wasLeading) {
    std::int64_t revision = 0;
    std::string error;
    store_.Commit({{keys_.Leader(), true, created}}, {{IClusterStore::Operation::Kind::kDelete, keys_.Leader(), {}, 0}},
                  revision, error);
  }
}

bool ClusterReplica::Pause(std::chrono::milliseconds period) {
  const auto deadline = std::chrono::steady_clock::now() + period;
  CriticalSectionLock lock(&section_);
  while (!stopping_ && changed_.WaitUntil(section_, deadline)) {
  }
  return !stopping_;
}

bool ClusterReplica::WaitApplied(std::int64_t revision, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  CriticalSectionLock lock(&section_);
  while (applied_ < revision && !stopping_ && changed_.WaitUntil(section_, deadline)) {
  }
  return applied_ >= revision;
}

bool ClusterReplica::Arrived(std::int64_t revision) {
  if (WaitApplied(revision, timing_.arrival)) return true;
  handlers_.report(GeneralUtilityLib::Format(
      "A change stored at revision %lld has not arrived on the stream; reading the registry whole",
      static_cast<long long>(revision)));
  {
    CriticalSectionLock lock(&section_);
    readWhole_ = true;
  }
  changed_.NotifyAll();
  return WaitApplied(revision, timing_.catchUp);
}

std::int64_t ClusterReplica::AppliedRevision() const {
  CriticalSectionLock lock(&section_);
  return applied_;
}

bool ClusterReplica::Reachable() const {
  CriticalSectionLock lock(&section_);
  return reachable_;
}

void ClusterReplica::NoteUnreachable(const std::string& error) { SetReachable(false, error); }

void ClusterReplica::SetReachable(bool reachable, const std::string& error) {
  {
    CriticalSectionLock lock(&section_);
    if (reachable_ == reachable) return;
    reachable_ = reachable;
  }
  handlers_.report(reachable ? "The cluster store answers again; the registry catches up and changes are accepted"
                             : "The cluster store is unreachable (" + error +
                                   "); lookups answer from the registry as last seen, changes are refused");
}

bool ClusterReplica::Leading(IClusterStore::Condition& fence) const {
  CriticalSectionLock lock(&section_);
  fence = {keys_.Leader(), true, leaderCreated_};
  return leading_;
}

std::string ClusterReplica::Describe() const {
  CriticalSectionLock lock(&section_);
  return std::string(reachable_ ? "reachable" : "unreachable") + "; " +
         (leading_ ? "runs the liveness pass" : "another server runs the liveness pass") + "; revision " +
         std::to_string(applied_);
}

ClusterReplica::State ClusterReplica::Snapshot() const {
  CriticalSectionLock lock(&section_);
  return State{reachable_, applied_ > 0 && !readWhole_, leading_, applied_, serverId_, leader_};
}

void ClusterReplica::NoteLeaderLocked(const IClusterStore::Change& change) {
  if (change.entry.key != keys_.Leader()) return;
  leader_ = change.deleted ? std::string() : change.entry.value.substr(0, 512);
}

void ClusterReplica::ApplyBatch(const std::vector<IClusterStore::Change>& changes, std::int64_t revision) {
  if (!changes.empty()) handlers_.apply(changes);
  {
    CriticalSectionLock lock(&section_);
    if (revision > applied_) applied_ = revision;
    for (const IClusterStore::Change& change : changes) NoteLeaderLocked(change);
  }
  changed_.NotifyAll();
}

bool ClusterReplica::Resynchronise() {
  std::vector<IClusterStore::Entry> entries;
  std::int64_t revision = 0;
  std::string error;
  if (!store_.ReadAll(keys_.Prefix(), entries, revision, error)) {
    SetReachable(false, error);
    return false;
  }
  handlers_.replaceAll(entries);
  {
    CriticalSectionLock lock(&section_);
    applied_ = revision;
    leader_.clear();
    for (const IClusterStore::Entry& entry : entries) NoteLeaderLocked({false, entry});
  }
  changed_.NotifyAll();
  return true;
}

void ClusterReplica::Follow() {
  const auto stopping = [this] {
    CriticalSectionLock lock(&section_);
    return stopping_;
  };
  const auto interrupted = [this] {
    CriticalSectionLock lock(&section_);
    return stopping_ || readWhole_;
  };
  bool placeLost = AppliedRevision() == 0;
  std::int64_t reportedBreakAt = -1;  // one line per stall, not one per attempt
  while (!stopping()) {
    {
      CriticalSectionLock lock(&section_);
      placeLost = placeLost || readWhole_;
      readWhole_ = false;
    }
    if (placeLost) {
      if (!Resynchronise()) {
        Pause(timing_.retry);
        continue;
      }
      placeLost = false;
    }
    std::string error;
    const auto end = store_.Watch(
        keys_.Prefix(), AppliedRevision() + 1,
        [this](const std::vector<IClusterStore::Change>& changes, std::int64_t revision) {
          ApplyBatch(changes, revision);
        },
        interrupted, error);
    if (end == IClusterStore::StreamEnd::kStopped) continue;  // stopping, or a full read asked for
    if (end == IClusterStore::StreamEnd::kCompacted) {
      handlers_.report("The cluster store compacted changes this server had not seen; reading the registry whole");
      placeLost = true;
      continue;
    }
    streamBreaks_.fetch_add(1, std::memory_order_relaxed);
    if (AppliedRevision() != reportedBreakAt) {
      reportedBreakAt = AppliedRevision();
      handlers_.report("The cluster store's stream broke (" + error + "); it is opened again on another member");
    }
    Pause(timing_.retry);
  }
}

void ClusterReplica::Elect() {
  using Kind = IClusterStore::Operation::Kind;
  while (Pause(timing_.renewal)) {
    std::int64_t lease = 0;
    bool leading = false;
    {
      CriticalSectionLock lock(&section_);
      lease = lease_;
      leading = leading_;
    }
    std::string error;
    if (lease != 0 && !store_.KeepAlive(lease, error)) {
      // The lease (and with it any leadership) is gone, or the store has no quorum.
      lease = 0;
      if (leading) handlers_.report("This server no longer runs the liveness pass: " + error);
      CriticalSectionLock lock(&section_);
      lease_ = 0;
      leading_ = false;
      leading = false;
    }
    if (lease == 0 && !store_.GrantLease(timing_.leaseSeconds, lease, error)) {
      SetReachable(false, error);
      continue;
    }
    {
      CriticalSectionLock lock(&section_);
      lease_ = lease;
    }
    SetReachable(true, {});
    if (leading) continue;
    std::int64_t revision = 0;
    const auto outcome =
        store_.Commit({{keys_.Leader(), true, 0}}, {{Kind::kPut, keys_.Leader(), serverId_, lease}}, revision, error);
    if (outcome != IClusterStore::Outcome::kDone) continue;
    {
      CriticalSectionLock lock(&section_);
      leading_ = true;
      leaderCreated_ = revision;
    }
    handlers_.report("This server now runs the liveness pass for the cluster");
  }
}

}  // namespace Korvane::Pictora::ServerCore
