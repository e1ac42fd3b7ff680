// The allow list of administration tools: machine names or addresses separated by "," or
// ";", or "*" for everyone. The server's own machine is always admitted.
#pragma once

#include <string>
#include <string_view>

#include "servercore/CallerIdentity.h"

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

// Whether the connection itself comes from an admitted machine: a caller on this machine (the
// named channel, a loopback address) always, any other by its address.
bool AllowListAdmitsPeer(std::string_view allowList, const CallerIdentity& peer, std::string_view localIdentities);

}  // namespace Korvane::Pictora::ServerCore
