// Counts of the calls the runtime answered on the server's interface: per procedure, with their
// latency in a few fixed buckets, and the faults by status. Fed by the runtime's call observer
// on its worker threads, so recording a call is a handful of relaxed atomic additions: no lock,
// no allocation. Reading gives a consistent-enough picture for a scrape (each counter on its own).
//
// Thread safety: Observe and the readers may run on any threads at once.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dcerpc/Server.h"
#include "interfaces/ServerProcedureShapes.h"
#include "rpc/StatusCounts.h"

namespace Korvane::Pictora::Rpc {

class CallMetrics {
 public:
  // Upper bounds of the latency buckets; one more bucket holds the slower calls.
  static constexpr std::array<std::chrono::microseconds, 8> kBucketBounds{
      std::chrono::microseconds(100),    std::chrono::microseconds(250),    std::chrono::microseconds(500),
      std::chrono::microseconds(1000),   std::chrono::microseconds(5000),   std::chrono::microseconds(25000),
      std::chrono::microseconds(100000), std::chrono::microseconds(1000000)};
  static constexpr std::size_t kBuckets = kBucketBounds.size() + 1;
  // Procedure numbers counted one by one; a call of another interface or number is "other".
  static constexpr std::size_t kProcedures = 48;
  // Distinct fault statuses counted one by one; the rest share the last row (status 0).
  static constexpr std::size_t kFaultStatuses = 16;

  void Observe(const DceRpc::CallRecord& call);
  // An observer for ServerOptions::callObserver; this object must outlive the server.
  DceRpc::CallObserver Observer() {
    return [this](const DceRpc::CallRecord& call) { Observe(call); };
  }

  struct Procedure {
    bool other = false;  // another interface, or a number beyond kProcedures
    uint16_t opnum = 0;
    uint64_t calls = 0;
    std::chrono::nanoseconds total{0};
    std::array<uint64_t, kBuckets> buckets{};  // each bucket on its own, not cumulative
  };
  using Fault = StatusCounts<kFaultStatuses>::Row;
  // The procedures and faults seen so far, in number order.
  std::vector<Procedure> Procedures() const;
  std::vector<Fault> Faults() const;

 private:
  // One cache line per procedure, so that calls of different procedures do not share one.
  struct alignas(64) Slot {
    std::atomic<uint64_t> calls{0};
    std::atomic<uint64_t> nanoseconds{0};
    std::array<std::atomic<uint64_t>, kBuckets> buckets{};
  };

  const DceRpc::SyntaxId interface_ = ServerInterfaceId();
  std::array<Slot, kProcedures + 1> slots_{};  // the last: other
  StatusCounts<kFaultStatuses> faults_;
};

}  // namespace Korvane::Pictora::Rpc
