#include "dcerpc/ServerRuntime.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "dcerpc/CallExecutor.h"

namespace Korvane::Pictora::DceRpc {

namespace {

constexpr int kListenBacklog = 1024;
constexpr size_t kExtraIoThreads = 4;
constexpr size_t kMaxLingering = 256;
constexpr size_t kReadChunk = 16 * 1024;  // per worker; a PDU is at most 5840 bytes
constexpr size_t kReplyChunk = 64 * 1024;       // a large reply is written this much at a time
constexpr size_t kKeepBufferBytes = 64 * 1024;  // per-thread buffers larger than this are given back
constexpr int kMaxReadsPerEvent = 16;
constexpr int kMaxAcceptsPerEvent = 64;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kMinStackBytes = 2 * 1024 * 1024;  // sanitizers need far more stack
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr size_t kMinStackBytes = 2 * 1024 * 1024;
#else
constexpr size_t kMinStackBytes = 64 * 1024;
#endif
#else
constexpr size_t kMinStackBytes = 64 * 1024;
#endif

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

// Per-thread buffers reused call after call; a large one is given back once used.
std::vector<uint8_t>& ThreadBuffer(int which) {
  thread_local std::vector<uint8_t> buffers[2];
  return buffers[which];
}
void TrimBuffer(std::vector<uint8_t>& buffer) {
  buffer.clear();
  if (buffer.capacity() > kKeepBufferBytes) std::vector<uint8_t>().swap(buffer);
}

std::string PeerAddressText(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return std::string();
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&address)->sin_addr, text, sizeof text);
    return text;
  }
  const in6_addr& v6 = reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr;
  if (IN6_IS_ADDR_V4MAPPED(&v6)) {
    inet_ntop(AF_INET, &v6.s6_addr[12], text, sizeof text);
  } else {
    inet_ntop(AF_INET6, &v6, text, sizeof text);
  }
  return text;
}

// The peer's uid and gid plus the supplementary groups of that uid.
void ReadPeerCredentials(int fd, CallContext& context) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return;
  context.hasCredentials = true;
  context.uid = credentials.uid;
  context.gid = credentials.gid;
  context.groups = {credentials.gid};
  std::vector<char> buffer(16384);
  passwd entry;
  passwd* found = nullptr;
  if (getpwuid_r(credentials.uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return;
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (getgrouplist(found->pw_name, credentials.gid, groups.data(), &count) < 0 && count > 64) {
    groups.resize(static_cast<size_t>(count));
    if (getgrouplist(found->pw_name, credentials.gid, groups.data(), &count) < 0) return;
  }
  groups.resize(static_cast<size_t>(std::max(count, 0)));
  context.groups = std::move(groups);
}

}  // namespace

struct ServerRuntime::Pollable {
  enum class Kind { kWake, kEndpoint, kConnection };
  explicit Pollable(Kind k) : kind(k) {}
  Kind kind;
};

struct ServerRuntime::Endpoint : Pollable {
  Endpoint() : Pollable(Kind::kEndpoint) {}
  UniqueFd fd;
  Transport transport = Transport::kTcp;
  std::string secondaryAddress;
  std::string socketPath;  // pipe only: removed on stop
};

struct ServerRuntime::Connection : Pollable {
  Connection(const InterfaceRegistry& registry, ConnectionConfig config, PeerSeat seat)
      : Pollable(Kind::kConnection), peer(std::move(seat)), machine(registry, std::move(config)) {}
  Mutex serveMutex;  // held by the worker that owns the connection (see ServeConnection)
  UniqueFd fd;
  PeerSeat peer;  // outlives the machine, which gives its reassembly bytes back to the peer's share
  ServerConnection machine;
  CallContext context;
  std::atomic<bool> busy{false};
  std::atomic<int64_t> partialSinceMs{0};  // 0: nothing half-received
  std::atomic<int64_t> idleSinceMs{0};
};

