// The command line of pictora-provider.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace Korvane::Pictora::Tools {

struct ProviderOptions {
  std::string name = "StandInProvider";
  std::string server;                   // "host:port"; empty: serve only, register nowhere
  std::string hostMachine;              // what the server binds to; default: this machine's name
  int port = 0;                         // 0: any free port
  std::optional<double> load;           // fixed load; unset: computed from recent activity
  std::vector<std::string> services;    // registered in addition to those the server names
  bool refusePing = false;              // answer the ping with a fault
  bool silent = false;                  // accept calls but never answer them
  std::chrono::milliseconds updatePeriod{10000};
  std::chrono::milliseconds reregisterMin{1000};
  std::chrono::milliseconds reregisterMax{10000};
};

// Parses argv; on a bad or missing value returns nullopt and sets error.
std::optional<ProviderOptions> ParseProviderOptions(int argc, char** argv, std::string& error);

extern const char* const kProviderUsage;

}  // namespace Korvane::Pictora::Tools
