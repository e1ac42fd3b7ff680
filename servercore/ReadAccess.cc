#include "servercore/ReadAccess.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "global/MachineIdentity.h"

namespace Korvane::Pictora::ServerCore {
namespace {

constexpr unsigned kRead = 4;
constexpr unsigned kSearch = 1;

bool InGroups(const UserCredentials& user, gid_t gid) {
  return std::find(user.groups.begin(), user.groups.end(), gid) != user.groups.end();
}

bool Check(const UserCredentials& user, const std::string& path, unsigned wanted,
           std::string& reason) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    reason = Global::ErrorText(errno);
    return false;
  }
  if (PermissionGrants(user, info.st_uid, info.st_gid, info.st_mode, wanted)) return true;
  reason = Global::ErrorText(EACCES);
  return false;
}

}  // namespace

bool PermissionGrants(const UserCredentials& user, uid_t ownerUid, gid_t ownerGid, mode_t mode,
                      unsigned wanted) {
  if (user.uid == 0) return true;
  unsigned bits = 0;
  if (user.uid == ownerUid) {
    bits = (mode >> 6) & 7u;
  } else if (InGroups(user, ownerGid)) {
    bits = (mode >> 3) & 7u;
  } else {
    bits = mode & 7u;
  }
  return (bits & wanted) == wanted;
}

bool MayReadFile(const UserCredentials& user, const std::string& topFolder,
                 const std::string& path, std::string& reason) {
  if (path.size() <= topFolder.size() + 1 || path.compare(0, topFolder.size(), topFolder) != 0 ||
      path[topFolder.size()] != '/') {
    reason = Global::ErrorText(EACCES);
    return false;
  }
  if (!Check(user, topFolder, kSearch, reason)) return false;
  // Every folder between the top folder and the file must be searchable.
  for (std::size_t slash = path.find('/', topFolder.size() + 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (!Check(user, path.substr(0, slash), kSearch, reason)) return false;
  }
  return Check(user, path, kRead, reason);
}

}  // namespace Korvane::Pictora::ServerCore
