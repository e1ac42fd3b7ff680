// Load on the real server process: N clients connect at once, each opens a session and runs a
// few procedures, while lookup clients keep the server's registry lock busy by asking where a
// service runs whose only provider is slow to tell its load. Every call must be answered
// without error; the figures are the wall time, the per-client latency and the server's peak
// descriptors and threads.
//
//   pictora_server_load [--server PATH] [--clients N] [--lookups N] [--lookup-rounds N]
//                       [--load-delay-ms MS]
// The lookup clients count toward N connections: with the defaults 1224 session clients and 10
// lookup clients are connected at once, the server's limit of calls in progress.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dcerpc/Client.h"
#include "dcerpc/Server.h"
#include "interfaces/ProviderProcedureShapes.h"
#include "interfaces/ServerProcedureShapes.h"

extern char** environ;

namespace {

using namespace Korvane::Pictora;
using Clock = std::chrono::steady_clock;
using DceRpc::Arguments;

struct Options {
  std::string server;
  int clients = 1234;
  int lookups = 10;
  int lookupRounds = 5;
  int loadDelayMs = 200;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  options.server = (std::filesystem::path(argv[0]).parent_path() / "pictora-server").string();
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--server") options.server = value;
    else if (name == "--clients") options.clients = std::stoi(value);
    else if (name == "--lookups") options.lookups = std::stoi(value);
    else if (name == "--lookup-rounds") options.lookupRounds = std::stoi(value);
    else if (name == "--load-delay-ms") options.loadDelayMs = std::stoi(value);
  }
  return options;
}

// ---- the slow provider ------------------------------------------------------------------------

std::unique_ptr<DceRpc::Server> StartSlowProvider(int delayMs, std::atomic<int>& loadQueries) {
  DceRpc::InterfaceDefinition definition;
  definition.id = Rpc::ProviderInterfaceId();
  definition.procedures[Rpc::ProviderOp::kPing] = {
      Rpc::ProviderSpecs::Ping(), [](const DceRpc::CallContext&, Arguments& args) { args.SetResultSmall(1); }};
  definition.procedures[Rpc::ProviderOp::kGetLoad] = {
      Rpc::ProviderSpecs::GetLoad(), [delayMs, &loadQueries](const DceRpc::CallContext&, Arguments& args) {
        ++loadQueries;
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        args.SetDouble(0, 0.5);
      }};
  auto server = std::make_unique<DceRpc::Server>();
  server->RegisterInterface(std::move(definition));
  if (!server->Listen("ncacn_ip_tcp", "0").ok()) return nullptr;
  return server;
}

// ---- the server process -----------------------------------------------------------------------

struct ServerProcess {
  pid_t pid = -1;
  std::string folder;
  int port = 0;
};

int FreePort() {
  DceRpc::Server probe;
  probe.Listen("ncacn_ip_tcp", "0");
  int port = probe.TcpPort();
  probe.StopListening();
  return port;
}

