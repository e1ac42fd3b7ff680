// The per-service authentication files: with authentication on, a client may learn where a
// service runs only when it could read the service's file in the home folder's "Services"
// folder ("Folder/Name" lives in "Services/Folder/Name"). A missing file means open to all.
// On Linux the caller's uid and groups, from its connection to the named channel, are checked
// against the file's mode bits and the search bits of its folders. File names keep their letter
// case here while service names do not: a check reads every file whose path matches the name
// ignoring case, and the caller must be allowed to read each of them. A check never creates
// anything; registering a service makes its folder and file.
//
// Thread-safe: no state but the authentication switch, set at start-up.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "servercore/CallerIdentity.h"

namespace Korvane::Pictora::ServerCore {

class AuthenticationFiles {
 public:
  void SetActive(bool active) { active_ = active; }

  // Where the service's file lives. Empty text for a name that would lead out of the Services
  // folder or reach the length limit.
  std::string PathFor(const std::string& serviceName) const;
  // Creates the service's file, readable by all, unless it exists. True when authentication is
  // off or the file is there; on false failedPath names what could not be created.
  bool Create(const std::string& serviceName, std::string& failedPath) const;
  // Whether the caller may learn where the service runs (always true without authentication).
  // On false message says why.
  bool MayUse(const CallerIdentity& caller, const std::string& serviceName, std::string& message) const;

 private:
  std::string Folder() const;
  // The existing files whose path below the Services folder matches path's ignoring case.
  std::vector<std::string> FilesMatching(const std::string& path) const;

  std::atomic<bool> active_{false};
};

}  // namespace Korvane::Pictora::ServerCore
