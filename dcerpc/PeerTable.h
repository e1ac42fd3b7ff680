// Internal: what each peer holds of the server, a peer being a TCP address or, on the pipe
// socket, a uid: its connections, and its shares of the reassembly and reply budgets, so that
// one peer cannot take what the server keeps for all. Thread-safe.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

#include "dcerpc/ByteBudget.h"
#include "dcerpc/Mutex.h"

namespace Korvane::Pictora::DceRpc {

struct PeerShare {
  PeerShare(std::string peerKey, size_t requestLimit, size_t replyLimit)
      : key(std::move(peerKey)), requestBytes(requestLimit), replyBytes(replyLimit) {}
  const std::string key;
  size_t connections = 0;  // guarded by the table's mutex (PeerTable::Join and Leave)
  ByteBudget requestBytes;
  ByteBudget replyBytes;
};

class PeerTable;

// One connection's place in its peer's share, given up on destruction. Move-only.
class PeerSeat {
 public:
  PeerSeat() = default;
  PeerSeat(PeerTable* table, PeerShare* share) : table_(table), share_(share) {}
  PeerSeat(PeerSeat&& other) noexcept
      : table_(std::exchange(other.table_, nullptr)), share_(std::exchange(other.share_, nullptr)) {}
  PeerSeat& operator=(PeerSeat&&) = delete;
  ~PeerSeat();

  explicit operator bool() const { return share_ != nullptr; }
  PeerShare* operator->() const { return share_; }

 private:
  PeerTable* table_ = nullptr;
  PeerShare* share_ = nullptr;  // owned by the table while a seat is taken in it
};

class PeerTable {
 public:
  PeerTable(size_t maxConnectionsPerPeer, size_t requestBytesPerPeer, size_t replyBytesPerPeer)
      : maxConnections_(maxConnectionsPerPeer), requestBytes_(requestBytesPerPeer), replyBytes_(replyBytesPerPeer) {}

  // A seat in the peer's share; an empty one when the peer holds its limit of connections.
  PeerSeat Join(const std::string& key) EXCLUDES(mutex_);

 private:
  friend class PeerSeat;
  void Leave(PeerShare& share) EXCLUDES(mutex_);

  const size_t maxConnections_;
  const size_t requestBytes_;
  const size_t replyBytes_;
  // Taken last: a seat given up under another lock (the runtime's connection table) takes it.
  Mutex mutex_;
  std::unordered_map<std::string, std::unique_ptr<PeerShare>> peers_ GUARDED_BY(mutex_);  // none unseated
};

}  // namespace Korvane::Pictora::DceRpc
