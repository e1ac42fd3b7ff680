// The allow list of administration tools: machine names or addresses separated by "," or
// ";", or "*" for everyone. The server's own machine is always admitted.
#pragma once

#include <string>
#include <string_view>

namespace Korvane::Pictora::ServerCore {

struct CallerMachine {
  std::string machineName;
  std::string ipAddress;
  std::string fqdn;
};

// localIdentities: "host;address;fqdn" of this machine (lower case). A piece admits the
// caller when it equals, ignoring case, one of the caller's names or is "*".
bool AllowListAdmits(std::string_view allowList, const CallerMachine& caller,
                     std::string_view localIdentities);

}  // namespace Korvane::Pictora::ServerCore
