#include "servercore/AuthenticationFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "global/Installation.h"
#include "servercore/ReadAccess.h"
#include "servercore/SafeNames.h"
#include "util/FileUtil.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;

std::string AuthenticationFiles::Folder() const { return Global::InstallationFolder(Global::kHomeFolder) + "Services"; }

std::string AuthenticationFiles::PathFor(const std::string& serviceName) const {
  std::string reason;
  if (!IsSafeServiceName(serviceName, reason)) return std::string();
  std::vector<std::string> pieces;
  for (const std::string& piece : GU::Tokenize(serviceName, "\\/")) pieces.push_back(GU::Trim(piece));
  if (pieces.empty()) return std::string();
  std::string folder = Folder();
  // A name of one piece names the file as it stands.
  const std::string fileName = pieces.size() == 1 ? serviceName : pieces.back();
  pieces.pop_back();
  if (!pieces.empty()) folder += "/" + GU::Join(pieces, "/");
  const std::string path = folder + "/" + fileName;
  if (path.size() >= GU::kMaxPath) return std::string();
  GU::CreateDirectories(folder);
  return path;
}

bool AuthenticationFiles::Create(const std::string& serviceName, std::string& failedPath) const {
  if (!active_) return true;
  const std::string path = PathFor(serviceName);
  if (!path.empty() && GU::FileExists(path)) return true;
  // Never follow a link planted where the file belongs.
  const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    failedPath = path.empty() ? serviceName : path;
    return false;
  }
  ::close(fd);
  return true;
}

bool AuthenticationFiles::MayUse(const CallerIdentity& caller, const std::string& serviceName,
                                 std::string& message) const {
  if (!active_) return true;
  std::string reason;
  if (!IsSafeServiceName(serviceName, reason)) {
    message = GU::Format("Service name '%s' refused: %s", serviceName.c_str(), reason.c_str());
    return false;
  }
  const std::string path = PathFor(serviceName);
  if (path.empty()) {
    message = GU::Format("Service name '%s' refused: the path is too long", serviceName.c_str());
    return false;
  }
  if (!GU::FileExists(path)) return true;
  if (!caller.hasCredentials) {
    message = "Failed to impersonate client: the connection carries no caller identity (authentication "
              "needs the named channel)";
    return false;
  }
  UserCredentials user{caller.uid, {caller.gid}};
  user.groups.insert(user.groups.end(), caller.supplementaryGroups.begin(), caller.supplementaryGroups.end());
  if (MayReadFile(user, Folder(), path, reason)) return true;
  message = reason;
  return false;
}

}  // namespace Korvane::Pictora::ServerCore
