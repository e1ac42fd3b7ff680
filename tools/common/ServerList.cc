#include "tools/common/ServerList.h"

#include <stdexcept>

#include "tools/common/ServerClient.h"

namespace Korvane::Pictora::Tools {

ServerList::ServerList(const std::vector<std::string>& addresses) {
  if (addresses.empty()) throw std::invalid_argument("no server address");
  for (const std::string& address : addresses) {
    std::optional<DceRpc::Binding> binding = TcpBindingFor(address);
    if (!binding) throw std::invalid_argument("not a server address: " + address);
    servers_.push_back({address, std::move(*binding)});
  }
}

}  // namespace Korvane::Pictora::Tools
