// pictora-server -uninstall: stops, disables and removes every unit whose description begins,
// ignoring case, with "Korvane Pictora", then makes the manager reload. A unit that cannot be
// stopped is left as it is (disabled or removed under a running process, it could no longer be
// managed); the others are still removed.
//
// Not thread-safe: one run at a time.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "host/UnitManager.h"

namespace Korvane::Pictora::Host {

bool IsProductUnitDescription(const std::string& description);

struct UninstallResult {
  std::vector<std::string> failures;  // "unit: reason", or the reason the run could not start

  // What went wrong, in the system's words; empty when nothing did.
  std::string Message() const;
};

// How long a unit's stop may take and how often its state is looked at meanwhile.
struct StopWait {
  std::chrono::milliseconds timeout{std::chrono::seconds(90)};
  std::chrono::milliseconds poll{100};
};

class Uninstaller {
 public:
  explicit Uninstaller(IUnitManager& units, StopWait stopWait = StopWait()) : units_(units), stopWait_(stopWait) {}

  UninstallResult Run();

 private:
  void RemoveUnit(const std::string& unit);
  void WaitUntilStopped(const std::string& unit);

  IUnitManager& units_;
  const StopWait stopWait_;
};

}  // namespace Korvane::Pictora::Host
