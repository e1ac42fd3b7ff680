// The server and the client over real sockets (loopback TCP on a free port and the pipe socket in
// a temporary folder), including many calls at once.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "dcerpc/Client.h"
#include "dcerpc/PduCodec.h"
#include "dcerpc/Server.h"
#include "dcerpc/Socket.h"
#include "tests/dcerpc/TestInterface.h"
#include "tests/support/TempFolder.h"

namespace Korvane::Pictora::DceRpc {
namespace {

namespace Op = Testing::Op;
using namespace std::chrono_literals;

class ServerClientTest : public ::testing::Test {
 protected:
  void Start(ServerOptions options = {}) {
    server_ = std::make_unique<Server>(options);
    ASSERT_TRUE(server_->RegisterInterface(Testing::MakeTestInterface()));
    ASSERT_TRUE(server_->RegisterInterface(Testing::MakeSecondInterface()));
    RpcStatus status = server_->Listen("ncacn_ip_tcp", "0");
    ASSERT_TRUE(status.ok()) << status.text;
    ASSERT_NE(server_->TcpPort(), 0);
    status = server_->Listen("ncacn_np", "\\pipe\\dcerpc-test");
    ASSERT_TRUE(status.ok()) << status.text;
  }
  void TearDown() override {
    if (server_) server_->StopListening();
    ClearClientConnectionPool();
  }

  Binding Tcp() const { return Binding("ncacn_ip_tcp", "127.0.0.1", std::to_string(server_->TcpPort())); }
  Binding Pipe() const { return Binding("ncacn_np", "", "\\pipe\\dcerpc-test"); }

  static std::string Echo(const Binding& binding, const std::string& text) {
    Arguments args(2);
    args.SetText(0, text);
    args.SetText(1, std::string(text.size() + 5, 'A'));
    binding.Call(Testing::TestInterfaceId(), Op::kEcho, Testing::EchoSpec(), args);
    EXPECT_EQ(args.ResultLong(), static_cast<int32_t>(text.size()));
    return args.Text(1);
  }

  static uint32_t StatusOf(const std::function<void()>& call) {
    try {
      call();
    } catch (const RpcError& e) {
      return e.status();
    }
    return 0;
  }

  static void Sleep(const Binding& binding, int ms) {
    Arguments args(1);
    args.SetLong(0, ms);
    binding.Call(Testing::TestInterfaceId(), Op::kSleep, Testing::SleepSpec(), args);
  }

