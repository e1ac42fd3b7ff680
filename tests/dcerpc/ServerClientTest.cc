// The server and the client over real sockets (loopback TCP on a free port and the pipe socket in
// a temporary folder), including calls side by side and peers that try to exhaust the server.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "dcerpc/Client.h"
#include "dcerpc/Mutex.h"
#include "dcerpc/Ndr.h"
#include "dcerpc/PduCodec.h"
#include "dcerpc/Server.h"
#include "dcerpc/Socket.h"
#include "tests/dcerpc/TestInterface.h"
#include "tests/support/TempFolder.h"

namespace Korvane::Pictora::DceRpc {
namespace {

namespace Op = Testing::Op;
using namespace std::chrono_literals;

uint32_t StatusOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const RpcError& e) {
    return e.status();
  }
  return 0;
}

// True when the server closes the connection within a second, without a byte.
bool ClosedByServer(const UniqueFd& fd) {
  uint8_t byte;
  return ReadExact(fd.Get(), {&byte, 1}, Clock::now() + 1s) == IoResult::kClosed;
}

int ThreadCount() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  }
  return -1;
}

class ServerClientTest : public ::testing::Test {
 protected:
  void Start(ServerOptions options = {}) {
    server_ = std::make_unique<Server>(options);
    ASSERT_TRUE(server_->RegisterInterface(Testing::MakeTestInterface()));
    ASSERT_TRUE(server_->RegisterInterface(Testing::MakeSecondInterface()));
    RpcStatus status = server_->Listen("ncacn_ip_tcp", "0");
    ASSERT_TRUE(status.ok()) << status.text;
    status = server_->Listen("ncacn_np", "\\pipe\\dcerpc-test");
    ASSERT_TRUE(status.ok()) << status.text;
  }
  void TearDown() override {
    if (server_) server_->StopListening();
    ClearClientConnectionPool();
  }

  Binding Tcp() const { return Binding("ncacn_ip_tcp", "127.0.0.1", std::to_string(server_->TcpPort())); }
  Binding Pipe() const { return Binding("ncacn_np", "", "\\pipe\\dcerpc-test"); }
  // A connection that sends nothing.
  UniqueFd Raw(const Binding& binding) const {
    Listener connected = binding.ProtocolSequence() == "ncacn_np" ? ConnectPipe(pipes_ + "/dcerpc-test", 1s)
                                                                  : ConnectTcp("127.0.0.1", server_->TcpPort(), 1s);
    EXPECT_TRUE(connected.status.ok());
    return std::move(connected.fd);
  }

  static std::string Echo(const Binding& binding, const std::string& text) {
    Arguments args(2);
    args.SetText(0, text);
    args.SetText(1, std::string(text.size() + 5, 'A'));
    binding.Call(Testing::TestInterfaceId(), Op::kEcho, Testing::EchoSpec(), args);
    EXPECT_EQ(args.ResultLong(), static_cast<int32_t>(text.size()));
    return args.Text(1);
  }
  static void Sleep(const Binding& binding, int ms) {
    Arguments args(1);
    args.SetLong(0, ms);
    binding.Call(Testing::TestInterfaceId(), Op::kSleep, Testing::SleepSpec(), args);
  }
  static void Call(const Binding& binding, uint16_t opnum, const SyntaxId& id = Testing::TestInterfaceId()) {
    Arguments args;
    binding.Call(id, opnum, Testing::PingSpec(), args);
  }
  // Fill with a buffer of `size` bytes for the text of `count`: returns the result.
  static int32_t Fill(const Binding& binding, size_t count, int32_t size) {
    Arguments args(4);
    args.SetText(0, std::to_string(count));
    args.SetLong(1, size);
    args.SetText(3, "A");
    binding.Call(Testing::TestInterfaceId(), Op::kFill, Testing::FillSpec(), args);
    if (args.ResultLong() == 0) {
      EXPECT_EQ(args.Text(2).substr(0, count), Testing::FillText(count));
    }
    return args.ResultLong();
  }

