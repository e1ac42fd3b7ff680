// Base class carrying a status record, properties and the reporters it reports through.
//
// Not thread-safe by itself: derived classes that are shared between threads guard their
// status record and reporting with their own locks. ToString gives the status record's text.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

#include "global/IObject.h"
#include "global/NameValueMap.h"
#include "util/Status.h"

namespace Korvane::Pictora::Global {

class Object : public virtual IObject {
 public:
  Object() = default;
  ~Object() override = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  int SetStatusReporter(IReporter* reporter) override;
  std::string ToString() override;
  int SetProperty(std::string_view name, std::string_view value) override;
  std::string GetProperty(std::string_view name) override;
  const GeneralUtilityLib::Status& GetStatus() override { return status_; }

  // Hands the status record, as XML, to the status reporter (if any).
  virtual void ReportStatus();
  // Hands the given record, as XML, to the status reporter; 0 when there is none.
  virtual int Report(const GeneralUtilityLib::Status& status);
  // Formats one message and hands it to the status reporter as a one-entry status record
  // (code 0, the source or empty). Derived classes change the behaviour through ReportV.
  void Report(const char* source, const char* format, ...) __attribute__((format(printf, 3, 4)));
  virtual void ReportV(const char* source, const char* format, va_list args);

 protected:
  IReporter* StatusReporter() const { return statusReporter_; }

  GeneralUtilityLib::Status status_;

 private:
  IReporter* statusReporter_ = nullptr;
  NameValueMap properties_;
};

}  // namespace Korvane::Pictora::Global
