#include "host/Uninstaller.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <thread>

namespace Korvane::Pictora::Host {

namespace {

constexpr std::string_view kProductPrefix = "Korvane Pictora";

void RemoveFile(const std::string& path) {
  if (path.empty() || ::unlink(path.c_str()) == 0 || errno == ENOENT) return;
  throw UnitManagerError("cannot remove " + path + ": " + std::strerror(errno));
}

}  // namespace

bool IsProductUnitDescription(const std::string& description) {
  return description.size() >= kProductPrefix.size() &&
         strncasecmp(description.c_str(), kProductPrefix.data(), kProductPrefix.size()) == 0;
}

std::string UninstallResult::Message() const {
  std::string message;
  for (const std::string& failure : failures) message += (message.empty() ? "" : "; ") + failure;
  return message;
}

UninstallResult Uninstaller::Run() {
  UninstallResult result;
  bool found = false;
  std::vector<std::string> names;
  try {
    names = units_.UnitNames();
  } catch (const UnitManagerError& error) {
    result.failures.push_back(std::string("cannot list the units: ") + error.what());
    return result;
  }
  for (const std::string& name : names) {
    std::string description;
    try {
      description = units_.Description(name);
    } catch (const UnitManagerError&) {
      continue;  // a unit the manager cannot load is nobody's to remove here
    }
    if (!IsProductUnitDescription(description)) continue;
    found = true;
    try {
      RemoveUnit(name);
    } catch (const UnitManagerError& error) {
      result.failures.push_back(name + ": " + error.what());
    }
  }
  if (!found) return result;
  try {
    units_.Reload();
  } catch (const UnitManagerError& error) {
    result.failures.push_back(std::string("reload: ") + error.what());
  }
  return result;
}

void Uninstaller::RemoveUnit(const std::string& unit) {
  // Read before the unit is disabled: a reload forgets where an unloaded unit came from.
  const std::string file = units_.FragmentPath(unit);
  units_.Stop(unit);
  WaitUntilStopped(unit);
  units_.Disable(unit);
  RemoveFile(file);
}

void Uninstaller::WaitUntilStopped(const std::string& unit) {
  const auto deadline = std::chrono::steady_clock::now() + stopWait_.timeout;
  for (;;) {
    const std::string state = units_.ActiveState(unit);
    if (state == "inactive" || state == "failed") return;
    if (std::chrono::steady_clock::now() >= deadline)
      throw UnitManagerError("still " + state + " after " + std::to_string(stopWait_.timeout.count()) + " ms");
    std::this_thread::sleep_for(stopWait_.poll);
  }
}

}  // namespace Korvane::Pictora::Host
