// The servers a tool may talk to, in the order its command line named them, and the one in use.
// In cluster mode several servers share one registry, so a tool that loses one moves on to the
// next.
//
// Thread safety: none; one object per thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "dcerpc/Client.h"

namespace Korvane::Pictora::Tools {

class ServerList {
 public:
  // Each address as TcpBindingFor takes it; throws std::invalid_argument for an empty list or
  // an address it does not take.
  explicit ServerList(const std::vector<std::string>& addresses);

  size_t Size() const { return servers_.size(); }
  const std::string& CurrentAddress() const { return servers_[current_].address; }
  const DceRpc::Binding& CurrentBinding() const { return servers_[current_].binding; }
  // The next server; after the last, the first again.
  void MoveToNext() { current_ = (current_ + 1) % servers_.size(); }

 private:
  struct Server {
    std::string address;
    DceRpc::Binding binding;
  };
  std::vector<Server> servers_;
  size_t current_ = 0;
};

}  // namespace Korvane::Pictora::Tools
