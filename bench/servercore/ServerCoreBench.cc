// Cost of the registry at scale: 1,000 providers with 100 services each, a lookup of a
// service every provider runs, the reports and the status API's documents, with provider calls
// answered by a fake; and the service store changing a service of the 100 in the services file.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "admin/ServerManagerProxy.h"
#include "rpc/StatusApi.h"
#include "servercore/ServerImpl.h"
#include "tests/support/ServerStubs.h"
#include "util/TextUtil.h"

namespace {
namespace SC = Korvane::Pictora::ServerCore;
namespace GU = Korvane::Pictora::GeneralUtilityLib;

constexpr int kProviders = 1000;
constexpr int kServices = 100;

using Korvane::Pictora::TestSupport::QuietListener;

// Loads spread over the providers, so that ranking has something to sort.
class InstantProviders : public Korvane::Pictora::TestSupport::AnsweringProviderCalls {
 public:
  bool GetLoad(const std::string&, const std::string& endpoint, double& load) override {
    load = static_cast<double>(std::hash<std::string>{}(endpoint) % 1000) / 1000.0;
    return true;
  }
};

class Management : public SC::IManagementInfo {
 public:
  std::string GetServiceProviderInfo(const GU::ElementList&) override {
    return "<Info><Basic><Load>0.5</Load></Basic><Services/></Info>";
  }
  std::map<std::string, std::string> NotRunningProviders() override { return {}; }
};

struct Installation {
  Installation() {
    std::string pattern = (std::filesystem::temp_directory_path() / "scbench-XXXXXX").string();
    root = mkdtemp(pattern.data());
    setenv("PICTORA_COMMON_APPDATA", root.c_str(), 1);
    setenv("PICTORA_REGISTRY_FILE", (root + "/none.conf").c_str(), 1);
    const std::string server = root + "/Korvane/Pictora/Server/";
    std::filesystem::create_directories(server);
    std::ofstream(server + "Pictora.PTSConfig")
        << "<?xml version=\"1.0\"?><Pictora><Server><Config><Endpoint>1</Endpoint>"
           "<CreateLogs>false</CreateLogs><LicenseManager><ServerManagerAllowList>*</ServerManagerAllowList>"
           "</LicenseManager></Config></Server></Pictora>";
    std::ofstream services(server + "Pictora.Services");
    services << "<?xml version=\"1.0\" standalone=\"yes\"?>\n<Pictora><Server><Services>\n";
    for (int s = 0; s < kServices; ++s) {
      services << GU::Format("<Service><Name>Folder/Service%03d</Name><Source>x</Source>"
                             "<State>On</State><ServiceProviders></ServiceProviders></Service>\n",
                             s);
    }
    services << "</Services></Server></Pictora>\n";
  }
  ~Installation() { std::filesystem::remove_all(root); }
  std::string root;
};

std::string ServicesXml() {
  std::string xml = "<Pictora><ImageServices>";
  for (int s = 0; s < kServices; ++s) {
    xml += GU::Format("<Service><Name>Folder\\Service%03d</Name><Tiles>256</Tiles></Service>", s);
  }
  return xml + "</ImageServices></Pictora>";
}

struct Registry {
  Installation installation;
  QuietListener listener;
  InstantProviders providers;
  Management management;
  std::unique_ptr<SC::ServerImpl> server =
      std::make_unique<SC::ServerImpl>([&] { SC::ServerImpl::Seams s; s.listener = &listener; s.providerCalls = &providers; s.managementInfo = &management; return s; }());

  Registry() {
    server->Init("");
    const std::string services = ServicesXml();
    for (int p = 0; p < kProviders; ++p) {
      const std::string name = GU::Format("Provider%04d", p);
      std::string out;
      server->AddServiceProvider(name, "s",
                                 GU::Format("<SP><Config><HostMachine>h%d</HostMachine><Endpoint>%d"
                                            "</Endpoint></Config></SP>",
                                            p, 10000 + p),
                                 out);
      server->AddServices(name, services, out);
    }
  }
};

Registry& Populated() {
  static Registry registry;
  return registry;
}

void BM_Register1000ProvidersWith100Services(benchmark::State& state) {
  for (auto _ : state) {
    Registry registry;
    benchmark::DoNotOptimize(registry.server->GetServicesCount());
  }
}
BENCHMARK(BM_Register1000ProvidersWith100Services)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_LookupAmong1000Providers(benchmark::State& state) {
  Registry& registry = Populated();
  const SC::Session client;
  std::string xml;
  for (auto _ : state) {
    registry.server->GetServiceProvidersFor(client, SC::CallerIdentity{}, "folder/service042", xml);
    benchmark::DoNotOptimize(xml.data());
  }
}
BENCHMARK(BM_LookupAmong1000Providers)->Unit(benchmark::kMicrosecond);

void BM_DetailedReport(benchmark::State& state) {
  Registry& registry = Populated();
  std::string out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(registry.server->GetInfo(SC::CallerIdentity{}, "Detailed", out));
  }
}
BENCHMARK(BM_DetailedReport)->Unit(benchmark::kMillisecond);

void BM_ServerManagerReport(benchmark::State& state) {
  Registry& registry = Populated();
  std::string out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(registry.server->GetInfo(SC::CallerIdentity{}, "ServerManager", out));
  }
}
BENCHMARK(BM_ServerManagerReport)->Unit(benchmark::kMillisecond);

// The registry copied for the status API, then the two documents the status page reads that
// grow with the registry (the other two are counts).
void BM_RegistrySnapshot(benchmark::State& state) {
  Registry& registry = Populated();
  for (auto _ : state) benchmark::DoNotOptimize(registry.server->GetRegistrySnapshot());
}
BENCHMARK(BM_RegistrySnapshot)->Unit(benchmark::kMillisecond);

void BM_StatusApiProvidersAndServices(benchmark::State& state) {
  Registry& registry = Populated();
  std::size_t bytes = 0;
  for (auto _ : state) {
    const auto snapshot = registry.server->GetRegistrySnapshot();
    bytes = Korvane::Pictora::Rpc::ProvidersJson(snapshot.get()).size() +
            Korvane::Pictora::Rpc::ServicesJson(snapshot.get()).size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_StatusApiProvidersAndServices)->Unit(benchmark::kMillisecond);

// LoadServices with an unchanged services file and Server folder: two stats.
void BM_ServiceNameWithUnchangedFile(benchmark::State& state) {
  Registry& registry = Populated();
  std::string stored, message;
  for (auto _ : state) {
    benchmark::DoNotOptimize(registry.server->GetServiceName("Folder/Service007", stored, message));
  }
}
BENCHMARK(BM_ServiceNameWithUnchangedFile)->Unit(benchmark::kMicrosecond);

// The store reads the services file, changes one record and writes the file back, twice.
void BM_StoreStopsAndStartsAService(benchmark::State& state) {
  Registry& registry = Populated();
  SC::ServerManagerProxy facade(&registry.providers);
  facade.Init(registry.server.get(), "");
  std::string id, status;
  facade.OpenSession("<SessionInfo><Application>servermanager</Application></SessionInfo>", id, status);
  for (auto _ : state) {
    const bool changed = facade.StopService(facade.FindSession(id), "Folder/Service007", status) &&
                         facade.StartService(facade.FindSession(id), "Folder/Service007", status);
    if (!changed) state.SkipWithError(status.c_str());
  }
}
BENCHMARK(BM_StoreStopsAndStartsAService)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
