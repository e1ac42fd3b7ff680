// The session table and the per-service authentication files.
#include <fcntl.h>
#include <unistd.h>

#include "global/IReporter.h"
#include "global/Installation.h"
#include "servercore/ReadAccess.h"
#include "servercore/SafeNames.h"
#include "servercore/ServerImpl.h"
#include "util/FileUtil.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;
namespace {

constexpr const char* kCreateAuthenticationSource =
    "Korvane::Pictora::ServerCore::ServerImpl::CreateAuthenticationFile";

}  // namespace

bool ServerImpl::OpenSession(const std::string& sessionInfoXml, std::string& sessionId,
                             std::string& error) {
  try {
    CriticalSectionLock lock(&registryLock_, "OpenSession");
    status_.Reset("ServerCore.Server.OpenSession");
    if (!HasRoomFor(sessionInfoXml, "OpenSession", error)) return false;
    auto session = std::make_shared<Session>();
    session->SetServer(this);
    if (!session->Init(sessionInfoXml, configFile_)) {
      error = session->GetStatus().ToXml(false);
      return false;
    }
    sessionId = session->GetSessionId();
    Global::IReporter* reporter = Global::GetGlobalReporter();
    if (reporter != nullptr) reporter->AttachHandler(&logFileHandler_);
    session->SetStatusReporter(reporter);
    sessions_[sessionId] = std::move(session);
    return true;
  } catch (...) {
    ReportFatal("OpenSession");
    return false;
  }
}

std::shared_ptr<ISession> ServerImpl::GetSession(const std::string& sessionId) {
  try {
    CriticalSectionLock lock(&registryLock_, "GetSession");
    status_.Reset("ServerCore.Server.GetSession");
    auto session = sessions_.find(sessionId);
    if (session == sessions_.end()) return nullptr;
    return session->second;
  } catch (...) {
    ReportFatal("GetSession");
    return nullptr;
  }
}

bool ServerImpl::CloseSession(const std::string& sessionId, std::string&) {
  try {
    CriticalSectionLock lock(&registryLock_, "CloseSession");
    status_.Reset("ServerCore.Server.CloseSession");
    return CloseSessionLocked(sessionId);
  } catch (...) {
    ReportFatal("CloseSession");
    return false;
  }
}

bool ServerImpl::CloseSessionLocked(const std::string& sessionId) {
  auto session = sessions_.find(sessionId);
  if (session == sessions_.end()) return false;
  // A caller that looked the session up keeps its own reference until its call ends.
  sessions_.erase(session);
  return true;
}

std::string ServerImpl::AuthenticationFolder() const {
  return Global::InstallationFolder(Global::kHomeFolder) + "Services";
}

std::string ServerImpl::AuthenticationFilePath(const std::string& serviceName) {
  std::string reason;
  if (!IsSafeServiceName(serviceName, reason)) return std::string();
  std::vector<std::string> pieces;
  for (const std::string& piece : GU::Tokenize(serviceName, "\\/")) pieces.push_back(GU::Trim(piece));
  if (pieces.empty()) return std::string();
  std::string folder = AuthenticationFolder();
  const std::string fileName = pieces.back();
  pieces.pop_back();
  if (!pieces.empty()) {
    folder += '/';
    folder += GU::Join(pieces, "/");
  }
  const std::string path = folder + "/" + fileName;
  if (path.size() >= GU::kMaxPath) return std::string();
  GU::CreateDirectories(folder);
  return path;
}

bool ServerImpl::CreateAuthenticationFile(const std::string& serviceName) {
  try {
    if (!authenticationActive_) return true;
    const std::string path = AuthenticationFilePath(serviceName);
    if (!path.empty() && GU::FileExists(path)) return true;
    // Never follow a link planted where the file belongs.
    const int fd = path.empty() ? -1
                                : ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                                         0644);
    if (fd < 0) {
      Report(kCreateAuthenticationSource, "Failed to create file: '%s'",
             (path.empty() ? serviceName : path).c_str());
      return false;
    }
    ::close(fd);
    return true;
  } catch (...) {
    return true;
  }
}

bool ServerImpl::CheckClientAccess(const CallerIdentity& caller, const std::string& serviceName,
                                   std::string& message) {
  try {
    if (!authenticationActive_) return true;
    std::string reason;
    if (!IsSafeServiceName(serviceName, reason)) {
      message = GU::Format("Service name '%s' refused: %s", serviceName.c_str(), reason.c_str());
      return false;
    }
    const std::string path = AuthenticationFilePath(serviceName);
    if (path.empty()) {
      message = GU::Format("Service name '%s' refused: the path is too long", serviceName.c_str());
      return false;
    }
    if (!GU::FileExists(path)) return true;
    if (!caller.hasCredentials) {
      message = GU::Format("Failed to impersonate client: %s",
                           "the connection carries no caller identity (authentication needs "
                           "the named channel)");
      return false;
    }
    UserCredentials user{caller.uid, {caller.gid}};
    user.groups.insert(user.groups.end(), caller.supplementaryGroups.begin(),
                       caller.supplementaryGroups.end());
    if (MayReadFile(user, AuthenticationFolder(), path, reason)) return true;
    message = reason;
    return false;
  } catch (...) {
    message = "Fatal error";
    return false;
  }
}

}  // namespace Korvane::Pictora::ServerCore
