// What the metrics observer adds to every call the server answers: one CallMetrics::Observe
// through the std::function the runtime holds, alone and with two threads recording the same
// procedure at once (the shared counters' cache line moving between the cores).
#include <benchmark/benchmark.h>

#include "interfaces/ServerProcedureShapes.h"
#include "rpc/CallMetrics.h"

namespace {

namespace Rpc = Korvane::Pictora::Rpc;

Rpc::CallMetrics metrics;

void BM_ObserveLookup(benchmark::State& state) {
  const Korvane::Pictora::DceRpc::CallObserver observer = metrics.Observer();
  const Korvane::Pictora::DceRpc::CallRecord call{Rpc::ServerInterfaceId(), Rpc::ServerOp::kGetServiceProvidersFor,
                                                  std::chrono::microseconds(130), 0};
  for (auto _ : state) observer(call);
}
BENCHMARK(BM_ObserveLookup)->Threads(1)->Threads(2);

}  // namespace

BENCHMARK_MAIN();
