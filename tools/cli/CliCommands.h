// The commands of pictora-cli, each writing its answer to `out` and failures to `err` and
// returning the process exit status: kExitOk, or kExitRefused when the server answered with a
// failure (or with an answer that does not parse). Transport failures propagate as
// DceRpc::RpcError; the caller turns them into kExitUnreachable.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "tools/common/ServerClient.h"

namespace Korvane::Pictora::Tools {

enum CliExit : int {
  kExitOk = 0,
  kExitRefused = 1,      // the server answered with a failure
  kExitUsage = 2,        // the command line was wrong (CLI11 says why)
  kExitUnreachable = 3,  // no connection, or the call failed on the way (status 1722, 1818, ...)
};

int Version(ServerClient& client, std::ostream& out, std::ostream& err);
// `kind` is the server's report name: Basic, Detailed or ServerInfoForClient.
int Info(ServerClient& client, const std::string& kind, std::ostream& out, std::ostream& err);
int ProvidersFor(ServerClient& client, const std::string& service, bool xml, std::ostream& out, std::ostream& err);
int Providers(ServerClient& client, std::ostream& out, std::ostream& err);
int Services(ServerClient& client, const std::string& provider, std::ostream& out, std::ostream& err);
int Stop(ServerClient& client, std::ostream& out, std::ostream& err);

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

// The providers-for answer as a table, least loaded first (the server's order); empty text when
// the answer does not parse.
std::string ProvidersTable(const std::string& answerXml);

}  // namespace Korvane::Pictora::Tools
