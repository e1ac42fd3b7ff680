// A fleet of stand-in providers in one process, against a running server: every provider has
// its own port and name, answers pings and load queries as pictora-provider does, and lives with
// the server through the same Registration (register, update every period, register again
// after a random wait once the server forgot it). All provider ports are endpoints of one
// runtime server, so the fleet costs threads by calls in progress, not by providers. Each
// provider calls the server from its own loopback address (127.0.x.y), as a fleet of machines
// would, so the server's per-peer limits apply as they would to that fleet.
//
// Optional lookup clients ask the server for one service over and over. One line per second on
// standard output: registered providers, pings and load queries answered in that second,
// lookups and their p99 (seconds on the wall clock, so that the lines of two fleets line up); a
// "pass" line per liveness pass seen (pings after a gap of 15 s start the next); at the end the
// lookups' totals, and with --lookup-log every lookup's end (wall-clock ms) and time.
//
//   pictora_fleet --server HOST:PORT [--providers N] [--services-per-provider S]
//                 [--shared NAME:COUNT]... [--drivers T] [--seconds D] [--lookup-clients C]
//                 [--lookup-service NAME] [--update-ms MS] [--reregister-ms MIN:MAX]
//                 [--until-registered] [--quiet] [--base-port P] [--pool-services M]
//                 [--lookup-log FILE] [--first K]
// --shared NAME:COUNT: the first COUNT providers serve NAME (counted in their services per
// provider); the others come from a pool of M services, Fleet/Pool0000 on (--pool-services M,
// default 1000). The server knows only the services of its services file: list them all there. --until-registered stops
// once all are. The providers' log lines go to standard error unless --quiet. Provider ports are taken in turn from P
// (default 20000), skipping those in use. With --first K the providers are numbers K to K + N - 1 (names, addresses,
// services), so that several fleets, each under its own descriptor limit (a provider costs up to three), make one
// larger fleet.
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <queue>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "dcerpc/Client.h"
#include "dcerpc/Server.h"
#include "interfaces/ProviderProcedureShapes.h"
#include "interfaces/ServerProcedureShapes.h"
#include "tools/common/ServerClient.h"
#include "tools/provider/Registration.h"
#include "tools/provider/StandInProvider.h"

namespace Tools = Korvane::Pictora::Tools;
namespace DceRpc = Korvane::Pictora::DceRpc;
namespace Rpc = Korvane::Pictora::Rpc;
using Clock = std::chrono::steady_clock;

namespace {

struct Shared {
  std::string name;
  int count = 0;
};

struct FleetOptions {
  std::string server;
  int providers = 1000;
  int servicesPerProvider = 10;
  std::vector<Shared> shared;
  int drivers = 16;
  double seconds = 0;  // 0: until a signal
  int lookupClients = 0;
  std::string lookupService;
  int updateMs = 10000;
  int reregisterMinMs = 1000;
  int reregisterMaxMs = 10000;
  bool untilRegistered = false;
  bool quiet = false;
  int basePort = 20000;
  int poolServices = 1000;
  int first = 0;          // index of the first provider: several fleets make one larger one
  std::string lookupLog;  // every lookup: wall-clock ms at its end, its time in ms
};

// The name of pool service `index`: the services file must list Fleet/Pool0000 and on.
std::string PoolService(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "Fleet/Pool%04d", index);
  return name;
}

