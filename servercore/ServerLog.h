// The server's dated log file ("%Y%m%d-Server.log", the date of the day it was opened) and the
// folder it is written to. Every report of the process reaches it through the global reporter.
//
// Not thread-safe: the core opens and moves it under its report lock. The file handler itself
// takes reports from any thread.
#pragma once

#include <ctime>
#include <string>

#include "global/LogFileHandler.h"

namespace Korvane::Pictora::ServerCore {

class ServerLog {
 public:
  ServerLog() = default;
  ~ServerLog();  // detaches the file from the global reporter
  ServerLog(const ServerLog&) = delete;
  ServerLog& operator=(const ServerLog&) = delete;

  // Opens today's file in folder (ending in "/") and attaches it to the global reporter; false
  // when the file cannot be opened (the folder is remembered all the same).
  bool OpenIn(const std::string& folder);
  // Attaches the file to the global reporter again (a no-op when it is attached).
  void Attach();
  // Removes the folder's daily files older than the operator's LogRetentionDays (nothing when
  // unset); done when a file opens and then at most once an hour, as a server runs for months
  // on the file of the day it started.
  void RemoveExpired(std::time_t now);
  const std::string& Folder() const { return folder_; }

  // The folder a configured LogsFolder value names: "\" read as "/", ending in "/"; the
  // application's default folder for logs + "Server/" when the value is empty.
  static std::string FolderFromSetting(std::string setting);

 private:
  std::string folder_;
  Global::LogFileHandler file_;
  std::time_t lastRemoval_ = 0;
};

}  // namespace Korvane::Pictora::ServerCore
