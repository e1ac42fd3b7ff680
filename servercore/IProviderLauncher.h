// Starts and stops a configured service provider by the means the operator chose on the
// server's machine. The administration asks; the host implements it (it runs programs).
// Implementations never throw and may block up to their own time limit.
#pragma once

#include <string>

namespace Korvane::Pictora::ServerCore {

// The provider as its configuration file names it.
struct ProviderAddress {
  std::string name;
  std::string host;
  std::string endpoint;
};

enum class LaunchResult {
  kNoMeans,  // the operator named no way of doing it
  kDone,
  kFailed,
};

class IProviderLauncher {
 public:
  virtual ~IProviderLauncher() = default;
  // On kFailed, failure says what was tried and what came of it.
  virtual LaunchResult Start(const ProviderAddress& provider, std::string& failure) = 0;
  virtual LaunchResult Stop(const ProviderAddress& provider, std::string& failure) = 0;
};

}  // namespace Korvane::Pictora::ServerCore