bool ParseOptions(int argc, char** argv, FleetOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--until-registered") {
      options.untilRegistered = true;
      continue;
    }
    if (name == "--quiet") {
      options.quiet = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (name == "--server")
      options.server = value;
    else if (name == "--providers")
      options.providers = std::atoi(value.c_str());
    else if (name == "--services-per-provider")
      options.servicesPerProvider = std::atoi(value.c_str());
    else if (name == "--base-port")
      options.basePort = std::atoi(value.c_str());
    else if (name == "--first")
      options.first = std::max(0, std::atoi(value.c_str()));
    else if (name == "--lookup-log")
      options.lookupLog = value;
    else if (name == "--pool-services")
      options.poolServices = std::max(1, std::atoi(value.c_str()));
    else if (name == "--drivers")
      options.drivers = std::max(1, std::atoi(value.c_str()));
    else if (name == "--seconds")
      options.seconds = std::atof(value.c_str());
    else if (name == "--lookup-clients")
      options.lookupClients = std::atoi(value.c_str());
    else if (name == "--lookup-service")
      options.lookupService = value;
    else if (name == "--update-ms")
      options.updateMs = std::atoi(value.c_str());
    else if (name == "--reregister-ms") {
      const size_t colon = value.find(':');
      if (colon == std::string::npos) return false;
      options.reregisterMinMs = std::atoi(value.substr(0, colon).c_str());
      options.reregisterMaxMs = std::atoi(value.substr(colon + 1).c_str());
    } else if (name == "--shared") {
      const size_t colon = value.rfind(':');
      if (colon == std::string::npos) return false;
      options.shared.push_back({value.substr(0, colon), std::atoi(value.substr(colon + 1).c_str())});
    } else {
      return false;
    }
  }
  return !options.server.empty() && options.providers >= 0 && options.first + options.providers <= 40000;
}

// Loopback address number `index`, from 127.0.1.1 on (127.0.0.x is left to other clients).
std::string LoopbackAddress(int index) {
  return "127." + std::to_string(index / 62500) + "." + std::to_string(index / 250 % 250 + 1) + "." +
         std::to_string(index % 250 + 1);
}

struct FleetProvider {
  Tools::ProviderOptions options;
  std::unique_ptr<Tools::StandInProvider> standIn;
  std::map<uint16_t, DceRpc::Procedure> procedures;
  std::unique_ptr<Tools::Registration> registration;
  std::atomic<bool> registered{false};
};

// Seconds since the start, counted per second.
class PerSecond {
 public:
  explicit PerSecond(size_t seconds) : counts_(seconds) {}
  void Add(size_t second) {
    if (second < counts_.size()) counts_[second].fetch_add(1, std::memory_order_relaxed);
  }
  long At(size_t second) const { return second < counts_.size() ? counts_[second].load() : 0; }

 private:
  std::vector<std::atomic<long>> counts_;
};

std::atomic<bool> stopRequested{false};
void OnSignal(int) { stopRequested = true; }

class Fleet {
 public:
  explicit Fleet(const FleetOptions& options)
      : options_(options),
        start_(Clock::now()),
        startEpochSecond_(EpochMs() / 1000),
        nextPort_(options.basePort),
        pings_(kMaxSeconds),
        loadQueries_(kMaxSeconds) {}

  bool Start() {
    DceRpc::ServerOptions serverOptions;
    // Every call comes from the one server: its connections to the providers are all one peer.
    serverOptions.maxConnectionsPerPeer = static_cast<size_t>(options_.providers) * 2 + 64;
    serverOptions.maxConnections = serverOptions.maxConnectionsPerPeer + 1024;
    serverOptions.lingerMicros = std::chrono::microseconds(2000);  // as pictora-provider
    rpc_ = std::make_unique<DceRpc::Server>(serverOptions);
    rpc_->RegisterInterface(Dispatcher());
    providers_.resize(static_cast<size_t>(options_.providers));
    for (int i = 0; i < options_.providers; ++i) {
      auto& provider = providers_[static_cast<size_t>(i)];
      provider = std::make_unique<FleetProvider>();
      if (!StartProvider(options_.first + i, *provider)) return false;
    }
    return true;
  }

  void Run() {
    std::vector<std::thread> threads;
    for (int d = 0; d < options_.drivers; ++d) threads.emplace_back([this, d] { Drive(d); });
    for (int c = 0; c < options_.lookupClients; ++c) threads.emplace_back([this, c] { LookUp(c); });
    Report();
    for (auto& thread : threads) thread.join();
    Summarize();
    for (auto& provider : providers_) provider->standIn->Release();
    rpc_->StopListening();
  }

 private:
  static constexpr size_t kMaxSeconds = 86400;

  static long EpochMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
  // Seconds counted on the wall clock, so that lines of several fleets line up.
  size_t Second() const { return static_cast<size_t>(EpochMs() / 1000 - startEpochSecond_); }

  // Pings come in passes; one that follows the last by more than this starts the next pass.
  static constexpr long kPassGapMs = 15000;