  TestSupport::TempFolder temp_;
  const std::string pipes_ = temp_ / "pipes";
  TestSupport::ScopedEnv pipeDir_{"PICTORA_PIPE_DIR", pipes_};
  std::unique_ptr<Server> server_;
};

TEST_F(ServerClientTest, EveryKindOfCallOverBothTransports) {
  Start();
  for (const Binding& binding : {Tcp(), Pipe()}) {
    EXPECT_EQ(Echo(binding, "hello"), "echo:hello");

    Arguments bytes(5);
    bytes.SetText(0, "p");
    bytes.SetData(1, Bytes{1, 2, 3});
    bytes.SetLong(2, 3);
    bytes.SetLong(4, 3);
    binding.Call(Testing::TestInterfaceId(), Op::kBytes, Testing::BytesSpec(), bytes);
    EXPECT_EQ(bytes.Data(3), (Bytes{'p', 1, 2}));  // the handler's 4 bytes cut to the 3 asked for
    EXPECT_EQ(bytes.Long(4), 3);
    EXPECT_EQ(bytes.ResultSmall(), 1);

    Arguments value(1);
    value.SetDouble(0, 1.25);
    binding.Call(Testing::TestInterfaceId(), Op::kDouble, Testing::DoubleSpec(), value);
    EXPECT_EQ(value.Double(0), 2.5);

    Arguments flag(1);
    flag.SetSmall(0, 0);
    binding.Call(Testing::TestInterfaceId(), Op::kNot, Testing::NotSpec(), flag);
    EXPECT_EQ(flag.ResultSmall(), 1);

    Arguments ping;
    binding.Call(Testing::SecondInterfaceId(), 0, Testing::PingSpec(), ping);
    EXPECT_EQ(ping.ResultSmall(), 2);
  }
}

TEST_F(ServerClientTest, LargeFragmentedRequestsAndBufferReplies) {
  Start();
  const size_t size = 1 << 20;
  for (const Binding& binding : {Tcp(), Pipe()}) {
    Arguments data(2);
    std::string text(size, 'x');
    text[size - 10] = '\0';
    data.SetLong(0, static_cast<int32_t>(size));
    data.SetText(1, text);
    binding.Call(Testing::TestInterfaceId(), Op::kLengthData, Testing::LengthDataSpec(), data);
    EXPECT_EQ(data.ResultLong(), static_cast<int32_t>(size - 10));

    Arguments fill(4);
    fill.SetText(0, std::to_string(size));
    fill.SetLong(1, 0);
    fill.SetText(3, std::string(10, 'A'));
    binding.Call(Testing::TestInterfaceId(), Op::kFill, Testing::FillSpec(), fill);
    ASSERT_EQ(fill.ResultLong(), static_cast<int32_t>(size + 1));
    fill.SetLong(1, fill.ResultLong());
    binding.Call(Testing::TestInterfaceId(), Op::kFill, Testing::FillSpec(), fill);
    EXPECT_EQ(fill.ResultLong(), 0);
    EXPECT_EQ(fill.Text(2), Testing::FillText(size) + '\0');
  }
}

TEST_F(ServerClientTest, FaultsBecomeWindowsStatusNumbers) {
  ServerOptions options;
  options.maxOutBytes = 1000;
  Start(options);
  const Binding binding = Tcp();
  struct Case {
    const char* name;
    std::function<void()> call;
    uint32_t status;
  };
  const SyntaxId unknown{*Uuid::Parse("11111111-2222-3333-4444-555555555555"), 1, 0};
  const std::vector<Case> cases = {
      {"unassigned opnum",
       [&] {
         Arguments a;
         binding.Call(Testing::TestInterfaceId(), Op::kUnassigned, Testing::PingSpec(), a);
       },
       StatusCode::kProcnumOutOfRange},
      {"handler throws",
       [&] {
         Arguments a;
         binding.Call(Testing::TestInterfaceId(), Op::kThrow, Testing::PingSpec(), a);
       },
       StatusCode::kCallFailed},
      {"handler refuses",
       [&] {
         Arguments a;
         binding.Call(Testing::TestInterfaceId(), Op::kRefuse, Testing::PingSpec(), a);
       },
       StatusCode::kAccessDenied},
      {"unknown interface",
       [&] {
         Arguments a;
         binding.Call(unknown, 0, Testing::PingSpec(), a);
       },
       StatusCode::kUnknownIf},
      {"stub the server cannot decode",
       [&] {
         Arguments a(1);
         a.SetLong(0, 7);
         binding.Call(Testing::TestInterfaceId(), Op::kEcho, Testing::SleepSpec(), a);
       },
       StatusCode::kBadStubData},
      {"out buffer above the cap",
       [&] {
         Arguments a(4);
         a.SetText(0, "1");
         a.SetLong(1, 1001);
         binding.Call(Testing::TestInterfaceId(), Op::kFill, Testing::FillSpec(), a);
       },
       StatusCode::kServerOutOfMemory},
      {"negative out buffer size",
       [&] {
         Arguments a(4);
         a.SetText(0, "1");
         a.SetLong(1, -1);
         binding.Call(Testing::TestInterfaceId(), Op::kFill, Testing::FillSpec(), a);
       },
       StatusCode::kBadStubData},
      {"bad protocol sequence",
       [&] {
         Arguments a;
         Binding("tcp", "x", "1").Call(Testing::TestInterfaceId(), 0, Testing::PingSpec(), a);
       },
       StatusCode::kInvalidRpcProtseq},
      // A refused or silent TCP peer is covered by the interoperability tests.
      {"nobody on the pipe", [&] { Echo(Binding("ncacn_np", "", "\\pipe\\nobody"), "x"); },
       StatusCode::kServerUnavailable},
  };
  for (const Case& c : cases) EXPECT_EQ(StatusOf(c.call), c.status) << c.name;
  EXPECT_EQ(Echo(binding, "still fine"), "echo:still fine");
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
  Binding slow = Tcp();
  std::atomic<uint32_t> status{0};
  std::thread caller([&] { status = StatusOf([&] { Sleep(slow, 1500); }); });
  std::this_thread::sleep_for(300ms);
  server_->StopListening();
  caller.join();
  EXPECT_EQ(status.load(), StatusCode::kCallFailed);

  // While stopping, a call in progress finishes and a new one on an open connection is refused.
  Start();
  Binding steady = Tcp();
  std::atomic<uint32_t> running{99}, late{99};
  std::thread first([&] { running = StatusOf([&] { Sleep(steady, 600); }); });
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(Echo(steady, "pooled"), "echo:pooled");  // leaves a second bound connection in the pool
  std::thread stopper([&] { server_->StopListening(); });
  std::this_thread::sleep_for(100ms);
  late = StatusOf([&] { Echo(steady, "late"); });
  first.join();
  stopper.join();
  EXPECT_EQ(running.load(), 0u);
  EXPECT_EQ(late.load(), StatusCode::kServerTooBusy);
}

TEST_F(ServerClientTest, PooledConnectionsSurviveAServerRestart) {
  Start();
  Binding binding = Tcp();
  const std::string port = std::to_string(server_->TcpPort());
  EXPECT_EQ(Echo(binding, "one"), "echo:one");
  server_->StopListening();
  // The pooled connection is dead now; the next call must notice and connect afresh.
  server_ = std::make_unique<Server>();
  ASSERT_TRUE(server_->RegisterInterface(Testing::MakeTestInterface()));
  ASSERT_TRUE(server_->Listen("ncacn_ip_tcp", port).ok());
  EXPECT_EQ(Echo(binding, "two"), "echo:two");
}

TEST_F(ServerClientTest, ManyCallsAtOnce) {
  Start();
  constexpr int kThreads = 32;
  constexpr int kCalls = 50;
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      Binding binding = t % 2 ? Tcp() : Pipe();
      for (int i = 0; i < kCalls; ++i) {
        std::string text = std::to_string(t) + "/" + std::to_string(i);
        if (Echo(binding, text) == "echo:" + text) ++good;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(good.load(), kThreads * kCalls);
}

int ThreadCount() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  }
  return -1;
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
  for (int i = 0; i < kCalls; ++i) {
    threads.emplace_back([&] {
      Sleep(Tcp(), 500);
      ++done;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(done.load(), kCalls);
  EXPECT_LT(Clock::now() - started, 4s);
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
  for (const Binding& binding : {Tcp(), Pipe()}) {
    Arguments args(2);
    args.SetLong(0, 200);
    binding.Call(Testing::TestInterfaceId(), Op::kWhoAmI, Testing::WhoAmISpec(), args);
    ASSERT_EQ(args.ResultLong(), 0);
    std::string who = args.Text(1).c_str();
    if (binding.ProtocolSequence() == "ncacn_np") {
      EXPECT_EQ(who, "uid=" + std::to_string(getuid()) + " peer=" + pipes_ + "/dcerpc-test");
    } else {
      EXPECT_EQ(who, "uid=none peer=127.0.0.1");
    }
  }
}

TEST_F(ServerClientTest, TcpEndpointServesIpv6Too) {
  Start();
  UniqueFd probe(socket(AF_INET6, SOCK_STREAM, 0));
  if (!probe.Valid()) GTEST_SKIP() << "no IPv6 here";
  Binding binding("ncacn_ip_tcp", "::1", std::to_string(server_->TcpPort()));
  Arguments args(2);
  args.SetLong(0, 100);
  binding.Call(Testing::TestInterfaceId(), Op::kWhoAmI, Testing::WhoAmISpec(), args);
  EXPECT_EQ(std::string(args.Text(1).c_str()), "uid=none peer=::1");
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
      {"ncacn_ip_tcp", "http", StatusCode::kInvalidEndpointFormat},
      {"ncacn_ip_tcp", "65536", StatusCode::kInvalidEndpointFormat},
      {"ncacn_np", "pipe-without-prefix", StatusCode::kInvalidEndpointFormat},
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
  {
    Listener stale = OpenPipeListener(socketPath, 1);
    ASSERT_TRUE(stale.status.ok());
  }
  ASSERT_EQ(stat(socketPath.c_str(), &info), 0);
  Start();
  EXPECT_EQ(Echo(Pipe(), "again"), "echo:again");
}

TEST_F(ServerClientTest, HalfReceivedPdusTimeOut) {
  ServerOptions options;
  options.receiveTimeout = 300ms;
  Start(options);
  Listener client = ConnectTcp("127.0.0.1", server_->TcpPort(), 1s);
  ASSERT_TRUE(client.status.ok());
  const uint8_t partial[] = {5, 0, 11, 3, 0x10, 0, 0};
  ASSERT_EQ(WriteAll(client.fd.Get(), partial, Clock::now() + 1s), IoResult::kOk);
  uint8_t byte;
  auto started = Clock::now();
  // The server closes the connection without an answer.
  EXPECT_EQ(ReadExact(client.fd.Get(), {&byte, 1}, Clock::now() + 5s), IoResult::kClosed);
  EXPECT_LT(Clock::now() - started, 3s);
  // Trickling a long bind byte by byte (it would take 18 s) does not keep it alive either.
  std::vector<uint8_t> bind;
  EncodeBind(PduType::kBind, 1,
             BindPdu{5840, 5840, 0, std::vector<ContextElement>(20, {0, Testing::TestInterfaceId(), {Ndr20Syntax()}})},
             bind);
  Listener trickler = ConnectTcp("127.0.0.1", server_->TcpPort(), 1s);
  started = Clock::now();
  bool closed = false;
  for (size_t i = 0; i < bind.size() && !closed && Clock::now() - started < 5s; ++i) {
    WriteAll(trickler.fd.Get(), {&bind[i], 1}, Clock::now() + 1s);
    std::this_thread::sleep_for(20ms);
    closed = recv(trickler.fd.Get(), &byte, 1, MSG_DONTWAIT) == 0;
  }
  EXPECT_TRUE(closed);
  EXPECT_LT(Clock::now() - started, 3s);
  // An idle, fully bound connection is not timed out.
  EXPECT_EQ(Echo(Tcp(), "x"), "echo:x");
  std::this_thread::sleep_for(700ms);
  EXPECT_EQ(Echo(Tcp(), "y"), "echo:y");
}

TEST_F(ServerClientTest, ConnectionLimit) {
  ServerOptions options;
  options.maxConnections = 3;
  Start(options);
  std::vector<Listener> held;
  for (int i = 0; i < 3; ++i) held.push_back(ConnectTcp("127.0.0.1", server_->TcpPort(), 1s));
  std::this_thread::sleep_for(100ms);
  Listener extra = ConnectTcp("127.0.0.1", server_->TcpPort(), 1s);
  ASSERT_TRUE(extra.status.ok());
  uint8_t byte;
  EXPECT_EQ(ReadExact(extra.fd.Get(), {&byte, 1}, Clock::now() + 2s), IoResult::kClosed);
  held.clear();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(Echo(Tcp(), "room again"), "echo:room again");
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
    UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) break;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server_->TcpPort());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) clients.push_back(std::move(fd));
  }
  std::this_thread::sleep_for(200ms);
  rusage before, after;
  getrusage(RUSAGE_SELF, &before);
  std::this_thread::sleep_for(500ms);
  getrusage(RUSAGE_SELF, &after);
  auto cpuMs = [](const rusage& u) { return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
                                            (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0; };
  EXPECT_LT(cpuMs(after) - cpuMs(before), 200.0);

  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &original), 0);
  clients.clear();
  EXPECT_EQ(Echo(Tcp(), "recovered"), "echo:recovered");
}

}  // namespace
}  // namespace Korvane::Pictora::DceRpc
