// The texts a registry change is refused with.
#pragma once

#include <string>

#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {

inline std::string AlreadyRegisteredMessage(const std::string& name) {
  return GeneralUtilityLib::Format("ServiceProvider '%s' already registered", name.c_str());
}
inline std::string UpdateUnknownMessage(const std::string& name) {
  return GeneralUtilityLib::Format(
      "Could not update ServiceProvider info; ServiceProvider '%s' is not registered on this Server.", name.c_str());
}
inline std::string RemoveUnknownMessage(const std::string& name) {
  return GeneralUtilityLib::Format(
      "Could not unregister ServiceProvider; ServiceProvider '%s' is not registered on this Server.", name.c_str());
}
inline std::string AddServicesUnknownMessage(const std::string& name) {
  return GeneralUtilityLib::Format(
      "Could not register services of ServiceProvider '%s' as it is not registered on this Server.", name.c_str());
}
inline std::string RemoveServicesUnknownMessage(const std::string& name) {
  return GeneralUtilityLib::Format(
      "Could not unregister services of ServiceProvider '%s' as it is not registered on this Server.", name.c_str());
}

}  // namespace Korvane::Pictora::ServerCore
