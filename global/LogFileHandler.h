// Writes every report it receives to the dated log file, one line per report:
// local time, source and message.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "global/IReporter.h"
#include "util/ThreadAnnotations.h"

namespace Korvane::Pictora::Global {

class LogFileHandler : public IReportHandler {
 public:
  LogFileHandler() = default;
  ~LogFileHandler() override;
  LogFileHandler(const LogFileHandler&) = delete;
  LogFileHandler& operator=(const LogFileHandler&) = delete;

  // Chooses the file for the next Open: folder (ending in "/") and file name.
  bool SetFile(std::string_view folder, std::string_view fileName);
  // Creates the folder when missing and opens the file for appending, closing any file
  // opened before. False when it cannot be opened (reports are then dropped).
  bool Open();
  void Close();
  std::string Path() const;

  void HandleReport(std::string_view statusXml) override;

 private:
  mutable std::mutex mutex_;
  std::string folder_ GUARDED_BY(mutex_);
  std::string fileName_ GUARDED_BY(mutex_);
  std::FILE* file_ GUARDED_BY(mutex_) = nullptr;
};

// Writes every report as one line to standard error (console mode).
class ConsoleReportHandler : public IReportHandler {
 public:
  void HandleReport(std::string_view statusXml) override;
};

// The line written for one report: "YYYY-MM-DD HH:MM:SS.mmm [source] message" per entry.
std::string FormatReportLine(std::string_view statusXml);

}  // namespace Korvane::Pictora::Global
