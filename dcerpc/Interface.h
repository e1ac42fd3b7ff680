// What a server registers: an interface (UUID + version) with a table opnum -> procedure, where a
// procedure is its parameter description plus the handler that implements it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
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
  std::string localEndpoint;     // the endpoint the call came in on: TCP port text or \pipe\NAME
  bool hasCredentials = false;   // true on the pipe socket
  uid_t uid = static_cast<uid_t>(-1);
  gid_t gid = static_cast<gid_t>(-1);
  std::vector<gid_t> groups;     // supplementary groups of uid, gid included
};

// Runs a call. Reads the [in] values from `args` and leaves the [out] values and the result in
// it. May block; runs on one of the server's worker threads, many at once. An exception becomes
// a failed call for the caller (the connection and the process carry on): a CallRefused carries
// the fault status the caller sees, any other exception is an unspecified fault.
using Handler = std::function<void(const CallContext& context, Arguments& args)>;

// Thrown by a handler to fail its call with a chosen fault status, as a Windows server raises
// an exception with a status number (access denied, say) for its caller to see.
class CallRefused : public std::runtime_error {
 public:
  explicit CallRefused(uint32_t faultStatus)
      : std::runtime_error("call refused with status " + std::to_string(faultStatus)), faultStatus_(faultStatus) {}
  uint32_t faultStatus() const { return faultStatus_; }

 private:
  uint32_t faultStatus_;
};

struct Procedure {
  ProcedureSpec spec;
  Handler handler;
};

struct InterfaceDefinition {
  SyntaxId id;
  std::map<uint16_t, Procedure> procedures;  // opnums missing here are answered as out of range
};

}  // namespace Korvane::Pictora::DceRpc
