#include "host/SystemdBusUnits.h"

#include <systemd/sd-bus.h>

#include <cstdlib>
#include <cstring>
#include <set>

namespace Korvane::Pictora::Host {

namespace {

constexpr const char* kDestination = "org.freedesktop.systemd1";
constexpr const char* kManagerPath = "/org/freedesktop/systemd1";
constexpr const char* kManager = "org.freedesktop.systemd1.Manager";
constexpr const char* kUnit = "org.freedesktop.systemd1.Unit";

// sd_bus_error freed on every path.
class BusError {
 public:
  BusError() = default;
  ~BusError() { sd_bus_error_free(&error_); }
  BusError(const BusError&) = delete;
  BusError& operator=(const BusError&) = delete;

  sd_bus_error* get() { return &error_; }
  // Throws when `result` is a failure, with the manager's message where it sent one.
  void Check(int result, const std::string& what) {
    if (result >= 0) return;
    const char* reason = sd_bus_error_is_set(&error_) && error_.message != nullptr ? error_.message
                                                                                  : std::strerror(-result);
    throw UnitManagerError(what + ": " + reason);
  }

 private:
  sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

void CheckRead(int result, const char* what) {
  if (result < 0) throw UnitManagerError(std::string("unreadable reply to ") + what + ": " + std::strerror(-result));
}

bool IsTemplate(const std::string& unit) {
  const size_t at = unit.find('@');
  return at != std::string::npos && at + 1 < unit.size() && unit[at + 1] == '.';
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void SystemdBusUnits::BusUnref::operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }

SystemdBusUnits::SystemdBusUnits() {
  sd_bus* bus = nullptr;
  const int result = sd_bus_open_system(&bus);
  if (result < 0) {
    throw UnitManagerError(std::string("cannot connect to the system bus: ") + std::strerror(-result));
  }
  bus_.reset(bus);
}

SystemdBusUnits::~SystemdBusUnits() = default;

std::vector<std::string> SystemdBusUnits::UnitNames() {
  std::set<std::string> names;
  {
    BusError error;
    sd_bus_message* raw = nullptr;
    error.Check(sd_bus_call_method(bus_.get(), kDestination, kManagerPath, kManager, "ListUnits", error.get(), &raw, ""),
                "ListUnits");
    Message reply(raw);
    CheckRead(sd_bus_message_enter_container(reply.get(), SD_BUS_TYPE_ARRAY, "(ssssssouso)"), "ListUnits");
    const char *name, *description, *load, *active, *sub, *following, *path, *jobType, *jobPath;
    uint32_t jobId;
    int read;
    while ((read = sd_bus_message_read(reply.get(), "(ssssssouso)", &name, &description, &load, &active, &sub,
                                       &following, &path, &jobId, &jobType, &jobPath)) > 0) {
      names.insert(name);
      listedDescriptions_[name] = description;
      objectPaths_[name] = path;
    }
    CheckRead(read, "ListUnits");
  }
  {
    BusError error;
    sd_bus_message* raw = nullptr;
    error.Check(
        sd_bus_call_method(bus_.get(), kDestination, kManagerPath, kManager, "ListUnitFiles", error.get(), &raw, ""),
        "ListUnitFiles");
    Message reply(raw);
    CheckRead(sd_bus_message_enter_container(reply.get(), SD_BUS_TYPE_ARRAY, "(ss)"), "ListUnitFiles");
    const char *path, *state;
    int read;
    while ((read = sd_bus_message_read(reply.get(), "(ss)", &path, &state)) > 0) {
      const std::string name = BaseName(path);
      if (!IsTemplate(name)) names.insert(name);
    }
    CheckRead(read, "ListUnitFiles");
  }
  return {names.begin(), names.end()};
}

std::string SystemdBusUnits::ObjectPath(const std::string& unit) {
  const auto known = objectPaths_.find(unit);
  if (known != objectPaths_.end()) return known->second;
  BusError error;
  sd_bus_message* raw = nullptr;
  error.Check(sd_bus_call_method(bus_.get(), kDestination, kManagerPath, kManager, "LoadUnit", error.get(), &raw,
                                 "s", unit.c_str()),
              "LoadUnit " + unit);
  Message reply(raw);
  const char* path = nullptr;
  CheckRead(sd_bus_message_read(reply.get(), "o", &path), "LoadUnit");
  return objectPaths_[unit] = path;
}

std::string SystemdBusUnits::UnitProperty(const std::string& unit, const char* property) {
  const std::string path = ObjectPath(unit);
  BusError error;
  char* value = nullptr;
  error.Check(sd_bus_get_property_string(bus_.get(), kDestination, path.c_str(), kUnit, property, error.get(), &value),
              std::string("reading ") + property);
  std::string text = value != nullptr ? value : "";
  std::free(value);
  return text;
}

std::string SystemdBusUnits::Description(const std::string& unit) {
  const auto listed = listedDescriptions_.find(unit);
  return listed != listedDescriptions_.end() ? listed->second : UnitProperty(unit, "Description");
}

std::string SystemdBusUnits::FragmentPath(const std::string& unit) { return UnitProperty(unit, "FragmentPath"); }

std::string SystemdBusUnits::ActiveState(const std::string& unit) { return UnitProperty(unit, "ActiveState"); }

void SystemdBusUnits::Stop(const std::string& unit) {
  BusError error;
  error.Check(sd_bus_call_method(bus_.get(), kDestination, kManagerPath, kManager, "StopUnit", error.get(), nullptr,
                                 "ss", unit.c_str(), "replace"),
              "stop");
}

void SystemdBusUnits::Disable(const std::string& unit) {
  BusError error;
  // Unit names, not runtime-only (false).
  error.Check(sd_bus_call_method(bus_.get(), kDestination, kManagerPath, kManager, "DisableUnitFiles", error.get(),
                                 nullptr, "asb", 1, unit.c_str(), 0),
              "disable");
}

void SystemdBusUnits::Reload() {
  BusError error;
  error.Check(
      sd_bus_call_method(bus_.get(), kDestination, kManagerPath, kManager, "Reload", error.get(), nullptr, ""),
      "reload");
}

}  // namespace Korvane::Pictora::Host
