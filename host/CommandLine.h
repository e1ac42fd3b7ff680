// The process's command line. Word 0 is the program; word 1, compared ignoring case, picks the
// mode:
//   (none)                                   nothing to do
//   -console | --console [allowList] [endpoint]  console mode
//   -uninstall | --uninstall                 uninstall
//   anything else                            service mode: word 1 is the extra allow-list text,
//                                            word 2 the endpoint
// An empty endpoint means the configured one. Plain value type.
#pragma once

#include <string>
#include <vector>

namespace Korvane::Pictora::Host {

enum class RunMode { kNothing, kConsole, kUninstall, kService };

struct CommandLine {
  RunMode mode = RunMode::kNothing;
  std::string extraAllowList;
  std::string endpoint;
};

CommandLine ParseCommandLine(const std::vector<std::string>& words);
CommandLine ParseCommandLine(int argc, const char* const* argv);

}  // namespace Korvane::Pictora::Host