  TestSupport::TempFolder temp_;
  const std::string pipes_ = temp_ / "pipes";
  TestSupport::ScopedEnv pipeDir_{"PICTORA_PIPE_DIR", pipes_};
  std::unique_ptr<Server> server_;
};

// Parameter kinds are proven by the NDR tests, faults by the connection tests; here both
// transports carry calls of both interfaces, fragmented both ways.
TEST_F(ServerClientTest, CallsOverBothTransports) {
  Start();
  const size_t size = 1 << 20;
  for (const Binding& binding : {Tcp(), Pipe()}) {
    EXPECT_EQ(Echo(binding, "hello"), "echo:hello");
    Arguments ping;
    binding.Call(Testing::SecondInterfaceId(), 0, Testing::PingSpec(), ping);
    EXPECT_EQ(ping.ResultSmall(), 2);

    Arguments data(2);
    std::string text(size, 'x');
    text[size - 10] = '\0';
    data.SetLong(0, static_cast<int32_t>(size));
    data.SetText(1, text);
    binding.Call(Testing::TestInterfaceId(), Op::kLengthData, Testing::LengthDataSpec(), data);
    EXPECT_EQ(data.ResultLong(), static_cast<int32_t>(size - 10));
    ASSERT_EQ(Fill(binding, size, 0), static_cast<int32_t>(size + 1));
    EXPECT_EQ(Fill(binding, size, size + 1), 0);
  }
  // Faults become Windows status numbers (mapping proven against a foreign server by the interop
  // tests); these are the client's own.
  EXPECT_EQ(StatusOf([&] { Call(Binding("tcp", "x", "1"), 0); }), StatusCode::kInvalidRpcProtseq);
  EXPECT_EQ(StatusOf([&] { Call(Binding("ncacn_np", "", "\\pipe\\nobody"), 0); }), StatusCode::kServerUnavailable);
  EXPECT_EQ(StatusOf([&] { Call(Tcp(), Op::kRefuse); }), StatusCode::kAccessDenied);
}

TEST_F(ServerClientTest, CallTimeoutAndConnectionLoss) {
  Start();
  Binding binding = Tcp();
  binding.SetTimeouts({1000ms, 200ms});
  EXPECT_EQ(StatusOf([&] { Sleep(binding, 1000); }), StatusCode::kCallCancelled);
  // The server ends while a call is in progress on it: the caller learns the call may have run.
  ServerOptions quick;
  quick.stopWait = 100ms;
  server_->StopListening();
  Start(quick);
  std::atomic<uint32_t> status{0};
  std::thread caller([&] { status = StatusOf([&] { Sleep(Tcp(), 1500); }); });
  std::this_thread::sleep_for(300ms);
  server_->StopListening();
  caller.join();
  EXPECT_EQ(status.load(), StatusCode::kCallFailed);

  // While stopping, a call in progress finishes and a new one on an open connection is refused.
  Start();
  std::atomic<uint32_t> running{99}, late{99};
  std::thread first([&] { running = StatusOf([&] { Sleep(Tcp(), 600); }); });
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(Echo(Tcp(), "pooled"), "echo:pooled");  // leaves a second bound connection in the pool
  std::thread stopper([&] { server_->StopListening(); });
  std::this_thread::sleep_for(100ms);
  late = StatusOf([&] { Echo(Tcp(), "late"); });
  first.join();
  stopper.join();
  EXPECT_EQ(running.load(), 0u);
  EXPECT_EQ(late.load(), StatusCode::kServerTooBusy);
}

TEST_F(ServerClientTest, PooledConnectionsSurviveAServerRestart) {
  Start();
  const std::string port = std::to_string(server_->TcpPort());
  EXPECT_EQ(Echo(Tcp(), "one"), "echo:one");
  server_->StopListening();
  // The pooled connection is dead now; the next call must notice and connect afresh.
  server_ = std::make_unique<Server>();
  ASSERT_TRUE(server_->RegisterInterface(Testing::MakeTestInterface()));
  ASSERT_TRUE(server_->Listen("ncacn_ip_tcp", port).ok());
  EXPECT_EQ(Echo(Tcp(), "two"), "echo:two");
}

