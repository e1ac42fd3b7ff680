#include "servercore/ParallelLoads.h"

#include <memory>
#include <optional>

#include "servercore/LoadQueries.h"

namespace Korvane::Pictora::ServerCore {
namespace {

// One lookup's answers; shared with queries that may outlive the lookup's wait.
struct Batch {
  std::mutex mutex;
  std::condition_variable done;
  std::vector<std::optional<double>> loads;
  std::size_t remaining = 0;
};

}  // namespace

ParallelLoads::ParallelLoads(IProviderCalls* calls, std::size_t threads, std::size_t maxQueued)
    : calls_(calls), maxQueued_(maxQueued) {
  for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

ParallelLoads::~ParallelLoads() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  ready_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void ParallelLoads::Work() {
  for (;;) {
    std::function<void()> query;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      query = std::move(queue_.front());
      queue_.pop_front();
    }
    query();
  }
}

std::vector<double> ParallelLoads::Ask(const std::vector<std::pair<std::string, std::string>>& addresses,
                                       std::chrono::milliseconds budget) {
  auto batch = std::make_shared<Batch>();
  batch->loads.resize(addresses.size());
  batch->remaining = addresses.size();
  {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < addresses.size(); ++i) {
      if (stopping_ || queue_.size() >= maxQueued_) {
        std::lock_guard batchLock(batch->mutex);
        --batch->remaining;
        continue;
      }
      queue_.emplace_back([this, batch, i, host = addresses[i].first, endpoint = addresses[i].second] {
        const double load = AskLoad(calls_, host, endpoint);
        std::lock_guard batchLock(batch->mutex);
        batch->loads[i] = load;
        if (--batch->remaining == 0) batch->done.notify_all();
      });
    }
  }
  ready_.notify_all();
  std::unique_lock lock(batch->mutex);
  batch->done.wait_for(lock, budget, [&] { return batch->remaining == 0; });
  std::vector<double> loads;
  loads.reserve(addresses.size());
  for (const std::optional<double>& load : batch->loads) loads.push_back(load.value_or(1.0));
  return loads;
}

}  // namespace Korvane::Pictora::ServerCore