  void NotePing() {
    const long now = EpochMs();
    std::lock_guard lock(passMutex_);
    if (passes_.empty() || now - passes_.back().lastMs > kPassGapMs) passes_.push_back({now, now, 0});
    passes_.back().lastMs = now;
    ++passes_.back().pings;
  }

  // Passes that ended since the last call: "pass" lines with the first and last ping's time.
  void ReportPasses(bool all) {
    std::lock_guard lock(passMutex_);
    const long now = EpochMs();
    for (; reportedPasses_ < passes_.size(); ++reportedPasses_) {
      const Pass& pass = passes_[reportedPasses_];
      if (!all && now - pass.lastMs <= kPassGapMs) break;
      std::printf("pass first_ping_ms=%ld last_ping_ms=%ld duration_ms=%ld pings=%ld\n", pass.firstMs, pass.lastMs,
                  pass.lastMs - pass.firstMs, pass.pings);
    }
  }

  bool Stopping() const {
    if (stopRequested) return true;
    if (options_.seconds > 0 && Clock::now() - start_ > std::chrono::duration<double>(options_.seconds)) return true;
    return options_.untilRegistered && registered_.load() == options_.providers;
  }

  // The provider interface, each call handed to the stand-in behind the port it came in on.
  DceRpc::InterfaceDefinition Dispatcher() {
    DceRpc::InterfaceDefinition definition;
    definition.id = Rpc::ProviderInterfaceId();
    for (uint16_t opnum = 0; opnum < Rpc::ProviderOp::kCount; ++opnum) {
      definition.procedures[opnum] =
          DceRpc::Procedure{Rpc::ProviderSpecs::ForOpnum(opnum),
                            [this, opnum](const DceRpc::CallContext& context, DceRpc::Arguments& args) {
                              auto found = byEndpoint_.find(context.localEndpoint);
                              if (found == byEndpoint_.end())
                                throw DceRpc::CallRefused(DceRpc::FaultStatus::kAccessDenied);
                              if (opnum == Rpc::ProviderOp::kPing) {
                                pings_.Add(Second());
                                NotePing();
                              }
                              if (opnum == Rpc::ProviderOp::kGetLoad) loadQueries_.Add(Second());
                              found->second->procedures.at(opnum).handler(context, args);
                            }};
    }
    return definition;
  }

  bool StartProvider(int index, FleetProvider& provider) {
    char name[32];
    std::snprintf(name, sizeof name, "Fleet%05d", index);
    Tools::ProviderOptions& options = provider.options;
    options.name = name;
    options.servers = {options_.server};
    options.hostMachine = "127.0.0.1";
    options.sourceAddress = LoopbackAddress(index);
    options.load = static_cast<double>(index % 97) / 100.0;  // spread, so that lookups rank something
    options.updatePeriod = std::chrono::milliseconds(options_.updateMs);
    options.reregisterMin = std::chrono::milliseconds(options_.reregisterMinMs);
    options.reregisterMax = std::chrono::milliseconds(options_.reregisterMaxMs);
    for (const Shared& shared : options_.shared) {
      if (index < shared.count && static_cast<int>(options.services.size()) < options_.servicesPerProvider)
        options.services.push_back(shared.name);
    }
    // The rest from the pool, consecutive ones per provider, so every pool service has about
    // providers x services / pool providers.
    for (int s = 0; static_cast<int>(options.services.size()) < options_.servicesPerProvider; ++s)
      options.services.push_back(PoolService((index * options_.servicesPerProvider + s) % options_.poolServices));
    provider.standIn = std::make_unique<Tools::StandInProvider>(Tools::StandInSettings{
        options.name, options.hostMachine, options.load, false, false, std::chrono::microseconds(0)});
    provider.standIn->SetServices(options.services);
    provider.procedures = provider.standIn->Definition().procedures;
    // One endpoint per provider on the one server; its port is the provider's identity. Ports
    // are taken in turn from the base, below the kernel's range for outgoing connections.
    DceRpc::RpcStatus listening;
    do {
      listening = rpc_->Listen("ncacn_ip_tcp", std::to_string(nextPort_++));
    } while (!listening.ok() && nextPort_ < 65536);
    if (!listening.ok()) {
      std::fprintf(stderr, "provider %d cannot listen: %s\n", index, listening.text.c_str());
      return false;
    }
    const std::string endpoint = std::to_string(nextPort_ - 1);
    provider.standIn->SetEndpoint(endpoint);
    byEndpoint_[endpoint] = &provider;
    provider.registration = std::make_unique<Tools::Registration>(options, *provider.standIn, endpoint);
    return true;
  }

