#include "global/Reporter.h"

#include <algorithm>
#include <new>
#include <string_view>

#include "util/Status.h"

namespace Korvane::Pictora::Global {

int Reporter::AttachHandler(IReportHandler* handler) {
  if (handler == nullptr) return 0;
  GeneralUtilityLib::CriticalSectionLock lock(&section_);
  if (std::find(handlers_.begin(), handlers_.end(), handler) == handlers_.end()) {
    handlers_.push_back(handler);
  }
  return 1;
}

int Reporter::DetachHandler(IReportHandler* handler) {
  GeneralUtilityLib::CriticalSectionLock lock(&section_);
  auto found = std::find(handlers_.begin(), handlers_.end(), handler);
  if (found == handlers_.end()) return 0;
  handlers_.erase(found);
  return 1;
}

int Reporter::HandlerCount() const {
  GeneralUtilityLib::CriticalSectionLock lock(&section_);
  return static_cast<int>(handlers_.size());
}

int Reporter::Report(const char* statusXml) {
  if (statusXml == nullptr) return 0;
  const std::string_view text(statusXml);
  GeneralUtilityLib::CriticalSectionLock lock(&section_);
  // A copy, because a handler may attach or detach while we walk the list.
  const std::vector<IReportHandler*> handlers = handlers_;
  for (IReportHandler* handler : handlers) handler->HandleReport(text);
  return static_cast<int>(handlers.size());
}

namespace {

// Reports may still arrive while static objects are destroyed at exit (an object reporting
// from its destructor), so the process-wide reporter is never destroyed.
class GlobalReporterStorage {
 public:
  GlobalReporterStorage() { new (storage_) Reporter(); }
  Reporter* Get() { return std::launder(reinterpret_cast<Reporter*>(storage_)); }

 private:
  alignas(Reporter) unsigned char storage_[sizeof(Reporter)];
};

}  // namespace

IReporter* GetGlobalReporter() {
  static GlobalReporterStorage storage;
  return storage.Get();
}

void ReportToGlobal(std::string_view source, std::string_view message) noexcept {
  try {
    GeneralUtilityLib::Status record;
    record.Add(0, message, source);
    GetGlobalReporter()->Report(record.ToXml().c_str());
  } catch (...) {
  }
}

}  // namespace Korvane::Pictora::Global
