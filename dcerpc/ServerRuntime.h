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
#include <condition_variable>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "dcerpc/ByteBudget.h"
#include "dcerpc/InterfaceRegistry.h"
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
  RpcStatus Listen(std::string_view protocolSequence, std::string_view endpoint);
  bool StopListening();
  bool IsListening() const { return listening_.load(); }
  uint16_t TcpPort() const { return tcpPort_.load(); }
  size_t BufferedBytes() const { return requestBudget_.Used() + replyBudget_.Used(); }

 private:
  struct Pollable;
  struct Endpoint;
  struct Connection;

  RpcStatus StartEngine();
  RpcStatus AddEndpoint(std::unique_ptr<Endpoint> endpoint);
  bool SpawnWorker();
  static void* WorkerEntry(void* self);
  void WorkerLoop();
  bool RetireWorker();
  void ExitWorker();
  enum class Progress { kIdle, kServed, kClosed };

  void AcceptConnections(Endpoint& endpoint);
  bool ShedConnection(Endpoint& endpoint);
  void AddConnection(UniqueFd fd, Endpoint& endpoint);
  bool EvictIdleConnections();
  void ServeConnection(Connection& connection);
  bool StartLingering();
  Progress ReadAndDrive(Connection& connection, int firstReadFlags);
  bool DriveConnection(Connection& connection, std::vector<uint8_t>& out);
  bool RunCall(Connection& connection, std::vector<uint8_t>& out);
  bool WriteReply(Connection& connection, std::span<const uint8_t> stub, std::vector<uint8_t>& out);
  bool Flush(Connection& connection, std::vector<uint8_t>& out);
  void Rearm(Pollable& pollable, int fd);
  void CloseConnection(Connection& connection);
  void SweepLoop();
  void WaitForCalls();
  void StopEngine();

  const ServerOptions options_;
  const size_t maxLingering_;
  const size_t maxThreads_;
  InterfaceRegistry registry_;
  std::atomic<uint32_t> assocGroupCounter_{0};
  ByteBudget requestBudget_;
  ByteBudget replyBudget_;
  PeerTable peers_;

  std::mutex controlMutex_;  // serialises Listen and StopListening
  std::atomic<bool> listening_{false};
  std::atomic<bool> draining_{false};  // StopListening has begun: no new calls
  std::atomic<bool> stopping_{false};
  std::atomic<uint16_t> tcpPort_{0};
  UniqueFd epoll_;
  UniqueFd wakeFd_;
  std::unique_ptr<Pollable> wakePollable_;
  std::vector<std::unique_ptr<Endpoint>> endpoints_;  // changed only under controlMutex_ with no workers

  std::mutex reserveMutex_;
  UniqueFd reserveFd_;  // guarded by reserveMutex_; given up to shed connections when out of descriptors

  std::atomic<size_t> idleWorkers_{0};  // waiting on epoll
  std::atomic<size_t> lingering_{0};    // waiting on one connection for its next call
  std::atomic<size_t> callsInProgress_{0};
  std::mutex threadMutex_;
  std::condition_variable threadsChanged_;
  size_t threads_ = 0;  // guarded by threadMutex_

  std::mutex connectionsMutex_;
  std::unordered_map<Connection*, std::unique_ptr<Connection>> connections_;  // guarded
  size_t evicting_ = 0;  // guarded; shut down to make room, not yet closed by their owners

  std::mutex sweepMutex_;
  std::condition_variable sweepWake_;
  std::thread sweeper_;
};

}  // namespace Korvane::Pictora::DceRpc