  // One driver steps its share of the registrations, each when it is due.
  void Drive(int driver) {
    using Due = std::pair<Clock::time_point, size_t>;
    std::priority_queue<Due, std::vector<Due>, std::greater<>> due;
    for (size_t i = static_cast<size_t>(driver); i < providers_.size(); i += static_cast<size_t>(options_.drivers))
      due.emplace(Clock::now(), i);
    while (!Stopping() && !due.empty()) {
      auto [when, index] = due.top();
      if (when > Clock::now()) {
        std::this_thread::sleep_for(std::min<Clock::duration>(when - Clock::now(), std::chrono::milliseconds(50)));
        continue;
      }
      due.pop();
      FleetProvider& provider = *providers_[index];
      const Clock::time_point next = provider.registration->Step();
      const bool now = provider.registration->Registered();
      if (now != provider.registered.exchange(now)) {
        registered_ += now ? 1 : -1;
        (now ? registrations_ : losses_)++;
      }
      due.emplace(next, index);
    }
  }

  // Lookup client number `client`, from 127.0.0.(client + 1) like lookup_bench.
  void LookUp(int client) {
    Tools::ServerClient server(*Tools::TcpBindingFor(options_.server));
    server.Binding().SetSourceAddress("127.0.0." + std::to_string(client + 1));
    std::string error;
    int32_t size = 0;
    while (!Stopping()) {
      try {
        if (server.SessionId().empty() && !server.OpenSession(Tools::SessionInfoXml("FleetLookup"), error)) {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          continue;
        }
        const Clock::time_point started = Clock::now();
        const int32_t result = Lookup(server, size);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        if (result > 0) {
          size = result;  // learnt the size the answer needs; ask again with it
          continue;
        }
        std::lock_guard lock(lookupMutex_);
        if (result == 0)
          lookups_.push_back({EpochMs(), ms});
        else
          ++lookupErrors_;
      } catch (const DceRpc::RpcError&) {
        std::lock_guard lock(lookupMutex_);
        ++lookupErrors_;
        server.ForgetSession();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
    server.CloseSession();
  }

  int32_t Lookup(Tools::ServerClient& server, int32_t size) {
    namespace P = Rpc::NameBufferParam;
    DceRpc::Arguments args(5);
    args.SetText(P::kSession, server.SessionId());
    args.SetText(P::kName, options_.lookupService);
    args.SetLong(P::kSize, size);
    args.SetText(P::kError, std::string(4000, ' '));
    server.Binding().Call(Rpc::ServerInterfaceId(), Rpc::ServerOp::kGetServiceProvidersFor,
                          Rpc::ServerProcedureSpec(Rpc::ServerOp::kGetServiceProvidersFor), args);
    const int32_t result = args.ResultLong();
    if (result < 0) server.ForgetSession();
    return result;
  }

  void Report() {
    size_t reported = Second();
    long nextAllRegistered = options_.providers;
    std::printf("fleet: %d providers x %d services, %d drivers, %d lookup clients\n", options_.providers,
                options_.servicesPerProvider, options_.drivers, options_.lookupClients);
    std::fflush(stdout);
    while (!Stopping()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      // After a restart of the server, again once every provider registered anew.
      if (options_.providers > 0 && registered_.load() == options_.providers &&
          registrations_.load() >= nextAllRegistered) {
        std::printf("all %d registered after %.2f s at epoch_ms=%ld (registrations %ld)\n", options_.providers,
                    std::chrono::duration<double>(Clock::now() - start_).count(), EpochMs(), registrations_.load());
        std::fflush(stdout);
        nextAllRegistered = registrations_.load() + options_.providers;
      }
      const size_t second = Second();
      if (second == reported) continue;
      const size_t last = second - 1;
      std::vector<double> latencies = LookupsIn(last, last);
      ReportPasses(false);
      std::printf(
          "t=%zu epoch=%ld registered=%d registrations=%ld losses=%ld pings=%ld load_queries=%ld "
          "lookups=%zu lookup_p50_ms=%.1f lookup_p99_ms=%.1f\n",
          last, startEpochSecond_ + static_cast<long>(last), registered_.load(), registrations_.load(), losses_.load(),
          pings_.At(last), loadQueries_.At(last), latencies.size(), Percentile(latencies, 0.5),
          Percentile(latencies, 0.99));
      std::fflush(stdout);
      reported = second;
    }
  }

  std::vector<double> LookupsIn(size_t first, size_t last) {
    std::lock_guard lock(lookupMutex_);
    std::vector<double> latencies;
    for (const auto& [epochMs, ms] : lookups_) {
      const auto second = static_cast<size_t>(epochMs / 1000 - startEpochSecond_);
      if (second >= first && second <= last) latencies.push_back(ms);
    }
    return latencies;
  }

  static double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    const size_t index =
        std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(index), values.end());
    return values[index];
  }

