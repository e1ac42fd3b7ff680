// registration_bench --servers HOST:PORT[,HOST:PORT...] [--observe HOST:PORT,...] [--connections N]
//                    [--seconds S | --registrations N] [--rate R] [--services K] [--name PREFIX]
// registration_bench --etcd HOST:PORT[,...] [--connections N] [--seconds S]
//
// Registrations as a provider makes them (open a session, AddServiceProvider, AddServices with K
// services named Bench/S1..Bench/SK, which the servers' catalogue must hold), over N connections
// spread round-robin over the servers: as fast as each answers (closed loop), or at R
// registrations per second in all. Every registration is a new provider; their endpoints lead
// nowhere, so the servers' liveness period has to be long enough to leave them alone.
//
// With --observe, one thread per observed server takes the newest registration answered by
// another server and polls the observed one (GetServices on an open session) until it lists the
// provider's last service: the time from the answer to that is the propagation.
//
// With --etcd, the anchor: N threads committing one conditional put of a provider-sized value per
// transaction through the store's JSON gateway, with the client the server itself uses.
//
// Prints one line: "registrations/s changes/s p50_ms p99_ms errors samples prop_p50_ms prop_p99_ms"
// (for --etcd: "transactions/s 0 p50_ms p99_ms errors 0 0 0"); a change is one transaction a
// server commits, two per registration.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dcerpc/Client.h"
#include "etcd/Client.h"
#include "interfaces/ServerProcedureShapes.h"
#include "tools/common/ServerClient.h"

namespace Tools = Korvane::Pictora::Tools;
namespace DceRpc = Korvane::Pictora::DceRpc;
namespace Etcd = Korvane::Pictora::Etcd;
namespace Op = Korvane::Pictora::Rpc::ServerOp;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
  std::vector<std::string> servers;
  std::vector<std::string> observed;
  std::vector<std::string> etcd;
  int connections = 8;
  double seconds = 5;
  long registrations = 0;  // 0: run for `seconds`
  double rate = 0;         // 0: closed loop
  int services = 3;
  std::string name = "Bench";
};

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    if (comma > start) parts.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return parts;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  const auto index = std::min(values.size() - 1, static_cast<std::size_t>(fraction * static_cast<double>(values.size())));
  std::nth_element(values.begin(), values.begin() + static_cast<long>(index), values.end());
  return values[index];
}

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string ServiceName(int i) { return "Bench/S" + std::to_string(i + 1); }

std::string ProviderXml(const std::string& name) {
  return "<ServiceProvider><Config><Name>" + name +
         "</Name><HostMachine>127.0.0.1</HostMachine><Endpoint>9</Endpoint></Config><Dynamic><Load>0.5</Load>"
         "<Updated>2026-01-01T00:00:00</Updated></Dynamic></ServiceProvider>";
}

std::string ServicesXml(int count) {
  std::string xml = "<Pictora><ImageServices>";
  for (int i = 0; i < count; ++i) xml += "<Service><Name>" + ServiceName(i) + "</Name></Service>";
  return xml + "</ImageServices></Pictora>";
}

DceRpc::Binding BindingFor(const std::string& hostPort) {
  const auto binding = Tools::TcpBindingFor(hostPort);
  if (!binding) {
    std::fprintf(stderr, "registration_bench: bad address '%s'\n", hostPort.c_str());
    std::exit(2);
  }
  return *binding;
}

// The newest registration answered, for the observers.
struct Newest {
  std::mutex mutex;
  std::string provider;
  std::size_t server = 0;
  Clock::time_point answered;
  long sequence = 0;
};

class Run {
 public:
  explicit Run(const Options& options) : options_(options), servicesXml_(ServicesXml(options.services)) {}