ServerRuntime::ServerRuntime(ServerOptions options)
    : options_(std::move(options)),
      maxLingering_(options_.lingerMicros.count() > 0 ? kMaxLingering : 0),
      maxThreads_(options_.maxCalls + maxLingering_ + kExtraIoThreads),
      requestBudget_(options_.maxTotalRequestBytes),
      replyBudget_(options_.maxTotalReplyBytes),
      peers_(options_.maxConnectionsPerPeer, options_.maxRequestBytesPerPeer, options_.maxReplyBytesPerPeer) {}

ServerRuntime::~ServerRuntime() { StopListening(); }

RpcStatus ServerRuntime::Listen(std::string_view protocolSequence, std::string_view endpointText) {
  MutexLock control(controlMutex_);
  auto endpoint = std::make_unique<Endpoint>();
  Listener listener;
  if (protocolSequence == "ncacn_ip_tcp") {
    auto port = ParseTcpEndpoint(endpointText);
    if (!port) return {StatusCode::kInvalidEndpointFormat, StatusText(StatusCode::kInvalidEndpointFormat)};
    listener = OpenTcpListener(*port, kListenBacklog);
    endpoint->secondaryAddress = std::to_string(listener.port);
  } else if (protocolSequence == "ncacn_np") {
    auto name = ParsePipeEndpoint(endpointText);
    if (!name) return {StatusCode::kInvalidEndpointFormat, StatusText(StatusCode::kInvalidEndpointFormat)};
    endpoint->transport = Transport::kPipe;
    endpoint->socketPath = PipeSocketPath(*name);
    endpoint->secondaryAddress = "\\pipe\\" + *name;
    listener = OpenPipeListener(endpoint->socketPath, kListenBacklog);
  } else {
    uint32_t code = protocolSequence.starts_with("nca") ? StatusCode::kProtseqNotSupported
                                                        : StatusCode::kInvalidRpcProtseq;
    return {code, StatusText(code)};
  }
  if (!listener.status.ok()) return listener.status;
  endpoint->fd = std::move(listener.fd);
  if (endpoint->transport == Transport::kTcp && tcpPort_.load() == 0) tcpPort_ = listener.port;
  return AddEndpoint(std::move(endpoint));
}

RpcStatus ServerRuntime::AddEndpoint(std::unique_ptr<Endpoint> endpoint) {
  if (!listening_) {
    RpcStatus started = StartEngine();
    if (!started.ok()) return started;
  }
  epoll_event event{};
  event.events = EPOLLIN | EPOLLONESHOT;
  event.data.ptr = static_cast<Pollable*>(endpoint.get());
  if (epoll_ctl(epoll_.Get(), EPOLL_CTL_ADD, endpoint->fd.Get(), &event) != 0)
    return {StatusCode::kCantCreateEndpoint, SystemErrorText(errno)};
  endpoints_.push_back(std::move(endpoint));
  return {};
}

RpcStatus ServerRuntime::StartEngine() {
  epoll_.Reset(epoll_create1(EPOLL_CLOEXEC));
  wakeFd_.Reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!epoll_.Valid() || !wakeFd_.Valid()) return {StatusCode::kCantCreateEndpoint, SystemErrorText(errno)};
  wakePollable_ = std::make_unique<Pollable>(Pollable::Kind::kWake);
  epoll_event event{};
  event.events = EPOLLIN;  // level-triggered: once written, it wakes every worker
  event.data.ptr = wakePollable_.get();
  epoll_ctl(epoll_.Get(), EPOLL_CTL_ADD, wakeFd_.Get(), &event);
  {
    MutexLock lock(reserveMutex_);
    reserveFd_.Reset(open("/dev/null", O_RDONLY | O_CLOEXEC));
  }
  stopping_ = false;
  for (size_t i = 0; i < std::max<size_t>(options_.minThreads, 1); ++i) {
    if (SpawnWorker()) continue;
    const RpcStatus failed{StatusCode::kCantCreateEndpoint, SystemErrorText(errno)};
    // The workers already started wait on this poll set, which a later attempt would replace.
    StopEngine();
    return failed;
  }
  sweeper_ = std::thread(&ServerRuntime::SweepLoop, this);
  pthread_setname_np(sweeper_.native_handle(), "rpc-sweeper");
  listening_ = true;
  return {};
}

