// Internal: the machinery behind Server. One epoll set holds the listeners and every connection
// (EPOLLONESHOT, so one worker at a time owns a connection). Worker threads all wait on the set;
// the one that gets an event reads, runs the call's handler inline and writes the reply, then
// re-arms the connection: no hand-off between threads. After a call it waits a moment on the same
// socket for the caller's next request before handing the connection back to epoll, which spares
// back-to-back callers a round through epoll and a wake-up. A worker about to run a handler starts a
// new worker when none is left waiting, up to the call limit plus a few for I/O; workers idle
// for a while retire. A sweeper thread closes connections stuck in a half-received PDU.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "dcerpc/InterfaceRegistry.h"
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
  void AcceptConnections(Endpoint& endpoint);
  bool ShedConnection(Endpoint& endpoint);
  void AddConnection(UniqueFd fd, Endpoint& endpoint);
  void ServeConnection(Connection& connection);
  bool ReadAndDrive(Connection& connection);
  bool WaitReadable(Connection& connection);
  bool DriveConnection(Connection& connection, std::vector<uint8_t>& out);
  void RunCall(Connection& connection, std::vector<uint8_t>& out);
  bool Flush(Connection& connection, std::vector<uint8_t>& out);
  void Rearm(Pollable& pollable, int fd);
  void CloseConnection(Connection& connection);
  void SweepLoop();
  void WaitForCalls();
  void StopEngine();

  const ServerOptions options_;
  const size_t maxThreads_;
  InterfaceRegistry registry_;
  std::atomic<uint32_t> assocGroupCounter_{0};
  ReassemblyBudget reassemblyBudget_;

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

  std::atomic<size_t> idleWorkers_{0};
  std::atomic<size_t> callsInProgress_{0};
  std::mutex threadMutex_;
  std::condition_variable threadsChanged_;
  size_t threads_ = 0;  // guarded by threadMutex_

  std::mutex connectionsMutex_;
  std::unordered_map<Connection*, std::unique_ptr<Connection>> connections_;  // guarded

  std::mutex sweepMutex_;
  std::condition_variable sweepWake_;
  std::thread sweeper_;
};

}  // namespace Korvane::Pictora::DceRpc
