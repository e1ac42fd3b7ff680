// Reporters carry report texts (status XML of one entry) to the attached handlers.
#pragma once

#include <string_view>

namespace Korvane::Pictora::Global {

// Receives every report that reaches the reporter it is attached to.
class IReportHandler {
 public:
  virtual ~IReportHandler() = default;
  // statusXml: a <Status> element holding one <Item>. Must not throw.
  virtual void HandleReport(std::string_view statusXml) = 0;
};

// Thread-safe: reports may arrive from any thread.
class IReporter {
 public:
  virtual ~IReporter() = default;
  // Attaches a handler (not owned; it must outlive its attachment). Attaching twice is a no-op.
  virtual int AttachHandler(IReportHandler* handler) = 0;
  virtual int DetachHandler(IReportHandler* handler) = 0;
  virtual int HandlerCount() const = 0;
  // Hands one NUL-terminated report text to every attached handler.
  virtual int Report(const char* statusXml) = 0;
};

// The process-wide reporter.
IReporter* GetGlobalReporter();
// Hands one information line (code 0) from `source` to the process-wide reporter, as the core
// reports. Never throws: a report that cannot be made is dropped.
void ReportToGlobal(std::string_view source, std::string_view message) noexcept;

}  // namespace Korvane::Pictora::Global
