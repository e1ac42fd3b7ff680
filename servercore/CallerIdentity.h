// Who is calling: what a client binding handle carries into the access checks.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace Korvane::Pictora::ServerCore {

// Over the named channel the peer's credentials are known (uid, gid and the uid's
// supplementary groups); over TCP only the peer's address is. Plain value.
struct CallerIdentity {
  bool hasCredentials = false;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> supplementaryGroups;
  std::string peerAddress;

  static CallerIdentity FromCredentials(uid_t uid, gid_t gid, std::vector<gid_t> groups = {}) {
    CallerIdentity identity;
    identity.hasCredentials = true;
    identity.uid = uid;
    identity.gid = gid;
    identity.supplementaryGroups = std::move(groups);
    return identity;
  }
  // A caller inside this process (the host, tests): this machine's own user.
  static CallerIdentity InProcess() { return FromCredentials(::getuid(), ::getgid()); }
  // Whether the caller is on this machine: over the named channel or from a loopback address.
  bool IsLocal() const {
    return hasCredentials || peerAddress.starts_with("127.") || peerAddress == "::1" ||
           peerAddress.starts_with("::ffff:127.");
  }
  static CallerIdentity FromAddress(std::string address) {
    CallerIdentity identity;
    identity.peerAddress = std::move(address);
    return identity;
  }
};

}  // namespace Korvane::Pictora::ServerCore
