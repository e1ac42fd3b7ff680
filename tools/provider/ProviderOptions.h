// The command line of pictora-provider (CLI11).
#pragma once

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace Korvane::Pictora::Tools {

struct ProviderOptions {
  std::string name = "StandInProvider";
  std::vector<std::string> servers;     // "host:port" each, one cluster, tried in this order;
                                        // empty: serve only, register nowhere
  std::string hostMachine;              // what the server binds to; default: this machine's name
  int port = 0;                         // 0: any free port
  std::string sourceAddress;            // local address of the calls to the server; empty: any
  std::optional<double> load;           // fixed load; unset: computed from recent activity
  std::vector<std::string> services;    // registered in addition to those the server names
  bool refusePing = false;              // answer the ping with a fault
  bool silent = false;                  // accept calls but never answer them
  std::chrono::microseconds answerDelay{0};
  std::chrono::milliseconds updatePeriod{10000};
  std::chrono::milliseconds reregisterMin{1000};
  std::chrono::milliseconds reregisterMax{10000};
};

// Exit status after a command line that is wrong.
inline constexpr int kProviderUsageExit = 2;

// Parses `words` (without the program name). Nullopt when there is nothing to run: help or
// version was printed to `out` (exitStatus 0) or a usage error to `err` (kProviderUsageExit).
std::optional<ProviderOptions> ParseProviderOptions(const std::vector<std::string>& words, std::ostream& out,
                                                    std::ostream& err, int& exitStatus);

}  // namespace Korvane::Pictora::Tools
