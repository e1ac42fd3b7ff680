#include "servercore/AuthenticationFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <memory>
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
  return path.size() >= GU::kMaxPath ? std::string() : path;
}

std::vector<std::string> AuthenticationFiles::FilesMatching(const std::string& path) const {
  std::vector<std::string> matching{Folder()};
  for (const std::string& piece : GU::Tokenize(path.substr(Folder().size()), "/")) {
    std::vector<std::string> next;
    for (const std::string& folder : matching) {
      std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.c_str()), &::closedir);
      if (!listing) continue;
      while (const dirent* entry = ::readdir(listing.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && GU::Equals(name, piece, true)) next.push_back(folder + "/" + name);
      }
    }
    matching = std::move(next);
  }
  return matching;
}

bool AuthenticationFiles::Create(const std::string& serviceName, std::string& failedPath) const {
  if (!active_) return true;
  const std::string path = PathFor(serviceName);
  if (!path.empty() && GU::FileExists(path)) return true;
  if (!path.empty()) GU::CreateDirectories(path.substr(0, path.rfind('/')));
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
  const std::vector<std::string> files = FilesMatching(path);
  if (files.empty()) return true;
  if (!caller.hasCredentials) {
    message = "Failed to impersonate client: the connection carries no caller identity (authentication "
              "needs the named channel)";
    return false;
  }
  UserCredentials user{caller.uid, {caller.gid}};
  user.groups.insert(user.groups.end(), caller.supplementaryGroups.begin(), caller.supplementaryGroups.end());
  for (const std::string& file : files) {
    if (!MayReadFile(user, Folder(), file, reason)) {
      message = reason;
      return false;
    }
  }
  return true;
}

}  // namespace Korvane::Pictora::ServerCore
