// Internal: the machinery behind Server. One epoll set holds the listeners and every connection
// (EPOLLONESHOT, so one worker at a time owns a connection). Worker threads all wait on the set;
// the one that gets an event reads, runs the call's handler inline and writes the reply: no
// hand-off between threads. While its caller is busy the worker keeps the connection, as a
// thread-per-connection server would: sockets are blocking with a receive time-out of the linger
// time, so waiting for and reading the next request is one recv. Only after an idle spell (or
// with a PDU half received) does the connection go back to epoll, so idle connections cost no
// thread. A worker about to run a handler or to linger starts a new worker when none is left
// waiting on epoll, up to the call limit plus the lingering ones plus a few for I/O; workers idle
// for a while retire. A sweeper thread closes connections stuck in a half-received PDU.
// Memory held for peers is bounded server-wide and per peer (PeerTable), and at the connection
// limit the longest-idle connections make room for new ones.
#pragma once

#include <atomic>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "dcerpc/ByteBudget.h"
#include "dcerpc/InterfaceRegistry.h"
#include "dcerpc/Mutex.h"
#include "dcerpc/PeerTable.h"
#include "dcerpc/Server.h"
#include "dcerpc/ServerConnection.h"
#include "dcerpc/Socket.h"

namespace Korvane::Pictora::DceRpc {

class ServerRuntime {
 public:
  explicit ServerRuntime(ServerOptions options);
  ~ServerRuntime();

  bool RegisterInterface(InterfaceDefinition definition) { return registry_.Add(std::move(definition)); }
  RpcStatus Listen(std::string_view protocolSequence, std::string_view endpoint) EXCLUDES(controlMutex_);
  bool StopListening() EXCLUDES(controlMutex_);
  bool IsListening() const { return listening_.load(); }
  uint16_t TcpPort() const { return tcpPort_.load(); }
  size_t BufferedBytes() const { return requestBudget_.Used() + replyBudget_.Used(); }

 private:
  struct Pollable;
  struct Endpoint;
  struct Connection;

  RpcStatus StartEngine() REQUIRES(controlMutex_);
  RpcStatus AddEndpoint(std::unique_ptr<Endpoint> endpoint) REQUIRES(controlMutex_);
  bool SpawnWorker() EXCLUDES(threadMutex_);
  static void* WorkerEntry(void* self);
  void WorkerLoop();
  bool RetireWorker() EXCLUDES(threadMutex_);
  void ExitWorker() EXCLUDES(threadMutex_);
  enum class Progress { kIdle, kServed, kClosed };

  void AcceptConnections(Endpoint& endpoint);
  bool ShedConnection(Endpoint& endpoint) EXCLUDES(reserveMutex_);
  void AddConnection(UniqueFd fd, Endpoint& endpoint) EXCLUDES(connectionsMutex_);
  bool EvictIdleConnections() REQUIRES(connectionsMutex_);
  void ServeConnection(Connection& connection);
  bool StartLingering();
  Progress ReadAndDrive(Connection& connection, int firstReadFlags);
  bool DriveConnection(Connection& connection, std::vector<uint8_t>& out);
  bool RunCall(Connection& connection, std::vector<uint8_t>& out);
  bool WriteReply(Connection& connection, std::span<const uint8_t> stub, std::vector<uint8_t>& out);
  bool Flush(Connection& connection, std::vector<uint8_t>& out);
  void Rearm(Pollable& pollable, int fd);
  void CloseConnection(Connection& connection) EXCLUDES(connectionsMutex_);
  void SweepLoop() EXCLUDES(sweepMutex_, connectionsMutex_);
  void WaitForCalls();
  void StopEngine() REQUIRES(controlMutex_);

  // A connection in the table, and whether it was shut down to make room.
  struct Tracked {
    std::unique_ptr<Connection> connection;
    bool evicted = false;  // counted in evicting_ until its owner closes it
  };

  const ServerOptions options_;
  const size_t maxLingering_;
  const size_t maxThreads_;
  InterfaceRegistry registry_;
  std::atomic<uint32_t> assocGroupCounter_{0};
  ByteBudget requestBudget_;
  ByteBudget replyBudget_;
  PeerTable peers_;

  // Lock order: a mutex may be taken while holding only those listed before it.
  //   controlMutex_      Listen and StopListening; starting and stopping take the others
  //   sweepMutex_        the sweeper holds it while it scans the connection table
  //   connectionsMutex_  dropping a connection under it gives up its peer seat: PeerTable's mutex
  //   threadMutex_
  //   reserveMutex_
  // A connection's serveMutex is held while its calls run, and so comes before threadMutex_
  // (a worker is started for the others), the interface registry's mutex (binds look up
  // interfaces) and whatever the handlers take; it is never taken under any of the above.
  Mutex controlMutex_;
  std::atomic<bool> listening_{false};
  std::atomic<bool> draining_{false};  // StopListening has begun: no new calls
  std::atomic<bool> stopping_{false};
  std::atomic<uint16_t> tcpPort_{0};
  // Set up by StartEngine before the first worker starts and torn down by StopEngine after the
  // last one ended; in between, workers only read them.
  UniqueFd epoll_;
  UniqueFd wakeFd_;
  std::unique_ptr<Pollable> wakePollable_;
  std::vector<std::unique_ptr<Endpoint>> endpoints_ GUARDED_BY(controlMutex_);
  std::thread sweeper_ GUARDED_BY(controlMutex_);

  Mutex sweepMutex_ ACQUIRED_AFTER(controlMutex_);
  CondVar sweepWake_;

  Mutex connectionsMutex_ ACQUIRED_AFTER(sweepMutex_);
  std::unordered_map<Connection*, Tracked> connections_ GUARDED_BY(connectionsMutex_);
  size_t evicting_ GUARDED_BY(connectionsMutex_) = 0;  // shut down to make room, not yet closed by their owners

  std::atomic<size_t> idleWorkers_{0};  // waiting on epoll
  std::atomic<size_t> lingering_{0};    // waiting on one connection for its next call
  std::atomic<size_t> callsInProgress_{0};
  Mutex threadMutex_ ACQUIRED_AFTER(connectionsMutex_);
  CondVar threadsChanged_;
  size_t threads_ GUARDED_BY(threadMutex_) = 0;

  Mutex reserveMutex_ ACQUIRED_AFTER(threadMutex_);
  UniqueFd reserveFd_ GUARDED_BY(reserveMutex_);  // given up to shed connections when out of descriptors
};

}  // namespace Korvane::Pictora::DceRpc
