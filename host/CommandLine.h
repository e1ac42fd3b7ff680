// The server's command line. Word 0 is the program; word 1, compared ignoring case and with one
// or two dashes, picks the mode:
//   (none)                                        nothing to do
//   -console [extraAllowList] [endpoint]          console mode
//   -uninstall                                    uninstall
//   --check-config                                check the configuration files, start nothing
//   -h | --help | --version                       the help or version text, nothing else
//   anything else                                 service mode: word 1 is the extra allow-list
//                                                 text, word 2 the endpoint
// Words beyond those a mode reads are ignored. An empty endpoint means the configured one.
//
// The mode words are single-dash long words, which CLI11 does not read, so word 1 is classified
// here first and the rest is parsed by CLI11, which also writes help, version and usage errors.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace Korvane::Pictora::Host {

enum class RunMode { kNothing, kConsole, kUninstall, kCheckConfig, kService };

struct CommandLine {
  RunMode mode = RunMode::kNothing;
  std::string extraAllowList;
  std::string endpoint;
  int exitStatus = 0;  // for kNothing: the process's exit status
};

// Help and version go to `out`, usage errors to `err`.
CommandLine ParseCommandLine(const std::vector<std::string>& words, std::ostream& out, std::ostream& err);
CommandLine ParseCommandLine(int argc, const char* const* argv);

}  // namespace Korvane::Pictora::Host
