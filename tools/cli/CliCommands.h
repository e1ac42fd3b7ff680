// The commands of pictora-cli, each writing its answer to `out` and failures to `err`.
// Each returns the process exit status: 0 done, 1 the server refused or could not be reached.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/common/ServerClient.h"

namespace Korvane::Pictora::Tools {

// A failure text for people: status XML becomes its readable lines, other text stays as it is.
std::string ReadableFailure(const std::string& errorText);

// The providers-for answer as a table, least loaded first (the server's order); empty text when
// the answer does not parse.
std::string ProvidersTable(const std::string& answerXml);

// Runs `words` (the command and its arguments). Exit status 2 for a command it does not know.
int RunCliCommand(ServerClient& client, const std::vector<std::string>& words, std::ostream& out,
                  std::ostream& err);

extern const char* const kCliUsage;

}  // namespace Korvane::Pictora::Tools