  void Go() {
    const Clock::time_point start = Clock::now();
    end_ = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options_.seconds));
    std::vector<std::thread> threads;
    for (int t = 0; t < options_.connections; ++t) threads.emplace_back([this, t] { Register(t); });
    for (std::size_t o = 0; o < options_.observed.size(); ++o) threads.emplace_back([this, o] { Observe(o); });
    for (int t = 0; t < options_.connections; ++t) threads[static_cast<std::size_t>(t)].join();
    const double elapsed = MillisecondsSince(start) / 1000;
    done_ = true;
    for (std::size_t i = static_cast<std::size_t>(options_.connections); i < threads.size(); ++i) threads[i].join();
    std::printf("%.1f %.1f %.2f %.2f %ld %zu %.2f %.2f\n", static_cast<double>(latencies_.size()) / elapsed,
                2.0 * static_cast<double>(latencies_.size()) / elapsed, Percentile(latencies_, 0.5),
                Percentile(latencies_, 0.99), errors_.load(), propagation_.size(), Percentile(propagation_, 0.5),
                Percentile(propagation_, 0.99));
  }

 private:
  bool Continue() {
    if (options_.registrations > 0) return started_.fetch_add(1) < options_.registrations;
    return Clock::now() < end_;
  }

  void Register(int thread) {
    const std::size_t server = static_cast<std::size_t>(thread) % options_.servers.size();
    Tools::ServerClient client(BindingFor(options_.servers[server]));
    const auto interval = options_.rate > 0 ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                                  options_.connections / options_.rate))
                                            : Clock::duration::zero();
    // Spread the paced connections' starts over one interval.
    Clock::time_point next = Clock::now() + interval * thread / options_.connections;
    std::vector<double> latencies;
    for (long i = 0; Continue(); ++i) {
      if (options_.rate > 0) {
        std::this_thread::sleep_until(next);
        next = std::max(next + interval, Clock::now() - interval);
      }
      const std::string provider = options_.name + "-" + std::to_string(thread) + "-" + std::to_string(i);
      const Clock::time_point started = Clock::now();
      std::string error;
      bool ok = false;
      try {
        client.ForgetSession();
        ok = client.OpenSession(Tools::SessionInfoXml("PictoraProvider"), error) &&
             client.NameData(Op::kAddServiceProvider, provider, ProviderXml(provider), error) &&
             client.NameData(Op::kAddServices, provider, servicesXml_, error);
      } catch (const DceRpc::RpcError& failure) {
        error = failure.what();
      }
      if (!ok) {
        if (errors_.fetch_add(1) < 5) std::fprintf(stderr, "registration_bench: %s: %s\n", provider.c_str(), error.c_str());
        continue;
      }
      latencies.push_back(MillisecondsSince(started));
      std::lock_guard<std::mutex> lock(newest_.mutex);
      newest_.provider = provider;
      newest_.server = server;
      newest_.answered = Clock::now();
      ++newest_.sequence;
    }
    std::lock_guard<std::mutex> lock(resultsMutex_);
    latencies_.insert(latencies_.end(), latencies.begin(), latencies.end());
  }

  void Observe(std::size_t observed) {
    Tools::ServerClient client(BindingFor(options_.observed[observed]));
    std::string error;
    if (!client.OpenSession(Tools::SessionInfoXml("RegistrationBench"), error)) {
      std::fprintf(stderr, "registration_bench: observer: %s\n", error.c_str());
      return;
    }
    const std::string lastService = ServiceName(options_.services - 1);
    long probed = 0;
    std::vector<double> delays;
    while (!done_) {
      std::string provider;
      Clock::time_point answered;
      {
        std::lock_guard<std::mutex> lock(newest_.mutex);
        const bool fresh = newest_.sequence != probed && options_.servers[newest_.server] != options_.observed[observed];
        if (fresh) {
          provider = newest_.provider;
          answered = newest_.answered;
          probed = newest_.sequence;
        }
      }
      if (provider.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      while (!done_ && MillisecondsSince(answered) < 30000) {
        const Tools::BufferReply reply = client.NameBuffer(Op::kGetServices, client.SessionId(), provider);
        if (reply.result == 0 && reply.text.find(lastService) != std::string::npos) {
          delays.push_back(MillisecondsSince(answered));
          break;
        }
      }
    }
    client.CloseSession();
    std::lock_guard<std::mutex> lock(resultsMutex_);
    propagation_.insert(propagation_.end(), delays.begin(), delays.end());
  }

  const Options& options_;
  const std::string servicesXml_;
  Clock::time_point end_;
  std::atomic<long> started_{0};
  std::atomic<long> errors_{0};
  std::atomic<bool> done_{false};
  Newest newest_;
  std::mutex resultsMutex_;
  std::vector<double> latencies_;
  std::vector<double> propagation_;
};

// The anchor: one conditional put per transaction, as AddServiceProvider makes it.
void EtcdAnchor(const Options& options) {
  std::vector<std::string> endpoints;
  for (const std::string& member : options.etcd) endpoints.push_back("http://" + member);
  Etcd::Client client(endpoints, std::chrono::milliseconds(5000));
  const Clock::time_point start = Clock::now();
  const Clock::time_point end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds));
  const std::string value = ProviderXml("Anchor-00-000000") + ServicesXml(1);
  std::mutex mutex;
  std::vector<double> latencies;
  std::atomic<long> errors{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < options.connections; ++t) {
    threads.emplace_back([&, t] {
      std::vector<double> own;
      for (long i = 0; Clock::now() < end; ++i) {
        const std::string key = "/anchor/" + options.name + "/" + std::to_string(t) + "/" + std::to_string(i);
        const Clock::time_point started = Clock::now();
        std::int64_t revision = 0;
        std::string error;
        const auto result = client.Commit({{key, Etcd::Condition::On::kCreateRevision, 0}},
                                          {{Etcd::Operation::Kind::kPut, key, value, 0}}, revision, error);
        if (result != Etcd::TxnResult::kDone) {
          ++errors;
          continue;
        }
        own.push_back(MillisecondsSince(started));
      }
      std::lock_guard<std::mutex> lock(mutex);
      latencies.insert(latencies.end(), own.begin(), own.end());
    });
  }
  for (std::thread& thread : threads) thread.join();
  const double elapsed = MillisecondsSince(start) / 1000;
  std::printf("%.1f 0 %.2f %.2f %ld 0 0 0\n", static_cast<double>(latencies.size()) / elapsed,
              Percentile(latencies, 0.5), Percentile(latencies, 0.99), errors.load());
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const std::string value = argv[i + 1];
    if (option == "--servers") options.servers = Split(value);
    else if (option == "--observe") options.observed = Split(value);
    else if (option == "--etcd") options.etcd = Split(value);
    else if (option == "--connections") options.connections = std::max(1, std::atoi(value.c_str()));
    else if (option == "--seconds") options.seconds = std::atof(value.c_str());
    else if (option == "--registrations") options.registrations = std::atol(value.c_str());
    else if (option == "--rate") options.rate = std::atof(value.c_str());
    else if (option == "--services") options.services = std::max(1, std::atoi(value.c_str()));
    else if (option == "--name") options.name = value;
  }
  if (!options.etcd.empty()) {
    EtcdAnchor(options);
    return 0;
  }
  if (options.servers.empty()) {
    std::fprintf(stderr, "usage: registration_bench --servers HOST:PORT[,...] [--observe HOST:PORT,...] ...\n");
    return 2;
  }
  if (options.registrations > 0) options.seconds = 1e9;
  Run run(options);
  run.Go();
  return 0;
}
