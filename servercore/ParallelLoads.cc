#include "servercore/ParallelLoads.h"

#include <memory>
#include <optional>

#include "servercore/LoadQueries.h"

namespace Korvane::Pictora::ServerCore {

using GeneralUtilityLib::CriticalSectionLock;

namespace {

// One lookup's answers; shared with queries that may outlive the lookup's wait.
struct Batch {
  explicit Batch(std::size_t queries) : loads(queries), remaining(queries) {}
  GeneralUtilityLib::ActiveCriticalSection section;
  GeneralUtilityLib::SectionCondition done;
  std::vector<std::optional<double>> loads GUARDED_BY(section);
  std::size_t remaining GUARDED_BY(section);
};

}  // namespace

ParallelLoads::ParallelLoads(IProviderCalls* calls, std::size_t threads, std::size_t maxQueued)
    : calls_(calls), maxQueued_(maxQueued) {
  for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

ParallelLoads::~ParallelLoads() {
  {
    CriticalSectionLock lock(&section_);
    stopping_ = true;
    queue_.clear();
  }
  ready_.NotifyAll();
  room_.NotifyAll();
  for (std::thread& thread : threads_) thread.join();
}

void ParallelLoads::Work() {
  for (;;) {
    std::function<void()> query;
    bool someoneWaits = false;
    {
      CriticalSectionLock lock(&section_);
      while (!stopping_ && queue_.empty()) ready_.Wait(section_);
      if (stopping_) return;
      query = std::move(queue_.front());
      queue_.pop_front();
      someoneWaits = waitingForRoom_ > 0;
    }
    if (someoneWaits) room_.NotifyAll();
    query();
  }
}

std::vector<double> ParallelLoads::Ask(const std::vector<std::pair<std::string, std::string>>& addresses,
                                       std::chrono::milliseconds budget) {
  const auto deadline = std::chrono::steady_clock::now() + budget;
  auto batch = std::make_shared<Batch>(addresses.size());
  std::size_t queued = 0;
  {
    CriticalSectionLock lock(&section_);
    while (queued < addresses.size() && !stopping_) {
      if (queue_.size() >= maxQueued_) {
        ready_.NotifyAll();
        ++waitingForRoom_;
        const bool inTime = room_.WaitUntil(section_, deadline);
        --waitingForRoom_;
        if (!inTime) break;
        continue;
      }
      queue_.emplace_back([this, batch, i = queued, host = addresses[queued].first,
                           endpoint = addresses[queued].second] {
        const double load = AskLoad(calls_, host, endpoint);
        CriticalSectionLock batchLock(&batch->section);
        batch->loads[i] = load;
        if (--batch->remaining == 0) batch->done.NotifyAll();
      });
      ++queued;
    }
  }
  ready_.NotifyAll();
  if (queued < addresses.size()) {
    CriticalSectionLock batchLock(&batch->section);
    batch->remaining -= addresses.size() - queued;
  }
  CriticalSectionLock lock(&batch->section);
  while (batch->remaining != 0 && batch->done.WaitUntil(batch->section, deadline)) {
  }
  std::vector<double> loads;
  loads.reserve(addresses.size());
  for (const std::optional<double>& load : batch->loads) loads.push_back(load.value_or(1.0));
  return loads;
}

}  // namespace Korvane::Pictora::ServerCore
