#include "rpc/CallMetrics.h"

namespace Korvane::Pictora::Rpc {
namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
}  // namespace

void CallMetrics::Observe(const DceRpc::CallRecord& call) {
  const bool ours = call.opnum < kProcedures && call.interface == interface_;
  Slot& slot = slots_[ours ? call.opnum : kProcedures];
  slot.calls.fetch_add(1, kRelaxed);
  slot.nanoseconds.fetch_add(static_cast<uint64_t>(call.elapsed.count()), kRelaxed);
  std::size_t bucket = 0;
  while (bucket < kBucketBounds.size() && call.elapsed > kBucketBounds[bucket]) ++bucket;
  slot.buckets[bucket].fetch_add(1, kRelaxed);
  if (call.faultStatus != 0) faults_.Count(call.faultStatus);
}

std::vector<CallMetrics::Procedure> CallMetrics::Procedures() const {
  std::vector<Procedure> procedures;
  for (std::size_t index = 0; index < slots_.size(); ++index) {
    const Slot& slot = slots_[index];
    Procedure procedure;
    procedure.calls = slot.calls.load(kRelaxed);
    if (procedure.calls == 0) continue;
    procedure.other = index == kProcedures;
    procedure.opnum = static_cast<uint16_t>(index);
    procedure.total = std::chrono::nanoseconds(slot.nanoseconds.load(kRelaxed));
    for (std::size_t bucket = 0; bucket < kBuckets; ++bucket)
      procedure.buckets[bucket] = slot.buckets[bucket].load(kRelaxed);
    procedures.push_back(procedure);
  }
  return procedures;
}

std::vector<CallMetrics::Fault> CallMetrics::Faults() const { return faults_.Rows(); }

}  // namespace Korvane::Pictora::Rpc
