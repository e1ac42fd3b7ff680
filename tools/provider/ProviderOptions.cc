#include "tools/provider/ProviderOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace Korvane::Pictora::Tools {

const char* const kProviderUsage =
    "usage: pictora-provider [--name NAME] [--server HOST:PORT] [--host HOSTMACHINE] [--port PORT]\n"
    "                        [--load LOAD] [--service NAME]... [--update-ms MS]\n"
    "                        [--reregister-delay-ms MIN:MAX] [--refuse-ping] [--silent]\n";

namespace {

bool ParseLong(const std::string& text, long minimum, long maximum, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long parsed = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < minimum || parsed > maximum) return false;
  value = parsed;
  return true;
}

bool ParseLoad(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  double parsed = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

bool ParseRange(const std::string& text, ProviderOptions& options) {
  size_t colon = text.find(':');
  long low = 0;
  long high = 0;
  if (colon == std::string::npos || !ParseLong(text.substr(0, colon), 0, 3600000, low) ||
      !ParseLong(text.substr(colon + 1), low, 3600000, high))
    return false;
  options.reregisterMin = std::chrono::milliseconds(low);
  options.reregisterMax = std::chrono::milliseconds(high);
  return true;
}

// Applies one option that takes a value; false when the value is bad.
bool ApplyValue(const std::string& option, const std::string& value, ProviderOptions& options) {
  long number = 0;
  if (option == "--name") options.name = value;
  else if (option == "--server") options.server = value;
  else if (option == "--host") options.hostMachine = value;
  else if (option == "--service") options.services.push_back(value);
  else if (option == "--port") {
    if (!ParseLong(value, 0, 65535, number)) return false;
    options.port = static_cast<int>(number);
  } else if (option == "--load") {
    double load = 0;
    if (!ParseLoad(value, load)) return false;
    options.load = load;
  } else if (option == "--update-ms") {
    if (!ParseLong(value, 10, 3600000, number)) return false;
    options.updatePeriod = std::chrono::milliseconds(number);
  } else if (option == "--reregister-delay-ms") {
    return ParseRange(value, options);
  } else {
    return false;
  }
  return !value.empty();
}

}  // namespace

std::optional<ProviderOptions> ParseProviderOptions(int argc, char** argv, std::string& error) {
  ProviderOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--refuse-ping") {
      options.refusePing = true;
    } else if (option == "--silent") {
      options.silent = true;
    } else if (i + 1 < argc && ApplyValue(option, argv[i + 1], options)) {
      ++i;
    } else {
      error = "bad or incomplete option: " + option;
      return std::nullopt;
    }
  }
  return options;
}

}  // namespace Korvane::Pictora::Tools
