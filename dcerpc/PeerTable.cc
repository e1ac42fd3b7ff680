#include "dcerpc/PeerTable.h"

namespace Korvane::Pictora::DceRpc {

PeerSeat::~PeerSeat() {
  if (table_ != nullptr && share_ != nullptr) table_->Leave(*share_);
}

PeerSeat PeerTable::Join(const std::string& key) {
  MutexLock lock(mutex_);
  auto& share = peers_[key];
  if (!share) share = std::make_unique<PeerShare>(key, requestBytes_, replyBytes_);
  if (share->connections >= maxConnections_) {
    if (share->connections == 0) peers_.erase(key);
    return {};
  }
  ++share->connections;
  return {this, share.get()};
}

void PeerTable::Leave(PeerShare& share) {
  MutexLock lock(mutex_);
  // The last seat goes after its connection gave back every byte it held.
  if (--share.connections == 0) peers_.erase(share.key);
}

}  // namespace Korvane::Pictora::DceRpc