bool ServerRuntime::SpawnWorker() {
  {
    MutexLock lock(threadMutex_);
    if (threads_ >= maxThreads_) return false;
    ++threads_;
  }
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, std::max({options_.threadStackBytes, kMinStackBytes,
                                                   static_cast<size_t>(PTHREAD_STACK_MIN)}));
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  int rc = pthread_create(&thread, &attributes, &ServerRuntime::WorkerEntry, this);
  pthread_attr_destroy(&attributes);
  if (rc != 0) {
    ExitWorker();
    errno = rc;
    return false;
  }
  return true;
}

void* ServerRuntime::WorkerEntry(void* self) {
  pthread_setname_np(pthread_self(), "rpc-worker");
  static_cast<ServerRuntime*>(self)->WorkerLoop();
  return nullptr;
}

void ServerRuntime::WorkerLoop() {
  const int retireMs = static_cast<int>(std::min<int64_t>(options_.idleThreadRetire.count(), INT_MAX));
  while (true) {
    epoll_event event{};
    ++idleWorkers_;
    int n = epoll_wait(epoll_.Get(), &event, 1, retireMs);
    --idleWorkers_;
    if (stopping_) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    if (n == 0) {
      if (RetireWorker()) return;
      continue;
    }
    auto* pollable = static_cast<Pollable*>(event.data.ptr);
    if (pollable->kind == Pollable::Kind::kEndpoint) {
      auto& endpoint = static_cast<Endpoint&>(*pollable);
      AcceptConnections(endpoint);
      Rearm(endpoint, endpoint.fd.Get());
    } else if (pollable->kind == Pollable::Kind::kConnection) {
      ServeConnection(static_cast<Connection&>(*pollable));
    }
  }
  ExitWorker();
}

bool ServerRuntime::RetireWorker() {
  MutexLock lock(threadMutex_);
  if (threads_ <= std::max<size_t>(options_.minThreads, 1)) return false;
  --threads_;
  threadsChanged_.NotifyAll();
  return true;
}

void ServerRuntime::ExitWorker() {
  MutexLock lock(threadMutex_);
  --threads_;
  threadsChanged_.NotifyAll();
}

