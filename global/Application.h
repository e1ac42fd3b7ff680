// The application object: the process's view of its installation folders.
#pragma once

#include <string>

namespace Korvane::Pictora::Global {

class IApplication {
 public:
  virtual ~IApplication() = default;
  virtual std::string Name() const = 0;
  virtual std::string Version() const = 0;
  // The installation folder of that number (see Installation.h), ending in "/".
  virtual bool GetFolder(std::string& folder, int selector) const = 0;
};

IApplication* GetApplicationObject();

}  // namespace Korvane::Pictora::Global
