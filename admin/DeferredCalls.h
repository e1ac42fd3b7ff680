// Calls to the network (providers, the operator's provider commands) that a management operation
// decides on under the facade's lock and makes once the lock is released, in the order decided,
// so a provider that does not answer holds up its own operation and no other.
//
// Not thread-safe: a value handed from the deciding code to the thread that makes the calls.
#pragma once

#include <functional>
#include <utility>
#include <vector>

namespace Korvane::Pictora::ServerCore {

class DeferredCalls {
 public:
  void Add(std::function<void()> call) { calls_.push_back(std::move(call)); }
  void Append(DeferredCalls&& more) {
    for (auto& call : more.calls_) calls_.push_back(std::move(call));
    more.calls_.clear();
  }
  // Makes the calls in order; the list is empty afterwards.
  void RunAll() {
    std::vector<std::function<void()>> calls = std::exchange(calls_, {});
    for (auto& call : calls) call();
  }

 private:
  std::vector<std::function<void()>> calls_;
};

}  // namespace Korvane::Pictora::ServerCore
