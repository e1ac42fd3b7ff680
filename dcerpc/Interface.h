// What a server registers: an interface (UUID + version) with a table opnum -> procedure, where a
// procedure is its parameter description plus the handler that implements it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dcerpc/Procedure.h"
#include "dcerpc/Uuid.h"

namespace Korvane::Pictora::DceRpc {

enum class Transport { kTcp, kPipe };

// Who is calling. Over the local pipe socket the peer's credentials are known; over TCP only its
// address.
struct CallContext {
  Transport transport = Transport::kTcp;
  std::string peerAddress;       // numeric host text (TCP) or the socket path (pipe)
  bool hasCredentials = false;   // true on the pipe socket
  uid_t uid = static_cast<uid_t>(-1);
  gid_t gid = static_cast<gid_t>(-1);
  std::vector<gid_t> groups;     // supplementary groups of uid, gid included
};

// Runs a call. Reads the [in] values from `args` and leaves the [out] values and the result in
// it. May block; runs on one of the server's worker threads, many at once. An exception becomes
// a failed call for the caller (the connection and the process carry on).
using Handler = std::function<void(const CallContext& context, Arguments& args)>;

struct Procedure {
  ProcedureSpec spec;
  Handler handler;
};

struct InterfaceDefinition {
  SyntaxId id;
  std::map<uint16_t, Procedure> procedures;  // opnums missing here are answered as out of range
};

}  // namespace Korvane::Pictora::DceRpc
