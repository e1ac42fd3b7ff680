// Asks several providers for their load at once, on a few threads of its own, and waits no
// longer than a budget: a lookup that runs without the registry lock uses it, so a provider that
// never answers costs that lookup its budget and nobody else anything.
//
// A query still running when its lookup gave up finishes on its thread and is thrown away. The
// queue is bounded: a lookup with more candidates than it holds waits for room while its budget
// lasts, and what it could not queue by then (every thread held by silent providers, say) is
// answered as "no answer".
//
// Thread safety: Ask may be called from many threads at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "servercore/IProviderCalls.h"
#include "util/CriticalSection.h"

namespace Korvane::Pictora::ServerCore {

class ParallelLoads {
 public:
  explicit ParallelLoads(IProviderCalls* calls, std::size_t threads = 16, std::size_t maxQueued = 1024);
  ~ParallelLoads();  // lets queued queries go and waits for the running ones
  ParallelLoads(const ParallelLoads&) = delete;
  ParallelLoads& operator=(const ParallelLoads&) = delete;

  // The loads of the providers at (host, endpoint), in order; 1.0 for one that did not answer
  // within the budget (or at all).
  std::vector<double> Ask(const std::vector<std::pair<std::string, std::string>>& addresses,
                          std::chrono::milliseconds budget) EXCLUDES(section_);

 private:
  void Work() EXCLUDES(section_);

  IProviderCalls* const calls_;
  const std::size_t maxQueued_;
  GeneralUtilityLib::ActiveCriticalSection section_;
  GeneralUtilityLib::SectionCondition ready_;
  GeneralUtilityLib::SectionCondition room_;
  std::size_t waitingForRoom_ GUARDED_BY(section_) = 0;
  std::deque<std::function<void()>> queue_ GUARDED_BY(section_);
  bool stopping_ GUARDED_BY(section_) = false;
  std::vector<std::thread> threads_;
};

}  // namespace Korvane::Pictora::ServerCore
