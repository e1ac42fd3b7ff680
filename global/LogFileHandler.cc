#include "global/LogFileHandler.h"

#include <chrono>
#include <ctime>

#include "util/FileUtil.h"
#include "util/Status.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::Global {

namespace GU = GeneralUtilityLib;

namespace {

// Local time "YYYY-MM-DD HH:MM:SS.mmm".
std::string LocalTimeText() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  return GU::Format("%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                    local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                    static_cast<int>(millis));
}

// One entry per line: line breaks inside a text would split it.
std::string OnOneLine(std::string_view text) {
  std::string line(GU::TrimRight(text));
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return line;
}

std::string EntryText(const GU::StatusItem& item) {
  std::string tag = item.source;
  if (item.id != 0) {
    const std::string idText =
        item.id == GU::kUnknownStatusId ? "Unknown ID" : GU::Format("%06X", item.id);
    tag += tag.empty() ? idText : " : " + idText;
  }
  std::string text;
  if (!tag.empty()) text += "[" + tag + "] ";
  if (item.id != 0) text += "Error: ";
  text += item.message;
  if (!item.details.empty()) text += " (" + item.details + ")";
  return OnOneLine(text);
}

}  // namespace

std::string FormatReportLine(std::string_view statusXml) {
  if (GU::Trim(statusXml).empty()) return {};
  const std::string time = LocalTimeText();
  GU::Status status;
  if (!status.AddXml(statusXml) || status.Count() == 0) {
    return time + " " + OnOneLine(GU::Trim(statusXml));
  }
  std::string lines;
  for (const GU::StatusItem& item : status.Items()) {
    if (!lines.empty()) lines += '\n';
    lines += time + " " + EntryText(item);
  }
  return lines;
}

LogFileHandler::~LogFileHandler() {
  GetGlobalReporter()->DetachHandler(this);
  Close();
}

bool LogFileHandler::SetFile(std::string_view folder, std::string_view fileName) {
  GU::CriticalSectionLock lock(&section_);
  folder_ = folder;
  if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
  fileName_ = fileName;
  return !fileName_.empty();
}

bool LogFileHandler::Open() {
  GU::CriticalSectionLock lock(&section_);
  CloseLocked();
  if (fileName_.empty()) return false;
  if (!folder_.empty() && !GU::CreateDirectories(folder_)) return false;
  file_ = std::fopen((folder_ + fileName_).c_str(), "a");
  return file_ != nullptr;
}

void LogFileHandler::Close() {
  GU::CriticalSectionLock lock(&section_);
  CloseLocked();
}

void LogFileHandler::CloseLocked() {
  if (file_ == nullptr) return;
  std::fclose(file_);
  file_ = nullptr;
}

std::string LogFileHandler::Path() const {
  GU::CriticalSectionLock lock(&section_);
  return folder_ + fileName_;
}

void LogFileHandler::HandleReport(std::string_view statusXml) {
  try {
    const std::string lines = FormatReportLine(statusXml);
    if (lines.empty()) return;
    GU::CriticalSectionLock lock(&section_);
    if (file_ == nullptr) return;
    std::fputs(lines.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
  } catch (...) {
    // A report that cannot be written is dropped; logging must never end the caller.
  }
}

ConsoleReportHandler::~ConsoleReportHandler() { GetGlobalReporter()->DetachHandler(this); }

void ConsoleReportHandler::HandleReport(std::string_view statusXml) {
  try {
    const std::string lines = FormatReportLine(statusXml);
    if (lines.empty()) return;
    // One write per report, so that lines of reports from several threads do not mix.
    const std::string text = lines + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
  } catch (...) {
  }
}

}  // namespace Korvane::Pictora::Global