void ServerRuntime::AcceptConnections(Endpoint& endpoint) {
  for (int i = 0; i < kMaxAcceptsPerEvent && !stopping_; ++i) {
    // Blocking, so that a lingering worker waits for the next request in recv itself.
    UniqueFd fd(accept4(endpoint.fd.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!fd.Valid()) {
      // Without a descriptor to shed with, back off instead of spinning on the ready listener.
      if ((errno == EMFILE || errno == ENFILE) && !ShedConnection(endpoint))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return;  // EAGAIN, or a transient failure: retried on the next event
    }
    AddConnection(std::move(fd), endpoint);
  }
}

bool ServerRuntime::ShedConnection(Endpoint& endpoint) {
  // Out of descriptors, the pending connection would keep the listener readable and the workers
  // spinning: free the reserve descriptor, accept that connection and close it at once.
  MutexLock lock(reserveMutex_);
  reserveFd_.Reset();
  UniqueFd doomed(accept4(endpoint.fd.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  const bool shed = doomed.Valid();
  doomed.Reset();
  reserveFd_.Reset(open("/dev/null", O_RDONLY | O_CLOEXEC));
  return shed;
}

void ServerRuntime::AddConnection(UniqueFd fd, Endpoint& endpoint) {
  CallContext context;
  context.transport = endpoint.transport;
  context.localEndpoint = endpoint.secondaryAddress;
  std::string peerKey;
  if (endpoint.transport == Transport::kTcp) {
    int on = 1;
    setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    context.peerAddress = PeerAddressText(fd.Get());
    peerKey = context.peerAddress;
  } else {
    context.peerAddress = endpoint.socketPath;
    ReadPeerCredentials(fd.Get(), context);
    peerKey = context.hasCredentials ? "uid " + std::to_string(context.uid) : std::string("pipe");
  }
  PeerSeat seat = peers_.Join(peerKey);
  if (!seat) return;  // the peer holds its share of connections already
  if (options_.lingerMicros.count() > 0) {
    const auto linger = options_.lingerMicros.count();
    timeval timeout{static_cast<time_t>(linger / 1000000), static_cast<suseconds_t>(linger % 1000000)};
    setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ConnectionConfig config;
  config.fragmentCap = endpoint.transport == Transport::kTcp ? kTcpFragmentCap : kPipeFragmentCap;
  config.secondaryAddress = endpoint.secondaryAddress;
  config.maxRequestBytes = options_.maxRequestBytes;
  config.assocGroupCounter = &assocGroupCounter_;
  config.budget = &requestBudget_;
  config.peerBudget = &seat->requestBytes;
  auto connection = std::make_unique<Connection>(registry_, std::move(config), std::move(seat));
  connection->context = std::move(context);
  connection->fd = std::move(fd);
  connection->idleSinceMs = NowMs();
  Connection* raw = connection.get();
  {
    MutexLock lock(connectionsMutex_);
    if (connections_.size() - evicting_ >= options_.maxConnections && !EvictIdleConnections()) return;
    connections_.emplace(raw, Tracked{std::move(connection)});
  }
  epoll_event event{};
  event.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
  event.data.ptr = static_cast<Pollable*>(raw);
  if (epoll_ctl(epoll_.Get(), EPOLL_CTL_ADD, raw->fd.Get(), &event) != 0) CloseConnection(*raw);
}

bool ServerRuntime::EvictIdleConnections() {
  // Called under connectionsMutex_ at the limit. Shutting a socket down makes its owner close it;
  // until then it is counted in evicting_. A batch at a time, so a flood of connections costs one
  // scan per batch rather than per connection.
  std::vector<Tracked*> idle;
  for (auto& [raw, tracked] : connections_) {
    if (!tracked.evicted && !tracked.connection->busy.load()) idle.push_back(&tracked);
  }
  if (idle.empty()) return false;  // every connection is in use: the new one is refused
  const size_t batch = std::min(idle.size(), std::max<size_t>(1, options_.maxConnections / 64));
  std::nth_element(idle.begin(), idle.begin() + static_cast<std::ptrdiff_t>(batch - 1), idle.end(),
                   [](const Tracked* a, const Tracked* b) {
                     return a->connection->idleSinceMs < b->connection->idleSinceMs;
                   });
  for (size_t i = 0; i < batch; ++i) {
    idle[i]->evicted = true;
    ++evicting_;
    shutdown(idle[i]->connection->fd.Get(), SHUT_RDWR);
  }
  return true;
}

void ServerRuntime::ServeConnection(Connection& connection) {
  // EPOLLONESHOT already gives one owner at a time; the lock makes each hand-off between
  // threads explicit (it is never contended for long: only while the previous owner re-arms).
  MutexLock serving(connection.serveMutex);
  connection.busy = true;
  const std::uint64_t completedBefore = connection.machine.Completed();
  Progress progress = ReadAndDrive(connection, MSG_DONTWAIT);
  // A caller making calls back to back sends its next request within microseconds: keep reading
  // this socket (blocking, up to the linger time) rather than going round through epoll and
  // another thread's wake-up. Only between calls: a half-received PDU goes back under the
  // sweeper's eye.
  if (progress == Progress::kServed && !connection.machine.HasPartialInput() && StartLingering()) {
    Clock::time_point lastCall = Clock::now();
    while (progress == Progress::kServed && !stopping_ && !connection.machine.HasPartialInput()) {
      progress = ReadAndDrive(connection, 0);
      // The receive time-out ends at a clock tick, possibly long before the linger time.
      if (progress == Progress::kServed) {
        lastCall = Clock::now();
      } else if (progress == Progress::kIdle && Clock::now() - lastCall < options_.lingerMicros) {
        progress = Progress::kServed;
      }
    }
    --lingering_;
  }
  if (progress == Progress::kClosed) {
    serving.Unlock();
    CloseConnection(connection);
    return;
  }
  if (!connection.machine.HasPartialInput()) {
    connection.partialSinceMs = 0;
  } else if (connection.partialSinceMs.load() == 0 || connection.machine.Completed() != completedBefore) {
    // What is half-received now began after the last whole PDU this wake-up took: a peer
    // whose every read ends inside its next request is busy, not slow.
    connection.partialSinceMs = NowMs();
  }
  connection.idleSinceMs = NowMs();
  connection.busy = false;
  Rearm(connection, connection.fd.Get());
}

bool ServerRuntime::StartLingering() {
  if (lingering_.fetch_add(1) >= maxLingering_ || stopping_) {
    --lingering_;
    return false;
  }
  // Someone must stay on epoll for the other connections while this worker waits on one.
  if (idleWorkers_.load() == 0 && !SpawnWorker()) {
    --lingering_;
    return false;
  }
  return true;
}

ServerRuntime::Progress ServerRuntime::ReadAndDrive(Connection& connection, int firstReadFlags) {
  thread_local std::vector<uint8_t> buffer(kReadChunk);
  std::vector<uint8_t>& out = ThreadBuffer(0);
  int flags = firstReadFlags;
  for (int round = 0; round < kMaxReadsPerEvent; ++round) {
    ssize_t n = recv(connection.fd.Get(), buffer.data(), buffer.size(), flags);
    if (n < 0 && errno == EINTR) continue;
    // Nothing more for now, or the linger time passed without a request.
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return round == 0 ? Progress::kIdle : Progress::kServed;
    if (n <= 0) return Progress::kClosed;
    connection.machine.Feed({buffer.data(), static_cast<size_t>(n)});
    const bool open = DriveConnection(connection, out);
    TrimBuffer(out);
    if (!open) return Progress::kClosed;
    if (static_cast<size_t>(n) < buffer.size()) return Progress::kServed;
    flags = MSG_DONTWAIT;
  }
  return Progress::kServed;
}

bool ServerRuntime::DriveConnection(Connection& connection, std::vector<uint8_t>& out) {
  while (true) {
    switch (connection.machine.Next(out)) {
      case ServerConnection::Event::kNeedMore: return Flush(connection, out);
      case ServerConnection::Event::kClose: Flush(connection, out); return false;
      case ServerConnection::Event::kCall:
        if (!Flush(connection, out) || !RunCall(connection, out)) return false;
        break;
    }
  }
}

bool ServerRuntime::RunCall(Connection& connection, std::vector<uint8_t>& out) {
  const bool observed = static_cast<bool>(options_.callObserver);
  const Clock::time_point started = observed ? Clock::now() : Clock::time_point{};
  const PendingCall& call = connection.machine.Call();
  const SyntaxId interface = call.interface->id;
  const uint16_t opnum = call.opnum;
  std::vector<uint8_t>& stub = ThreadBuffer(1);
  BudgetCharge replyCharge(&replyBudget_, &connection.peer->replyBytes);
  CallOutcome outcome{FaultStatus::kServerTooBusy, FaultRun::kDidNotRun};
  // While stopping, calls already running may finish but no new one starts.
  if (callsInProgress_.fetch_add(1) < options_.maxCalls && !draining_) {
    // Keep someone waiting for I/O while this thread may block in the handler.
    if (idleWorkers_.load() == 0) SpawnWorker();
    outcome = ExecuteCall(*call.procedure, call.stub, call.bigEndian, connection.context, options_.maxOutBytes, stub,
                          &replyCharge);
  }
  --callsInProgress_;
  bool written;
  if (outcome.faultStatus != 0) {
    connection.machine.FailCall(outcome.faultStatus, outcome.run, out);
    written = Flush(connection, out);
  } else {
    written = WriteReply(connection, stub, out);
  }
  TrimBuffer(stub);
  if (observed) {
    try {
      options_.callObserver({interface, opnum, Clock::now() - started, outcome.faultStatus});
    } catch (...) {
      // Metrics must not cost the caller its connection.
    }
  }
  return written;
}

bool ServerRuntime::WriteReply(Connection& connection, std::span<const uint8_t> stub, std::vector<uint8_t>& out) {
  // A piece at a time, so a large reply is never held twice (stub and fragments) at once.
  size_t offset = 0;
  do {
    offset = connection.machine.CompleteCall(stub, out, offset, kReplyChunk);
    if (!Flush(connection, out)) return false;
  } while (offset < stub.size());
  return true;
}

bool ServerRuntime::Flush(Connection& connection, std::vector<uint8_t>& out) {
  if (out.empty()) return true;
  IoResult result = WriteAll(connection.fd.Get(), out, Clock::now() + options_.sendTimeout);
  out.clear();
  return result == IoResult::kOk;
}

void ServerRuntime::Rearm(Pollable& pollable, int fd) {
  epoll_event event{};
  event.events = EPOLLIN | EPOLLONESHOT;
  if (pollable.kind == Pollable::Kind::kConnection) event.events |= EPOLLRDHUP;
  event.data.ptr = &pollable;
  epoll_ctl(epoll_.Get(), EPOLL_CTL_MOD, fd, &event);
}

void ServerRuntime::CloseConnection(Connection& connection) {
  std::unique_ptr<Connection> owned;
  {
    MutexLock lock(connectionsMutex_);
    auto it = connections_.find(&connection);
    if (it == connections_.end()) return;
    owned = std::move(it->second.connection);
    if (it->second.evicted) --evicting_;
    connections_.erase(it);
  }
  epoll_ctl(epoll_.Get(), EPOLL_CTL_DEL, owned->fd.Get(), nullptr);
}

void ServerRuntime::SweepLoop() {
  const auto period = std::min<std::chrono::milliseconds>(options_.receiveTimeout / 4 + std::chrono::milliseconds(1),
                                                          std::chrono::milliseconds(1000));
  MutexLock sweepLock(sweepMutex_);
  while (!stopping_) {
    sweepWake_.WaitUntil(sweepMutex_, Clock::now() + period);
    const int64_t limit = NowMs() - options_.receiveTimeout.count();
    MutexLock lock(connectionsMutex_);
    for (auto& [raw, tracked] : connections_) {
      const Connection* connection = tracked.connection.get();
      int64_t since = connection->partialSinceMs.load();
      // Shutting the socket down makes its owner see the end of input and close it properly.
      if (since != 0 && since < limit && !connection->busy.load()) shutdown(connection->fd.Get(), SHUT_RDWR);
    }
  }
}

bool ServerRuntime::StopListening() {
  MutexLock control(controlMutex_);
  if (!listening_) return false;
  draining_ = true;
  for (auto& endpoint : endpoints_) epoll_ctl(epoll_.Get(), EPOLL_CTL_DEL, endpoint->fd.Get(), nullptr);
  WaitForCalls();
  StopEngine();
  draining_ = false;
  listening_ = false;
  tcpPort_ = 0;
  return true;
}

void ServerRuntime::WaitForCalls() {
  const auto deadline = Clock::now() + options_.stopWait;
  while (callsInProgress_.load() > 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void ServerRuntime::StopEngine() {
  {
    MutexLock lock(sweepMutex_);
    stopping_ = true;
  }
  sweepWake_.NotifyAll();
  if (sweeper_.joinable()) sweeper_.join();
  uint64_t one = 1;
  [[maybe_unused]] ssize_t ignored = write(wakeFd_.Get(), &one, sizeof one);
  {
    // Calls still running past the wait are cut off from their peers; their threads end when
    // the handlers return.
    MutexLock lock(connectionsMutex_);
    for (auto& [raw, tracked] : connections_) shutdown(tracked.connection->fd.Get(), SHUT_RDWR);
  }
  {
    MutexLock lock(threadMutex_);
    while (threads_ != 0) threadsChanged_.Wait(threadMutex_);
  }
  {
    MutexLock lock(connectionsMutex_);
    connections_.clear();
  }
  for (auto& endpoint : endpoints_) {
    if (!endpoint->socketPath.empty()) unlink(endpoint->socketPath.c_str());
  }
  endpoints_.clear();
  wakePollable_.reset();
  wakeFd_.Reset();
  epoll_.Reset();
}

}  // namespace Korvane::Pictora::DceRpc
