#include "global/Object.h"

#include "global/IReporter.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::Global {

namespace GU = GeneralUtilityLib;

int Object::SetStatusReporter(IReporter* reporter) {
  statusReporter_ = reporter;
  return 1;
}

std::string Object::ToString() { return status_.ToString(); }

int Object::SetProperty(std::string_view name, std::string_view value) {
  if (name.empty()) return 0;
  properties_[name] = value;
  return 1;
}

std::string Object::GetProperty(std::string_view name) { return properties_.Get(name); }

void Object::ReportStatus() { Report(status_); }

int Object::Report(const GU::Status& status) {
  if (statusReporter_ == nullptr || status.Count() == 0) return 0;
  const std::string xml = status.ToXml();
  statusReporter_->Report(xml.c_str());
  return 1;
}

void Object::Report(const char* source, const char* format, ...) {
  va_list args;
  va_start(args, format);
  ReportV(source, format, args);
  va_end(args);
}

void Object::ReportV(const char* source, const char* format, va_list args) {
  if (statusReporter_ == nullptr || format == nullptr) return;
  GU::Status report;
  report.Add(0, GU::FormatV(format, args), source != nullptr ? source : "", "");
  const std::string xml = report.ToXml();
  statusReporter_->Report(xml.c_str());
}

}  // namespace Korvane::Pictora::Global
