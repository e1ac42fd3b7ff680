// Writes every report it receives to the dated log file, one line per status entry:
// local time, source and message. Each line is flushed at once so that the file can be tailed.
//
// Thread-safe. Destruction closes the file and detaches the handler from the global reporter,
// so a handler that goes away while still attached is never called again.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "global/IReporter.h"
#include "util/CriticalSection.h"
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
  void CloseLocked() REQUIRES(section_);

  mutable GeneralUtilityLib::ActiveCriticalSection section_;
  std::string folder_ GUARDED_BY(section_);
  std::string fileName_ GUARDED_BY(section_);
  std::FILE* file_ GUARDED_BY(section_) = nullptr;
};

// Writes every report as one line per entry to standard error (console mode). Destruction
// detaches it from the global reporter.
class ConsoleReportHandler : public IReportHandler {
 public:
  ConsoleReportHandler() = default;
  ~ConsoleReportHandler() override;

  void HandleReport(std::string_view statusXml) override;
};

// The lines written for one report: "YYYY-MM-DD HH:MM:SS.mmm [source] message" per entry,
// joined with "\n" (no newline after the last). An error entry reads
// "... [source : 003D00] Error: message"; an information entry without source is time and
// message alone.
// Line breaks inside a message become blanks. A text that holds no status entry is written
// as it stands after the time. Empty text when the report is empty.
std::string FormatReportLine(std::string_view statusXml);

}  // namespace Korvane::Pictora::Global
