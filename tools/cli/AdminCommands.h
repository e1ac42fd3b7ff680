// The `admin` group of pictora-cli: every management procedure (27-45) as a command. A command
// runs in a management session of its own, opened (25) before and closed (26) after it, so the
// server's list of sessions never keeps one of ours.
//
// Parsing only records what to ask (AdminRequest); RunAdmin asks it.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "global/ConfigurationCheck.h"
#include "tools/cli/Output.h"
#include "tools/common/ServerClient.h"

namespace CLI {
class App;
}

namespace Korvane::Pictora::Tools {

struct AdminRequest {
  uint16_t opnum = 0;
  std::vector<std::string> texts;  // the procedure's texts after the session, in wire order
  std::string documentFile;        // when set, its content ("-": standard input) is the last text
  bool xml = false;                // --xml: the answer printed as the server's document whatever --output says
  std::string done;                // printed when a procedure without an answer succeeds
  // The kind of document the request sends, checked as the server's start-up checks its files.
  std::optional<Global::DocumentKind> documentKind = std::nullopt;
};

// Adds `admin` and its commands to `app`; the chosen command's request lands in `request`.
void AddAdminCommands(CLI::App& app, std::optional<AdminRequest>& request);

// Reads the document the request names into its last text, once, before any server is asked:
// stdin cannot be read again when the command moves on to another server. False, and why on
// `err`, when the document cannot be read or has problems (ConfigurationCheck.h): a document
// the server would take but not use as meant is not sent.
bool LoadAdminDocument(AdminRequest& request, std::istream& in, std::ostream& err);

// Asks `request` (its document loaded) in a management session of its own; the exit status
// (CliExit).
int RunAdmin(ServerClient& client, const AdminRequest& request, OutputFormat format, std::ostream& out,
             std::ostream& err);

}  // namespace Korvane::Pictora::Tools
