// The command line of pictora-cli (CLI11): where the server is (--server HOST:PORT, several of
// them for the servers of one cluster, or --pipe NAME) and one command as a subcommand: a
// question (AddQueryCommands) or a management command of the `admin` group (AdminCommands.h).
// Parsing picks the command; it runs only once the whole line has parsed, against a client of
// the first server that answers.
#pragma once

#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "tools/cli/Output.h"
#include "tools/common/ServerClient.h"

namespace CLI {
class App;
}

namespace Korvane::Pictora::Tools {

// Runs pictora-cli with `words` (without the program name); the process exit status (CliExit).
// `in` is read only by a command given "-" for a document. `defaultServers` stands for
// --server when the line names neither --server nor --pipe (main passes $PICTORA_SERVER);
// empty: localhost:3982.
int RunCli(const std::vector<std::string>& words, std::istream& in, std::ostream& out, std::ostream& err,
           const std::string& defaultServers = "");

// The command chosen by parsing, run with a client of the server.
using CliAction = std::function<int(ServerClient&)>;

// Adds the commands that ask the server questions (and stop); the chosen one lands in `action`.
// `format` is read when the action runs, after parsing.
void AddQueryCommands(CLI::App& app, CliAction& action, const OutputFormat& format, std::ostream& out,
                      std::ostream& err);

}  // namespace Korvane::Pictora::Tools
