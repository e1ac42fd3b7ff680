// The interface every object of the core, the sessions and the administration carries.
#pragma once

#include <string>
#include <string_view>

#include "util/Status.h"

namespace Korvane::Pictora::Global {

class IReporter;

class IObject {
 public:
  virtual ~IObject() = default;
  virtual int SetStatusReporter(IReporter* reporter) = 0;
  virtual std::string ToString() = 0;
  virtual int SetProperty(std::string_view name, std::string_view value) = 0;
  virtual std::string GetProperty(std::string_view name) = 0;
  virtual const GeneralUtilityLib::Status& GetStatus() = 0;
};

}  // namespace Korvane::Pictora::Global
