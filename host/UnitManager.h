// What uninstalling needs of the service manager, so that the uninstall logic can run against a
// stand-in. The real one is SystemdBusUnits (systemd's D-Bus API).
//
// Every method throws UnitManagerError with the manager's own reason when a call fails.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace Korvane::Pictora::Host {

class UnitManagerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class IUnitManager {
 public:
  virtual ~IUnitManager() = default;

  // The names of the loaded units and of the installed unit files, each once. Templates
  // ("name@.service") are left out: only their instances can be asked about.
  virtual std::vector<std::string> UnitNames() = 0;
  virtual std::string Description(const std::string& unit) = 0;
  // The unit file the unit was loaded from; empty for a unit without one.
  virtual std::string FragmentPath(const std::string& unit) = 0;
  // "active", "deactivating", "inactive", "failed", ...
  virtual std::string ActiveState(const std::string& unit) = 0;
  // Queues the stop job; the unit may still be deactivating when this returns.
  virtual void Stop(const std::string& unit) = 0;
  virtual void Disable(const std::string& unit) = 0;
  // Makes the manager read the unit files again.
  virtual void Reload() = 0;
};

}  // namespace Korvane::Pictora::Host
