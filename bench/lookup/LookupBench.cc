// lookup_bench --server HOST:PORT --service NAME [--seconds S] [--connections N]... [--provider-port P]...
// lookup_bench --row --server HOST:PORT --service NAME --seconds S --connections N
//   (one line "lookups_per_second p50_us p99_us errors", a row of bench/speed/run.sh)
//
// For each connection count, N threads call the server as fast as they can for S seconds: first
// the null call (procedure 0, the version), then the lookup (procedure 13 with a buffer large
// enough for one round trip). Prints calls per second and the p50/p99 latency of each.
//
// Every thread reaches the server through its own loopback address (127.0.0.1, 127.0.0.2, ...),
// so the client's connection pool gives each thread a connection of its own and the figure is
// N connections, never a pool being refilled. With --provider-port (once per provider), the
// load queries of one lookup are also timed straight from here: to the first provider alone,
// then to all of them in turn, as the server makes them.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "dcerpc/Client.h"
#include "interfaces/ServerProcedureShapes.h"
#include "rpc/ProviderCalls.h"
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

// One lookup with a buffer of `size` bytes. The whole buffer travels back whatever the text's
// length, so the timed calls use the size the answer needs (learnt once, untimed) and each
// lookup is one round trip of realistic size.
int32_t Lookup(Tools::ServerClient& client, const std::string& service, int32_t size) {
  namespace P = Rpc::NameBufferParam;
  DceRpc::Arguments args(5);
  args.SetText(P::kSession, client.SessionId());
  args.SetText(P::kName, service);
  args.SetLong(P::kSize, size);
  args.SetText(P::kError, std::string(4000, ' '));
  client.Binding().Call(Rpc::ServerInterfaceId(), Rpc::ServerOp::kGetServiceProvidersFor,
                        Rpc::ServerProcedureSpec(Rpc::ServerOp::kGetServiceProvidersFor), args);
  if (args.ResultLong() == 0 && args.Text(P::kBuffer).find("<Endpoint>") == std::string::npos) return -1;
  return args.ResultLong();
}

double Percentile(std::vector<double>& values, double fraction) {
  if (values.empty()) return 0;
  size_t index = std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())));
  std::nth_element(values.begin(), values.begin() + static_cast<long>(index), values.end());
  return values[index];
}

// What the server does for one lookup, straight from here: a load query to each provider in
// turn, on pooled connections. The time of one round.
Figures ProviderLoadRounds(const std::vector<std::string>& providerPorts, double seconds) {
  Rpc::ProviderCalls calls;
  std::vector<double> latencies;
  long errors = 0;
  double load = 1.0;
  for (const std::string& port : providerPorts) calls.GetLoad("127.0.0.1", port, load);
  const Clock::time_point end =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (Clock::now() < end) {
    Clock::time_point started = Clock::now();
    for (const std::string& port : providerPorts) {
      if (!calls.GetLoad("127.0.0.1", port, load)) ++errors;
    }
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
      const int32_t size = lookup ? Lookup(client, service, 0) : 0;
      while (!go) std::this_thread::yield();
      const Clock::time_point end =
          Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
      while (Clock::now() < end) {
        Clock::time_point started = Clock::now();
        try {
          bool ok = lookup ? Lookup(client, service, size) == 0 : client.GetVersion(version);
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
  std::vector<std::string> providerPorts;
  double seconds = 5;
  std::vector<int> counts;
  bool row = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--row") row = true;
  }
  for (int i = 1 + (row && std::string(argv[1]) == "--row" ? 1 : 0); i + 1 < argc; i += 2) {
    std::string option = argv[i];
    if (option == "--server") server = argv[i + 1];
    else if (option == "--service") service = argv[i + 1];
    else if (option == "--seconds") seconds = std::atof(argv[i + 1]);
    else if (option == "--connections") counts.push_back(std::atoi(argv[i + 1]));
    else if (option == "--provider-port") providerPorts.push_back(argv[i + 1]);
  }
  size_t colon = server.rfind(':');
  if (colon == std::string::npos || service.empty() || seconds <= 0) {
    std::fprintf(stderr, "usage: lookup_bench --server HOST:PORT --service NAME [--seconds S] [--connections N]...\n");
    return 2;
  }
  if (counts.empty()) counts = {1, 4, 16};
  const std::string port = server.substr(colon + 1);
  if (row) {
    const Figures lookup = Run(port, service, counts.front(), seconds, true);
    std::printf("%.0f %.1f %.1f %ld\n", lookup.perSecond, lookup.p50Us, lookup.p99Us, lookup.errors);
    return 0;
  }
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
  for (size_t count = 1; count <= providerPorts.size(); count += providerPorts.size() - 1) {
    std::vector<std::string> ports(providerPorts.begin(), providerPorts.begin() + static_cast<long>(count));
    Figures direct = ProviderLoadRounds(ports, seconds);
    std::printf("\nload queries straight to %zu provider(s) in turn, as one lookup makes them: %.0f rounds/s, "
                "p50 %.0f µs, p99 %.0f µs, errors %ld\n",
                count, direct.perSecond, direct.p50Us, direct.p99Us, direct.errors);
    if (providerPorts.size() == 1) break;
  }
  return 0;
}
