// The client side of the runtime: a binding names a server endpoint; Call() runs one remote
// procedure on it. Bound connections are kept in a small process-wide pool keyed by (protocol
// sequence, address, endpoint, interface), so making a binding per call is cheap.
//
// Thread safety: a Binding is a value; Call() may run on many threads at once, on the same or on
// different bindings. The default time-outs are process-wide and atomic.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "dcerpc/Procedure.h"
#include "dcerpc/Status.h"
#include "dcerpc/Uuid.h"

namespace Korvane::Pictora::DceRpc {

struct ClientTimeouts {
  std::chrono::milliseconds connect{3000};
  std::chrono::milliseconds call{10000};
};

// Process-wide defaults for bindings made afterwards (the server configuration sets them).
void SetDefaultClientTimeouts(ClientTimeouts timeouts);
ClientTimeouts DefaultClientTimeouts();

// Drops every pooled idle connection (tests, shutdown).
void ClearClientConnectionPool();
// How many endpoints the pool keeps idle connections for (default 256). A process that calls
// more endpoints than that in turn reconnects for every call beyond them.
void SetClientConnectionPoolKeys(size_t keys);

class Binding {
 public:
  // "ncacn_ip_tcp" with a host name or address and a decimal port, or "ncacn_np" with
  // "\pipe\NAME" (the local pipe socket; the address is ignored). Validate() tells whether these
  // texts make a binding; Call() on an invalid binding throws that status.
  Binding(std::string protocolSequence, std::string networkAddress, std::string endpoint);

  // 0 when usable; 1704 unknown / 1703 unsupported protocol sequence, 1706 bad endpoint,
  // 1707 empty network address.
  uint32_t Validate() const;

  void SetTimeouts(ClientTimeouts timeouts) { timeouts_ = timeouts; }
  const ClientTimeouts& Timeouts() const { return timeouts_; }
  // TCP: the local address to connect from (numeric); empty: the one the route picks.
  void SetSourceAddress(std::string address) { sourceAddress_ = std::move(address); }
  const std::string& SourceAddress() const { return sourceAddress_; }

  // Calls procedure `opnum` of `interface`: encodes the [in] values of `args`, waits for the reply
  // and stores the [out] values and the result in `args`. Throws RpcError with the Windows
  // status: 1722 cannot connect, 1818 time-out, 1726 connection lost after the request went out,
  // 1717/1730 interface or transfer syntax refused, 1723/1728/1727 bind refused, 1783 reply
  // that does not decode, 1728 protocol error, or the status a fault maps to.
  void Call(const SyntaxId& interface, uint16_t opnum, const ProcedureSpec& spec, Arguments& args) const;

  const std::string& ProtocolSequence() const { return protocolSequence_; }
  const std::string& NetworkAddress() const { return networkAddress_; }
  const std::string& Endpoint() const { return endpoint_; }

 private:
  std::string protocolSequence_;
  std::string networkAddress_;
  std::string endpoint_;
  std::string sourceAddress_;
  ClientTimeouts timeouts_;
  size_t maxResponseBytes_ = 64 * 1024 * 1024;
};

}  // namespace Korvane::Pictora::DceRpc