// Established TCP connections whose local port is `port`: the server's side of them.
int EstablishedTo(uint16_t port) {
  std::ifstream table("/proc/self/net/tcp6");
  std::string line, slot, local, remote, state;
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, ":%04X", port);
  int count = 0;
  std::getline(table, line);
  while (table >> slot >> local >> remote >> state) {
    std::getline(table, line);
    if (local.ends_with(suffix) && state == "01") ++count;
  }
  return count;
}

TEST_F(ServerClientTest, BlockingHandlersRunInParallelAndIdleWorkersRetire) {
  ServerOptions options;
  options.idleThreadRetire = 200ms;
  Start(options);
  const int before = ThreadCount();
  constexpr int kCalls = 100;
  std::atomic<int> done{0};
  auto started = Clock::now();
  std::vector<std::thread> threads;
  // The same binding's calls from many threads: the pool gives each a connection of its own.
  for (int i = 0; i < kCalls; ++i) {
    threads.emplace_back([&] {
      Sleep(Tcp(), 500);
      ++done;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(done.load(), kCalls);
  EXPECT_LT(Clock::now() - started, 4s);
  // The pool keeps most of those connections for the next burst instead of reconnecting per call.
  EXPECT_GT(EstablishedTo(server_->TcpPort()), kCalls / 2);
  // The pool grew to run the calls side by side and shrinks again once they are over.
  auto deadline = Clock::now() + 10s;
  while (ThreadCount() > before + 2 && Clock::now() < deadline) std::this_thread::sleep_for(50ms);
  EXPECT_LE(ThreadCount(), before + 2);
}

TEST_F(ServerClientTest, CallsBeyondTheLimitAreRefusedAsTooBusy) {
  ServerOptions options;
  options.maxCalls = 2;
  Start(options);
  std::atomic<int> busy{0}, ok{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    // Two long calls first, then two more while those still run.
    if (i == 2) std::this_thread::sleep_for(300ms);
    threads.emplace_back([&] {
      uint32_t status = StatusOf([&] { Sleep(Tcp(), 1500); });
      if (status == StatusCode::kServerTooBusy) ++busy;
      if (status == 0) ++ok;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(ok.load(), 2);
  EXPECT_EQ(busy.load(), 2);
}

TEST_F(ServerClientTest, CallerIdentity) {
  Start();
  UniqueFd probe(socket(AF_INET6, SOCK_STREAM, 0));
  std::vector<std::pair<Binding, std::string>> cases = {
      {Tcp(), "uid=none peer=127.0.0.1"},
      {Pipe(), "uid=" + std::to_string(getuid()) + " peer=" + pipes_ + "/dcerpc-test"}};
  // The TCP endpoint serves IPv6 too, where there is any.
  if (probe.Valid()) cases.push_back({Binding("ncacn_ip_tcp", "::1", std::to_string(server_->TcpPort())), "uid=none peer=::1"});
  for (const auto& [binding, expected] : cases) {
    Arguments args(2);
    args.SetLong(0, 200);
    binding.Call(Testing::TestInterfaceId(), Op::kWhoAmI, Testing::WhoAmISpec(), args);
    ASSERT_EQ(args.ResultLong(), 0);
    EXPECT_EQ(std::string(args.Text(1).c_str()), expected);
  }
  EXPECT_EQ(Echo(Binding("ncacn_ip_tcp", "localhost", std::to_string(server_->TcpPort())), "name"), "echo:name");
}

TEST_F(ServerClientTest, ListeningErrorsAndThePipeSocketFile) {
  Start();
  const std::string socketPath = pipes_ + "/dcerpc-test";
  struct stat info;
  ASSERT_EQ(stat(socketPath.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666u);

  Server other;
  struct Case {
    const char* protseq;
    std::string endpoint;
    uint32_t status;
  };
  const std::vector<Case> cases = {
      {"ncacn_ip_tcp", std::to_string(server_->TcpPort()), StatusCode::kDuplicateEndpoint},
      {"ncacn_np", "\\pipe\\dcerpc-test", StatusCode::kDuplicateEndpoint},
      {"ncacn_ip_tcp", "65536", StatusCode::kInvalidEndpointFormat},
      {"ncacn_np", "\\pipe\\..", StatusCode::kInvalidEndpointFormat},
      {"ncalrpc", "x", StatusCode::kProtseqNotSupported},
      {"bogus", "x", StatusCode::kInvalidRpcProtseq},
  };
  for (const Case& c : cases) {
    RpcStatus status = other.Listen(c.protseq, c.endpoint);
    EXPECT_EQ(status.code, c.status) << c.protseq << " " << c.endpoint;
    EXPECT_EQ(status.text, StatusText(c.status));
  }
  EXPECT_FALSE(other.IsListening());
  EXPECT_FALSE(other.StopListening());

  EXPECT_TRUE(server_->StopListening());
  EXPECT_NE(stat(socketPath.c_str(), &info), 0);  // removed on stop
  // A stale socket file left behind is replaced.
  ASSERT_TRUE(OpenPipeListener(socketPath, 1).status.ok());
  ASSERT_EQ(stat(socketPath.c_str(), &info), 0);
  Start();
  EXPECT_EQ(Echo(Pipe(), "again"), "echo:again");
}

TEST_F(ServerClientTest, HalfReceivedPdusTimeOut) {
  ServerOptions options;
  options.receiveTimeout = 300ms;
  Start(options);
  UniqueFd client = Raw(Tcp());
  const uint8_t partial[] = {5, 0, 11, 3, 0x10, 0, 0};
  ASSERT_EQ(WriteAll(client.Get(), partial, Clock::now() + 1s), IoResult::kOk);
  uint8_t byte;
  auto started = Clock::now();
  // The server closes the connection without an answer.
  EXPECT_EQ(ReadExact(client.Get(), {&byte, 1}, Clock::now() + 5s), IoResult::kClosed);
  EXPECT_LT(Clock::now() - started, 3s);
  // Trickling a long bind byte by byte (it would take 18 s) does not keep it alive either.
  std::vector<uint8_t> bind;
  EncodeBind(PduType::kBind, 1,
             BindPdu{5840, 5840, 0, std::vector<ContextElement>(20, {0, Testing::TestInterfaceId(), {Ndr20Syntax()}})},
             bind);
  UniqueFd trickler = Raw(Tcp());
  started = Clock::now();
  bool closed = false;
  for (size_t i = 0; i < bind.size() && !closed && Clock::now() - started < 5s; ++i) {
    WriteAll(trickler.Get(), {&bind[i], 1}, Clock::now() + 1s);
    std::this_thread::sleep_for(20ms);
    closed = recv(trickler.Get(), &byte, 1, MSG_DONTWAIT) == 0;
  }
  EXPECT_TRUE(closed);
  EXPECT_LT(Clock::now() - started, 3s);
  // A busy peer whose every send ends inside its next request is not taken for a slow one.
  UniqueFd busy = Raw(Tcp());
  std::vector<uint8_t> stream;
  EncodeBind(PduType::kBind, 1, BindPdu{5840, 5840, 0, {{0, Testing::TestInterfaceId(), {Ndr20Syntax()}}}}, stream);
  for (uint32_t call = 2; call < 60; ++call) EncodeRequestFragments(call, 0, Op::kPing, {}, 5840, stream);
  uint8_t answer[256];
  // Each send ends 12 bytes into the next 24-byte request; the whole run outlasts the time-out.
  for (size_t at = 0, end = stream.size() - 24 * 58 + 12; end <= stream.size(); at = end, end += 24) {
    ASSERT_EQ(WriteAll(busy.Get(), {stream.data() + at, end - at}, Clock::now() + 1s), IoResult::kOk);
    std::this_thread::sleep_for(10ms);
    pollfd polled{busy.Get(), POLLIN, 0};
    ASSERT_EQ(poll(&polled, 1, 2000), 1);
    ASSERT_GT(recv(busy.Get(), answer, sizeof answer, 0), 0) << "closed after " << at << " bytes";
  }
  // An idle, fully bound connection is not timed out.
  EXPECT_EQ(Echo(Tcp(), "x"), "echo:x");
  std::this_thread::sleep_for(700ms);
  EXPECT_EQ(Echo(Tcp(), "y"), "echo:y");
}

// A peer holding every connection slot with connections that never send a byte.
TEST_F(ServerClientTest, IdleConnectionsMakeRoomForNewOnesAtTheLimit) {
  ServerOptions options;
  options.maxConnections = 4;
  Start(options);
  std::vector<UniqueFd> held;
  for (const Binding& binding : {Tcp(), Pipe(), Tcp(), Pipe()}) {
    held.push_back(Raw(binding));
    std::this_thread::sleep_for(20ms);
  }
  // Each newcomer is answered; the longest idle make room, oldest first.
  EXPECT_EQ(Echo(Tcp(), "tcp"), "echo:tcp");
  EXPECT_EQ(Echo(Pipe(), "pipe"), "echo:pipe");
  EXPECT_TRUE(ClosedByServer(held[0]));
  EXPECT_TRUE(ClosedByServer(held[1]));
  // Only when every connection is in a call is a new one refused.
  server_->StopListening();
  ClearClientConnectionPool();
  options.maxConnections = 2;
  Start(options);
  std::vector<std::thread> callers;
  for (int i = 0; i < 2; ++i) callers.emplace_back([&] { Sleep(Tcp(), 800); });
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(ClosedByServer(Raw(Tcp())));
  for (auto& caller : callers) caller.join();
}

TEST_F(ServerClientTest, SourceAddressIsThePeerAndPartOfThePoolKey) {
  Start();
  for (const std::string source : {"127.0.3.7", "127.0.3.8"}) {
    Binding binding = Tcp();
    binding.SetSourceAddress(source);
    Arguments args(2);
    args.SetLong(0, 200);
    binding.Call(Testing::TestInterfaceId(), Op::kWhoAmI, Testing::WhoAmISpec(), args);
    EXPECT_EQ(std::string(args.Text(1).c_str()), "uid=none peer=" + source);
  }
  Binding wrong = Tcp();
  wrong.SetSourceAddress("not an address");
  EXPECT_EQ(StatusOf([&] { Echo(wrong, "x"); }), StatusCode::kInvalidNetAddr);
}

TEST_F(ServerClientTest, ConnectionsPerPeer) {
  ServerOptions options;
  options.maxConnectionsPerPeer = 2;
  Start(options);
  // A peer is a TCP address, or a uid on the pipe socket; another peer is still served.
  for (const auto& [mine, others] : {std::pair{Tcp(), Pipe()}, std::pair{Pipe(), Tcp()}}) {
    std::vector<UniqueFd> held;
    held.push_back(Raw(mine));
    held.push_back(Raw(mine));
    EXPECT_TRUE(ClosedByServer(Raw(mine))) << mine.ProtocolSequence();
    EXPECT_EQ(Echo(others, "other peer"), "echo:other peer");
    held.clear();
    ClearClientConnectionPool();
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(Echo(Tcp(), "room again"), "echo:room again");
}

// A slow reader asking for large out buffers: what the server holds for it stays within the
// peer's share and the server's budget, and is counted where the memory guard can see it.
TEST_F(ServerClientTest, ReplyBytesAreBudgeted) {
  ServerOptions options;
  options.maxTotalReplyBytes = 40 << 20;
  options.maxReplyBytesPerPeer = 20 << 20;
  Start(options);
  const int32_t size = 16 << 20;
  UniqueFd slow = Raw(Tcp());
  std::vector<uint8_t> pdus;
  EncodeBind(PduType::kBind, 1, BindPdu{5840, 5840, 0, {{0, Testing::TestInterfaceId(), {Ndr20Syntax()}}}}, pdus);
  Arguments args(4);
  args.SetText(0, "1");
  args.SetLong(1, size);
  args.SetText(3, "A");
  std::vector<uint8_t> stub;
  EncodeRequestStub(Testing::FillSpec(), args, stub);
  EncodeRequestFragments(2, 0, Op::kFill, stub, 5840, pdus);
  ASSERT_EQ(WriteAll(slow.Get(), pdus, Clock::now() + 1s), IoResult::kOk);  // and never reads
  auto deadline = Clock::now() + 5s;
  while (server_->BufferedBytes() < size_t(size) && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
  EXPECT_GE(server_->BufferedBytes(), size_t(size));

  EXPECT_EQ(StatusOf([&] { Fill(Tcp(), 1, size); }), StatusCode::kServerTooBusy);  // the same peer
  EXPECT_EQ(Fill(Pipe(), 1, size), 0);                                            // another one
  EXPECT_EQ(Fill(Tcp(), 1, 1000), 0);
  slow.Reset();
  deadline = Clock::now() + 5s;
  while (server_->BufferedBytes() > 0 && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(server_->BufferedBytes(), 0u);
}

TEST_F(ServerClientTest, CallObserverSeesEachAnsweredCall) {
  struct Seen {
    Mutex mutex;
    std::vector<CallRecord> calls GUARDED_BY(mutex);
  };
  auto seen = std::make_shared<Seen>();  // the server's workers may outlive this test's locals
  ServerOptions options;
  options.callObserver = [seen](const CallRecord& call) {
    MutexLock lock(seen->mutex);
    seen->calls.push_back(call);
  };
  Start(options);
  Sleep(Tcp(), 30);
  EXPECT_EQ(StatusOf([&] { Call(Pipe(), Op::kRefuse); }), StatusCode::kAccessDenied);
  Call(Tcp(), 0, Testing::SecondInterfaceId());
  server_->StopListening();  // the observer runs once the reply is out: wait for the last one
  MutexLock lock(seen->mutex);
  ASSERT_EQ(seen->calls.size(), 3u);
  auto& calls = seen->calls;  // in any order: each is reported after its reply went out
  std::sort(calls.begin(), calls.end(), [](auto& a, auto& b) { return a.opnum > b.opnum; });
  EXPECT_EQ(calls[0].opnum, Op::kRefuse);
  EXPECT_EQ(calls[0].faultStatus, FaultStatus::kAccessDenied);
  EXPECT_EQ(calls[1].interface, Testing::TestInterfaceId());
  EXPECT_EQ(calls[1].opnum, Op::kSleep);
  EXPECT_EQ(calls[1].faultStatus, 0u);
  EXPECT_GE(calls[1].elapsed, 30ms);
  EXPECT_EQ(calls[2].interface, Testing::SecondInterfaceId());
}

TEST_F(ServerClientTest, RunningOutOfDescriptorsDoesNotSpin) {
  Start();
  rlimit original;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &original), 0);
  const auto used = static_cast<rlim_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                      std::filesystem::directory_iterator()));
  rlimit tight = original;
  tight.rlim_cur = used + 6;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  // Client sockets and the server's accepted ones share the limit; the server hits it first
  // once the client side holds most descriptors.
  std::vector<UniqueFd> clients;
  for (int i = 0; i < 6; ++i) {
    Listener connected = ConnectTcp("127.0.0.1", server_->TcpPort(), 1s);
    if (connected.fd.Valid()) clients.push_back(std::move(connected.fd));
  }
  std::this_thread::sleep_for(200ms);
  rusage before, after;
  getrusage(RUSAGE_SELF, &before);
  std::this_thread::sleep_for(500ms);
  getrusage(RUSAGE_SELF, &after);
  auto cpuMs = [](const rusage& u) {
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
  };
  EXPECT_LT(cpuMs(after) - cpuMs(before), 200.0);

  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &original), 0);
  clients.clear();
  EXPECT_EQ(Echo(Tcp(), "recovered"), "echo:recovered");
}

}  // namespace
}  // namespace Korvane::Pictora::DceRpc
