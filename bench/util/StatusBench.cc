// Reading a status record back, as every log line does: the direct reader for the records this
// system writes against the XML parser, which reads any record.
#include <benchmark/benchmark.h>

#include <string>

#include "util/Status.h"

namespace {

namespace GU = Korvane::Pictora::GeneralUtilityLib;

std::string ReportXml() {
  GU::Status record;
  record.Add(0, "'ann' on 'ws1' using application 'Viewer' requested for service 'Imaging/Render'",
             "Korvane::Pictora::ServerCore::Session::GetServiceProvidersFor");
  return record.ToXml();
}

// The record as written: the direct reader takes it.
void BM_ReadOwnRecord(benchmark::State& state) {
  const std::string xml = ReportXml();
  for (auto _ : state) {
    GU::Status status;
    benchmark::DoNotOptimize(status.AddXml(xml));
  }
}
BENCHMARK(BM_ReadOwnRecord);

// The same record after a blank: only the parser takes it.
void BM_ReadThroughParser(benchmark::State& state) {
  const std::string xml = " " + ReportXml();
  for (auto _ : state) {
    GU::Status status;
    benchmark::DoNotOptimize(status.AddXml(xml));
  }
}
BENCHMARK(BM_ReadThroughParser);

}  // namespace

BENCHMARK_MAIN();
