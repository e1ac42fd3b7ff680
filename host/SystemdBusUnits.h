// The systemd manager over its D-Bus API (org.freedesktop.systemd1) on the system bus, or on
// the bus $DBUS_SYSTEM_BUS_ADDRESS names (how the tests give it a stand-in manager).
//
// Not thread-safe: one connection, used by one thread.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/UnitManager.h"

struct sd_bus;

namespace Korvane::Pictora::Host {

class SystemdBusUnits : public IUnitManager {
 public:
  // Connects; throws UnitManagerError when the bus cannot be reached.
  SystemdBusUnits();
  ~SystemdBusUnits() override;
  SystemdBusUnits(const SystemdBusUnits&) = delete;
  SystemdBusUnits& operator=(const SystemdBusUnits&) = delete;

  std::vector<std::string> UnitNames() override;
  std::string Description(const std::string& unit) override;
  std::string FragmentPath(const std::string& unit) override;
  std::string ActiveState(const std::string& unit) override;
  void Stop(const std::string& unit) override;
  void Disable(const std::string& unit) override;
  void Reload() override;

 private:
  struct BusUnref {
    void operator()(sd_bus* bus) const;
  };

  // The unit's object path (LoadUnit loads a unit that only exists as a file).
  std::string ObjectPath(const std::string& unit);
  std::string UnitProperty(const std::string& unit, const char* property);

  std::unique_ptr<sd_bus, BusUnref> bus_;
  std::map<std::string, std::string> listedDescriptions_;  // of the loaded units, from ListUnits
  std::map<std::string, std::string> objectPaths_;
};

}  // namespace Korvane::Pictora::Host
