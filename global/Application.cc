#include "global/Application.h"

#include "global/Installation.h"

namespace Korvane::Pictora::Global {

namespace {

// Stateless: every answer reads the installation afresh.
class Application : public IApplication {
 public:
  std::string Name() const override { return "Pictora Server"; }
  std::string Version() const override { return InstalledVersion(); }
  bool GetFolder(std::string& folder, int selector) const override {
    folder = InstallationFolder(selector);
    return !folder.empty();
  }
};

}  // namespace

IApplication* GetApplicationObject() {
  static Application application;
  return &application;
}

}  // namespace Korvane::Pictora::Global