  // The passes not reported yet, every lookup's time to the log, the totals.
  void Summarize() {
    ReportPasses(true);
    std::vector<double> all;
    {
      std::lock_guard lock(lookupMutex_);
      for (const auto& [epochMs, ms] : lookups_) all.push_back(ms);
      if (!options_.lookupLog.empty()) {
        if (FILE* log = std::fopen(options_.lookupLog.c_str(), "w")) {
          for (const auto& [epochMs, ms] : lookups_) std::fprintf(log, "%ld %.3f\n", epochMs, ms);
          std::fclose(log);
        }
      }
    }
    if (options_.lookupClients > 0) {
      const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
      std::printf("lookups: %zu in %.1f s, p50 %.2f ms, p99 %.2f ms, errors %ld\n", all.size(), seconds,
                  Percentile(all, 0.5), Percentile(all, 0.99), lookupErrors_);
    }
    std::printf("registered at the end: %d of %d\n", registered_.load(), options_.providers);
    std::fflush(stdout);
  }

  const FleetOptions options_;
  const Clock::time_point start_;
  const long startEpochSecond_;
  std::unique_ptr<DceRpc::Server> rpc_;
  int nextPort_;
  std::vector<std::unique_ptr<FleetProvider>> providers_;
  std::unordered_map<std::string, FleetProvider*> byEndpoint_;  // filled before any call comes
  std::atomic<int> registered_{0};
  std::atomic<long> registrations_{0};
  std::atomic<long> losses_{0};
  PerSecond pings_;
  PerSecond loadQueries_;
  std::mutex lookupMutex_;
  std::vector<std::pair<long, double>> lookups_;  // wall-clock ms at the end, ms taken
  struct Pass {
    long firstMs;
    long lastMs;
    long pings;
  };
  std::mutex passMutex_;
  std::vector<Pass> passes_;
  size_t reportedPasses_ = 0;
  long lookupErrors_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  FleetOptions options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: pictora_fleet --server HOST:PORT [--providers N] [--services-per-provider S] "
                 "[--shared NAME:COUNT]... [--drivers T] [--seconds D] [--lookup-clients C] [--lookup-service NAME] "
                 "[--update-ms MS] [--reregister-ms MIN:MAX] [--until-registered] [--quiet] [--base-port P] "
                 "[--pool-services M] [--lookup-log FILE] [--first K]\n");
    return 2;
  }
  // A listener, a connection to the server and one from it per provider.
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur < static_cast<rlim_t>(options.providers) * 3 + 256)
    std::fprintf(stderr, "warning: %lu descriptors may be too few for %d providers\n",
                 static_cast<unsigned long>(limit.rlim_cur), options.providers);
  if (options.quiet) std::freopen("/dev/null", "w", stderr);
  // Each provider keeps its connection to the server, as one process per provider would.
  DceRpc::SetClientConnectionPoolKeys(static_cast<size_t>(options.providers + options.lookupClients) + 64);
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  signal(SIGPIPE, SIG_IGN);
  Fleet fleet(options);
  if (!fleet.Start()) return 1;
  fleet.Run();
  return 0;
}
