// Decides whether a user may read a file, the way the kernel would for that user: owner,
// group or other read bit of the file, and the search bit of every folder from topFolder
// down to the file. Used for the authentication files of services, on behalf of a caller
// whose credentials came with its connection. uid 0 may read everything, as with the kernel.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace Korvane::Pictora::ServerCore {

struct UserCredentials {
  uid_t uid = 0;
  std::vector<gid_t> groups;  // primary group first, then the supplementary ones
};

// Whether mode grants the wanted bits (4 read, 1 search) to the user for a file owned by
// ownerUid/ownerGid. Only the class that applies counts (owner, else group, else other).
bool PermissionGrants(const UserCredentials& user, uid_t ownerUid, gid_t ownerGid, mode_t mode,
                      unsigned wanted);

// path must lie below topFolder (both absolute, "/" separated, topFolder without a trailing
// "/"). False with reason when a folder cannot be searched, the file cannot be read, or
// a stat fails.
bool MayReadFile(const UserCredentials& user, const std::string& topFolder,
                 const std::string& path, std::string& reason);

}  // namespace Korvane::Pictora::ServerCore
