#include "host/CommandLine.h"

#include <strings.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "servercore/IServer.h"

namespace Korvane::Pictora::Host {

namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  pictora-server -console [extraAllowList] [endpoint]   in the foreground until q, Ctrl-C,\n"
    "                                                        SIGTERM or a remote stop request\n"
    "  pictora-server <extraAllowList> [endpoint]            as the systemd service\n"
    "                                                        korvane-pictora.service\n"
    "  pictora-server -uninstall                             stop, disable and remove every\n"
    "                                                        Korvane Pictora systemd unit\n"
    "  pictora-server --check-config                         check the installation key and the\n"
    "                                                        files of the Server folder; exit 1\n"
    "                                                        on any problem\n"
    "The mode words take one or two dashes, in any letter case. An empty or missing endpoint\n"
    "means the configured one; a number is a TCP port.\n";

// CLI11 lists options and subcommands itself; the mode words are not CLI11 subcommands to a
// person, so the usage names the three forms instead.
class ServerUsage : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override { return kUsage; }
};

// The release and the two other versions an operator meets, and where each comes from.
std::string VersionText() {
  return std::string("pictora-server ") + PICTORA_VERSION +
         "\n"
         "  " PICTORA_VERSION " is the product's release (this program and its package).\n"
         "  " +
         ServerCore::kServerInterfaceVersion +
         " is the interface version: what procedure 0 (GetVersion, `pictora-cli version`)\n"
         "  answers, the revision of the RPC interface clients are built against.\n"
         "  The reports (`pictora-cli info`) show the installed version: the installation key's Version.\n";
}

bool IsOption(const std::string& word, const char* name) {
  const std::string single = std::string("-") + name;
  const std::string dashed = std::string("--") + name;
  return strcasecmp(word.c_str(), single.c_str()) == 0 || strcasecmp(word.c_str(), dashed.c_str()) == 0;
}

// Words 1.. as CLI11 reads them: a mode word becomes its (hidden) subcommand and everything after
// it is positional, even when it starts with a dash; help and version stay as they are.
std::vector<std::string> CliWords(const std::vector<std::string>& words) {
  const std::string& first = words[1];
  if (first == "-h" || first == "--help" || first == "--version") return {words.begin() + 1, words.end()};
  std::vector<std::string> cli;
  size_t rest = 2;
  if (IsOption(first, "console")) {
    cli.push_back("console");
  } else if (IsOption(first, "uninstall")) {
    cli.push_back("uninstall");
  } else if (IsOption(first, "check-config")) {
    cli.push_back("check-config");
  } else {
    cli.push_back("service");
    rest = 1;
  }
  cli.push_back("--");
  cli.insert(cli.end(), words.begin() + static_cast<std::ptrdiff_t>(rest), words.end());
  return cli;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
  CommandLine line;
  if (words.size() < 2) return line;

  CLI::App app("The Korvane Pictora Server: service providers register with it, clients ask it\n"
               "which providers run a service.",
               "pictora-server");
  app.formatter(std::make_shared<ServerUsage>());
  app.set_version_flag("--version", VersionText());
  app.allow_extras();
  app.require_subcommand(0, 1);
  auto addMode = [&](const char* name, RunMode mode, bool takesWords) {
    CLI::App* sub = app.add_subcommand(name)->group("")->allow_extras();
    if (takesWords) {
      sub->add_option("extraAllowList", line.extraAllowList);
      sub->add_option("endpoint", line.endpoint);
    }
    sub->final_callback([&line, mode] { line.mode = mode; });
  };
  addMode("console", RunMode::kConsole, true);
  addMode("uninstall", RunMode::kUninstall, false);
  addMode("check-config", RunMode::kCheckConfig, false);
  addMode("service", RunMode::kService, true);

  std::vector<std::string> reversed = CliWords(words);
  std::reverse(reversed.begin(), reversed.end());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    line = CommandLine{};
    line.exitStatus = app.exit(error, out, err);
  }
  return line;
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  std::vector<std::string> words;
  for (int i = 0; i < argc; ++i) words.emplace_back(argv[i] != nullptr ? argv[i] : "");
  return ParseCommandLine(words, std::cout, std::cerr);
}

}  // namespace Korvane::Pictora::Host
