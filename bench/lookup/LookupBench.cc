// lookup_bench --server HOST:PORT --service NAME [--seconds S] [--connections N]... [--provider-port P]
//
// For each connection count, N threads call the server as fast as they can for S seconds: first
// the null call (procedure 0, the version), then the lookup (procedure 13 with a buffer large
// enough for one round trip). Prints calls per second and the p50/p99 latency of each.
//
// Every thread reaches the server through its own loopback address (127.0.0.1, 127.0.0.2, ...),
// so the client's connection pool gives each thread a connection of its own and the figure is
// N connections, never a pool being refilled. With --provider-port, one load query as the server
// makes it is also timed straight against that provider, to show what each of the lookup's
// three provider round trips costs.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "dcerpc/Client.h"
#include "rpc/ProviderCalls.h"
#include "rpc/ServerProcedureSpecs.h"
#include "tools/common/ServerClient.h"

namespace Tools = Korvane::Pictora::Tools;
namespace DceRpc = Korvane::Pictora::DceRpc;
namespace Rpc = Korvane::Pictora::Rpc;
using Clock = std::chrono::steady_clock;

namespace {

struct Figures {
  double perSecond = 0;
  double p50Us = 0;
  double p99Us = 0;
  long errors = 0;
};

constexpr int32_t kLookupBuffer = 65536;

// One lookup in one round trip: the answer fits the buffer.
bool Lookup(Tools::ServerClient& client, const std::string& service) {
  namespace P = Rpc::NameBufferParam;
  DceRpc::Arguments args(5);
  args.SetText(P::kSession, client.SessionId());
  args.SetText(P::kName, service);
  args.SetLong(P::kSize, kLookupBuffer);
  args.SetText(P::kError, std::string(4000, ' '));
  client.Binding().Call(Rpc::ServerInterfaceId(), Rpc::ServerOp::kGetServiceProvidersFor,
                        Rpc::ServerProcedureSpec(Rpc::ServerOp::kGetServiceProvidersFor), args);
  return args.ResultLong() == 0 && args.Text(P::kBuffer).find("<Endpoint>") != std::string::npos;
}

double Percentile(std::vector<double>& values, double fraction) {
  if (values.empty()) return 0;
  size_t index = std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())));
  std::nth_element(values.begin(), values.begin() + static_cast<long>(index), values.end());
  return values[index];
}

// The load query the server makes, straight from here to one provider, on one connection.
Figures ProviderLoadCalls(const std::string& providerPort, double seconds) {
  Rpc::ProviderCalls calls;
  std::vector<double> latencies;
  long errors = 0;
  double load = 1.0;
  calls.GetLoad("127.0.0.1", providerPort, load);
  const Clock::time_point end =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (Clock::now() < end) {
    Clock::time_point started = Clock::now();
    if (!calls.GetLoad("127.0.0.1", providerPort, load)) ++errors;
    latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - started).count());
  }
  Figures figures;
  figures.perSecond = static_cast<double>(latencies.size()) / seconds;
  figures.errors = errors;
  figures.p50Us = Percentile(latencies, 0.50);
  figures.p99Us = Percentile(latencies, 0.99);
  return figures;
}

Figures Run(const std::string& port, const std::string& service, int connections, double seconds, bool lookup) {
  std::vector<std::vector<double>> latencies(connections);
  std::atomic<long> errors{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < connections; ++t) {
    threads.emplace_back([&, t] {
      Tools::ServerClient client(DceRpc::Binding("ncacn_ip_tcp", "127.0.0." + std::to_string(t + 1), port));
      std::string error;
      std::string version;
      if (lookup && !client.OpenSession(Tools::SessionInfoXml("LookupBench"), error)) {
        ++errors;
        return;
      }
      client.GetVersion(version);  // connects before the clock starts
      while (!go) std::this_thread::yield();
      const Clock::time_point end =
          Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
      while (Clock::now() < end) {
        Clock::time_point started = Clock::now();
        try {
          bool ok = lookup ? Lookup(client, service) : client.GetVersion(version);
          if (!ok) ++errors;
        } catch (const DceRpc::RpcError&) {
          ++errors;
        }
        latencies[t].push_back(std::chrono::duration<double, std::micro>(Clock::now() - started).count());
      }
      if (lookup) client.CloseSession();
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();
  std::vector<double> all;
  for (auto& list : latencies) all.insert(all.end(), list.begin(), list.end());
  Figures figures;
  figures.perSecond = static_cast<double>(all.size()) / seconds;
  figures.errors = errors;
  figures.p50Us = Percentile(all, 0.50);
  figures.p99Us = Percentile(all, 0.99);
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  std::string server;
  std::string service;
  std::string providerPort;
  double seconds = 5;
  std::vector<int> counts;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    if (option == "--server") server = argv[i + 1];
    else if (option == "--service") service = argv[i + 1];
    else if (option == "--seconds") seconds = std::atof(argv[i + 1]);
    else if (option == "--connections") counts.push_back(std::atoi(argv[i + 1]));
    else if (option == "--provider-port") providerPort = argv[i + 1];
  }
  size_t colon = server.rfind(':');
  if (colon == std::string::npos || service.empty() || seconds <= 0) {
    std::fprintf(stderr, "usage: lookup_bench --server HOST:PORT --service NAME [--seconds S] [--connections N]...\n");
    return 2;
  }
  if (counts.empty()) counts = {1, 4, 16};
  const std::string port = server.substr(colon + 1);
  std::printf("| connections | null calls/s | null p50 µs | null p99 µs | lookups/s | lookup p50 µs | lookup p99 µs | "
              "p50 ratio | errors |\n|---|---|---|---|---|---|---|---|---|\n");
  for (int connections : counts) {
    Figures null = Run(port, service, connections, seconds, false);
    Figures lookup = Run(port, service, connections, seconds, true);
    std::printf("| %d | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f | %.1f | %ld |\n", connections, null.perSecond,
                null.p50Us, null.p99Us, lookup.perSecond, lookup.p50Us, lookup.p99Us,
                null.p50Us > 0 ? lookup.p50Us / null.p50Us : 0.0, null.errors + lookup.errors);
    std::fflush(stdout);
  }
  if (!providerPort.empty()) {
    Figures direct = ProviderLoadCalls(providerPort, seconds);
    std::printf("\none load query straight to a provider: %.0f calls/s, p50 %.0f µs, p99 %.0f µs, errors %ld\n",
                direct.perSecond, direct.p50Us, direct.p99Us, direct.errors);
  }
  return 0;
}
