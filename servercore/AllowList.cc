#include "servercore/AllowList.h"

#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;

bool AllowListAdmits(std::string_view allowList, const CallerMachine& caller,
                     std::string_view localIdentities) {
  std::string list = GU::Trim(allowList);
  if (list.empty()) {
    list = std::string(localIdentities);
  } else {
    list += ",;";
    list += localIdentities;
  }
  for (const std::string& piece : GU::Tokenize(list, ",;")) {
    if (GU::Equals(piece, caller.machineName, true) || GU::Equals(piece, caller.ipAddress, true) ||
        GU::Equals(piece, caller.fqdn, true) || GU::Equals(piece, "*", true)) {
      return true;
    }
  }
  return false;
}

bool AllowListAdmitsPeer(std::string_view allowList, const CallerIdentity& peer, std::string_view localIdentities) {
  if (peer.IsLocal()) return true;
  return AllowListAdmits(allowList, CallerMachine{peer.peerAddress, peer.peerAddress, peer.peerAddress},
                         localIdentities);
}

}  // namespace Korvane::Pictora::ServerCore
