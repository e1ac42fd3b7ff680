// The commands of pictora-cli, each writing its answer to `out` and failures to `err` and
// returning the process exit status: kExitOk, or kExitRefused when the server answered with a
// failure (or with an answer that does not parse). Transport failures propagate as
// DceRpc::RpcError; the caller turns them into kExitUnreachable.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "tools/cli/Output.h"
#include "tools/common/ServerClient.h"

namespace Korvane::Pictora::Tools {

enum CliExit : int {
  kExitOk = 0,
  kExitRefused = 1,      // the server answered with a failure
  kExitUsage = 2,        // the command line was wrong (CLI11 says why)
  kExitUnreachable = 3,  // no connection, or the call failed on the way (status 1722, 1818, ...)
};

// Each prints its answer in `format` (Output.h).
int Version(ServerClient& client, OutputFormat format, std::ostream& out, std::ostream& err);
// `kind` is the server's report name: Basic, Detailed or ServerInfoForClient.
int Info(ServerClient& client, const std::string& kind, OutputFormat format, std::ostream& out, std::ostream& err);
// The table shows each provider's load as the provider gives it when asked (procedure 19 of the
// provider's interface, a second at most each and five for all); the server's answer does not
// carry it.
int ProvidersFor(ServerClient& client, const std::string& service, OutputFormat format, std::ostream& out,
                 std::ostream& err);
int Providers(ServerClient& client, OutputFormat format, std::ostream& out, std::ostream& err);
int Services(ServerClient& client, const std::string& provider, OutputFormat format, std::ostream& out,
             std::ostream& err);
int Stop(ServerClient& client, OutputFormat format, std::ostream& out, std::ostream& err);

// Shared by the commands. Writes `what` and the readable failure to `err`; kExitRefused.
int Refuse(std::ostream& err, const std::string& what, const std::string& errorText);
// The reply's text (with a final line break) to `out`, or its failure as Refuse does.
int PrintReply(const BufferReply& reply, const std::string& what, std::ostream& out, std::ostream& err);
// kClient: a session of this tool (4); kManagement: a management session as "ServerManager" (25).
enum class SessionKind { kClient, kManagement };
// Opens a session, runs `body` and closes the session whatever happened; body's exit status.
int WithSession(ServerClient& client, SessionKind kind, std::ostream& err, const std::function<int()>& body);

// A failure text for people: status XML becomes its readable lines, other text stays as it is.
std::string ReadableFailure(const std::string& errorText);

// The load a provider gives when asked, as text ("-" when it does not answer).
using LoadOf = std::function<std::string(const std::string& host, const std::string& endpoint)>;
// The providers-for answer as a table in the server's order (least loaded first), with a LOAD
// column when `loadOf` is given; empty text when the answer does not parse.
std::string ProvidersTable(const std::string& answerXml, const LoadOf& loadOf);

}  // namespace Korvane::Pictora::Tools