bool StartServer(const Options& options, ServerProcess& process) {
  char templ[] = "/tmp/pictora-load-XXXXXX";
  if (mkdtemp(templ) == nullptr) return false;
  process.folder = templ;
  for (const char* sub : {"/appdata", "/pipe", "/docs"}) std::filesystem::create_directories(process.folder + sub);
  std::ofstream(process.folder + "/pictora.conf") << "Version=1.0.0.0\n";
  // The service the clients look up, meant to run on the slow provider.
  const std::string serverFolder = process.folder + "/appdata/Korvane/Pictora/Server";
  std::filesystem::create_directories(serverFolder);
  std::ofstream(serverFolder + "/Pictora.Services")
      << "<?xml version=\"1.0\" standalone=\"yes\"?>\n<Pictora><Server><Services>\n"
         "<Service><Name>Maps</Name><Source>src</Source><State>On</State>"
         "<ServiceProviders>Slow</ServiceProviders></Service>\n</Services></Server></Pictora>\n";
  process.port = FreePort();
  setenv("PICTORA_COMMON_APPDATA", (process.folder + "/appdata").c_str(), 1);
  setenv("PICTORA_REGISTRY_FILE", (process.folder + "/pictora.conf").c_str(), 1);
  setenv("PICTORA_PIPE_DIR", (process.folder + "/pipe").c_str(), 1);
  setenv("PICTORA_DOCUMENTS", (process.folder + "/docs").c_str(), 1);
  unsetenv("NOTIFY_SOCKET");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, (process.folder + "/stdout.txt").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (process.folder + "/stderr.txt").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const std::string port = std::to_string(process.port);
  std::vector<char*> argv{const_cast<char*>(options.server.c_str()), const_cast<char*>("-console"),
                          const_cast<char*>(""), const_cast<char*>(port.c_str()), nullptr};
  const int rc = posix_spawn(&process.pid, options.server.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0;
}

void StopServer(ServerProcess& process) {
  if (process.pid > 0) {
    kill(process.pid, SIGTERM);
    int status = 0;
    waitpid(process.pid, &status, 0);
    std::printf("server exit status: %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
  std::filesystem::remove_all(process.folder);
}

long CountEntries(const std::string& folder) {
  std::error_code error;
  long count = 0;
  for (auto it = std::filesystem::directory_iterator(folder, error); !error && it != std::filesystem::directory_iterator();
       it.increment(error))
    ++count;
  return count;
}

long ThreadCount(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Threads:", 0) == 0) return std::stol(line.substr(8));
  return 0;
}

// ---- calls ------------------------------------------------------------------------------------

// Loopback address number `index` (127.0.0.1, 127.0.0.2, ...): the runtime's client pools one
// connection per address, so distinct addresses give each client a connection of its own that
// stays open, and all of them are open together.
std::string LoopbackAddress(int index) {
  return "127.0." + std::to_string(index / 250) + "." + std::to_string(index % 250 + 1);
}

struct Wire {
  DceRpc::Binding binding;

  explicit Wire(int port, const std::string& address = "127.0.0.1")
      : binding("ncacn_ip_tcp", address, std::to_string(port)) {
    binding.SetTimeouts({std::chrono::milliseconds(60000), std::chrono::milliseconds(300000)});
  }

  Arguments Call(uint16_t opnum, Arguments args) const {
    binding.Call(Rpc::ServerInterfaceId(), opnum, Rpc::ServerProcedureSpec(opnum), args);
    return args;
  }

  std::string OpenSession(const std::string& info) const {
    Arguments args(3);
    args.SetText(Rpc::OpenSessionParam::kInfo, info);
    args.SetText(Rpc::OpenSessionParam::kSessionId, std::string(36, 'x'));
    args.SetText(Rpc::OpenSessionParam::kError, std::string(4000, 'e'));
    args = Call(Rpc::ServerOp::kOpenSession, std::move(args));
    if (args.ResultSmall() != 1) throw std::runtime_error("OpenSession failed: " + args.Text(2));
    return args.Text(Rpc::OpenSessionParam::kSessionId);
  }

  bool NameData(uint16_t opnum, const std::string& sid, const std::string& name, const std::string& data) const {
    Arguments args(5);
    args.SetText(Rpc::NameDataParam::kSession, sid);
    args.SetText(Rpc::NameDataParam::kName, name);
    args.SetLong(Rpc::NameDataParam::kLength, static_cast<int32_t>(data.size() + 1));
    args.SetText(Rpc::NameDataParam::kData, data + std::string(1, '\0'));
    args.SetText(Rpc::NameDataParam::kError, std::string(4000, 'e'));
    return Call(opnum, std::move(args)).ResultSmall() == 1;
  }

  // The two-step buffer reply of a name + buffer procedure; throws on failure.
  std::string NameBuffer(uint16_t opnum, const std::string& sid, const std::string& name) const {
    int32_t size = 256;
    for (int attempt = 0; attempt < 2; ++attempt) {
      Arguments args(5);
      args.SetText(Rpc::NameBufferParam::kSession, sid);
      args.SetText(Rpc::NameBufferParam::kName, name);
      args.SetLong(Rpc::NameBufferParam::kSize, size);
      args.SetText(Rpc::NameBufferParam::kError, std::string(4000, 'e'));
      args = Call(opnum, std::move(args));
      const int32_t result = args.ResultLong();
      if (result == 0) return args.Text(Rpc::NameBufferParam::kBuffer).c_str();
      if (result < 0) throw std::runtime_error("procedure failed: " + args.Text(4).substr(0, 200));
      size = result;
    }
    throw std::runtime_error("buffer size kept growing");
  }

  bool TextCall(uint16_t opnum, const std::string& text) const {
    Arguments args(1);
    args.SetText(0, text);
    return Call(opnum, std::move(args)).ResultSmall() == 1;
  }
};

struct Tally {
  std::mutex mutex;
  std::vector<double> latenciesMs;
  std::atomic<int> errors{0};
  std::string firstError;

  void Fail(const std::string& what) {
    std::lock_guard lock(mutex);
    if (errors++ == 0) firstError = what;
  }
  void Done(Clock::time_point start) {
    std::lock_guard lock(mutex);
    latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
};

void SessionClient(int port, int index, std::latch& ready, Tally& tally) {
  const Wire wire(port, LoopbackAddress(index));
  ready.arrive_and_wait();
  const auto start = Clock::now();
  try {
    const std::string sid = wire.OpenSession("<SessionInfo><Application>Load</Application><MachineName>m" +
                                             std::to_string(index) + "</MachineName></SessionInfo>");
    Arguments version(1);
    version.SetText(0, std::string(20, 'v'));
    if (wire.Call(Rpc::ServerOp::kGetVersion, std::move(version)).Text(0) != "1.0.0.2")
      throw std::runtime_error("wrong version");
    if (!wire.TextCall(Rpc::ServerOp::kGetSession, sid)) throw std::runtime_error("session not found");
    if (wire.NameBuffer(Rpc::ServerOp::kGetServices, sid, "Slow").find("Maps") == std::string::npos)
      throw std::runtime_error("services of Slow without Maps");
    if (wire.NameBuffer(Rpc::ServerOp::kGetServicesForServiceProvider, "", "Slow").empty())
      throw std::runtime_error("no services for Slow");
    if (!wire.TextCall(Rpc::ServerOp::kCloseSession, sid)) throw std::runtime_error("close failed");
    tally.Done(start);
  } catch (const std::exception& e) {
    tally.Fail(e.what());
  }
}

void LookupClient(int port, int index, int rounds, Tally& tally) {
  const Wire wire(port, LoopbackAddress(index));
  try {
    const std::string sid = wire.OpenSession("<SessionInfo><Application>Viewer</Application></SessionInfo>");
    for (int i = 0; i < rounds; ++i) {
      const auto start = Clock::now();
      if (wire.NameBuffer(Rpc::ServerOp::kGetServiceProvidersFor, sid, "Maps").find("127.0.0.1") == std::string::npos)
        throw std::runtime_error("Maps lookup without the provider");
      tally.Done(start);
    }
    wire.TextCall(Rpc::ServerOp::kCloseSession, sid);
  } catch (const std::exception& e) {
    tally.Fail(e.what());
  }
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  std::atomic<int> loadQueries{0};
  auto provider = StartSlowProvider(options.loadDelayMs, loadQueries);
  ServerProcess server;
  if (!provider || !StartServer(options, server)) {
    std::fprintf(stderr, "could not start the provider or %s\n", options.server.c_str());
    return 1;
  }
  const Wire wire(server.port);
  std::string setupError;
  for (int attempt = 0; attempt < 150; ++attempt) {
    try {
      const std::string sid = wire.OpenSession("<SessionInfo><Application>Provider</Application></SessionInfo>");
      const std::string xml = "<ServiceProvider><Config><HostMachine>127.0.0.1</HostMachine><Endpoint>" +
                              std::to_string(provider->TcpPort()) +
                              "</Endpoint></Config><Dynamic><Load>0</Load></Dynamic></ServiceProvider>";
      if (!wire.NameData(Rpc::ServerOp::kAddServiceProvider, sid, "Slow", xml) ||
          !wire.NameData(Rpc::ServerOp::kAddServices, sid, "Slow",
                         "<Pictora><ImageServices><Service><Name>Maps</Name></Service></ImageServices></Pictora>"))
        setupError = "registration refused";
      else
        setupError.clear();
      break;
    } catch (const std::exception& e) {
      setupError = e.what();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  if (!setupError.empty()) {
    std::fprintf(stderr, "set-up failed: %s\n", setupError.c_str());
    StopServer(server);
    return 1;
  }

  std::atomic<bool> running{true};
  long peakFds = 0;
  long peakThreads = 0;
  std::thread monitor([&] {
    const std::string fdFolder = "/proc/" + std::to_string(server.pid) + "/fd";
    while (running.load()) {
      peakFds = std::max(peakFds, CountEntries(fdFolder));
      peakThreads = std::max(peakThreads, ThreadCount(server.pid));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });

  Tally sessions;
  Tally lookups;
  const int sessionClients = std::max(0, options.clients - options.lookups);
  std::vector<std::thread> threads;
  threads.reserve(static_cast<size_t>(options.clients));
  const auto start = Clock::now();
  std::latch ready(sessionClients + 1);
  for (int i = 0; i < sessionClients; ++i)
    threads.emplace_back([&, i] { SessionClient(server.port, i, ready, sessions); });
  // The lookups go first so that the session clients meet a registry lock that is held.
  for (int i = 0; i < options.lookups; ++i)
    threads.emplace_back([&, i] { LookupClient(server.port, sessionClients + i, options.lookupRounds, lookups); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ready.arrive_and_wait();
  for (auto& thread : threads) thread.join();
  const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  running = false;
  monitor.join();

  std::printf("connections at once: %d (%d session clients, %d lookup clients x %d rounds)\n", options.clients,
              sessionClients, options.lookups, options.lookupRounds);
  std::printf("provider load delay: %d ms; load queries answered: %d\n", options.loadDelayMs, loadQueries.load());
  std::printf("session clients done: %zu, errors: %d%s%s\n", sessions.latenciesMs.size(), sessions.errors.load(),
              sessions.errors ? " first: " : "", sessions.firstError.c_str());
  std::printf("lookups done: %zu, errors: %d%s%s\n", lookups.latenciesMs.size(), lookups.errors.load(),
              lookups.errors ? " first: " : "", lookups.firstError.c_str());
  std::printf("wall time: %.0f ms\n", wallMs);
  std::printf("session client latency ms: p50 %.0f, p99 %.0f, max %.0f\n", Percentile(sessions.latenciesMs, 0.5),
              Percentile(sessions.latenciesMs, 0.99), Percentile(sessions.latenciesMs, 1.0));
  std::printf("lookup latency ms: p50 %.0f, max %.0f\n", Percentile(lookups.latenciesMs, 0.5),
              Percentile(lookups.latenciesMs, 1.0));
  std::printf("server peak: %ld descriptors, %ld threads\n", peakFds, peakThreads);
  provider->StopListening();
  StopServer(server);
  return sessions.errors == 0 && lookups.errors == 0 ? 0 : 1;
}
