// The server side of the runtime: register interfaces, listen on ncacn_ip_tcp (IPv4 and IPv6)
// and ncacn_np (a Unix stream socket standing in for a named pipe), serve calls on a pool of
// worker threads that grows on demand up to the call limit.
//
// Thread safety: all methods may be called from any thread; Listen/StopListening are meant for
// one controlling thread. Handlers run on the worker threads, many at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "dcerpc/Interface.h"
#include "dcerpc/Status.h"

namespace Korvane::Pictora::DceRpc {

// What a call observer learns when a call that reached a procedure has been answered.
struct CallRecord {
  SyntaxId interface;
  uint16_t opnum = 0;
  std::chrono::nanoseconds elapsed{0};  // from the request's last fragment to the reply handed to the socket
  uint32_t faultStatus = 0;             // 0: answered; else the fault status sent (too busy included)
};
using CallObserver = std::function<void(const CallRecord&)>;

struct ServerOptions {
  size_t maxCalls = 1234;                      // calls in progress at once; beyond: server too busy
  // Connections; at the limit the longest-idle connections (those that never sent a byte
  // included) are closed to make room, and only when every connection is busy is a new one refused.
  size_t maxConnections = 16384;
  size_t maxConnectionsPerPeer = 1024;         // per TCP address, or per uid on the pipe socket; beyond: closed at once
  size_t maxRequestBytes = 4 * 1024 * 1024;    // reassembled request stub; beyond: fault 5 + close
  size_t maxTotalRequestBytes = 256 * 1024 * 1024;    // all connections' reassembly; beyond: too busy + close
  size_t maxRequestBytesPerPeer = 32 * 1024 * 1024;   // one peer's share of that
  size_t maxOutBytes = 16 * 1024 * 1024;       // out-buffer size a caller may ask for
  // Replies being written, sized by what the request's out buffers allow; beyond: too busy, not run.
  size_t maxTotalReplyBytes = 256 * 1024 * 1024;
  size_t maxReplyBytesPerPeer = 64 * 1024 * 1024;
  std::chrono::milliseconds receiveTimeout{30000};  // a half-received PDU or call; then close
  std::chrono::milliseconds sendTimeout{30000};     // a reply the peer does not read; then close
  std::chrono::milliseconds stopWait{10000};        // StopListening waits this long for calls
  std::chrono::milliseconds idleThreadRetire{30000};
  // After a call the worker keeps reading the connection this long for the caller's next call
  // before handing it back to epoll (at least; the kernel rounds up to its clock tick). 0: never.
  std::chrono::microseconds lingerMicros{200};
  size_t minThreads = 2;
  size_t threadStackBytes = 256 * 1024;
  CallObserver callObserver;  // optional; runs on the worker thread after each answered call
};

class ServerRuntime;

class Server {
 public:
  explicit Server(ServerOptions options = {});
  ~Server();  // stops listening
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // False when an interface with the same UUID and major version is registered already, or a
  // procedure's description is inconsistent (an array without a long size parameter).
  bool RegisterInterface(InterfaceDefinition definition);

  // Opens an endpoint and serves it: "ncacn_ip_tcp" with a decimal port ("0": any free port, see
  // TcpPort()), or "ncacn_np" with "\pipe\NAME". Failures: 1703/1704 protocol sequence, 1706
  // endpoint text, 1740 endpoint in use, 5 access denied, 1720 other (text: the OS reason).
  RpcStatus Listen(std::string_view protocolSequence, std::string_view endpoint);

  // Stops accepting, refuses new calls as too busy, waits (bounded by stopWait) for calls in
  // progress, closes every connection and removes the pipe sockets. False when not listening.
  bool StopListening();

  bool IsListening() const;
  // The port of the first TCP endpoint; 0 if there is none.
  uint16_t TcpPort() const;

  // Bytes the server holds at this moment on behalf of its peers: requests being reassembled
  // and replies being written (counted by the out-buffer sizes they were asked for).
  size_t BufferedBytes() const;

 private:
  std::unique_ptr<ServerRuntime> runtime_;
};

}  // namespace Korvane::Pictora::DceRpc
