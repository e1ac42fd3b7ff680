// ProviderCalls from many threads at once, as the server makes them: lookups on the RPC threads
// and the liveness pass on the main thread, against two providers sharing the connection pool.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "dcerpc/Client.h"
#include "rpc/ProviderCalls.h"
#include "tests/rpc/FakeProvider.h"

namespace Korvane::Pictora::Rpc {
namespace {

TEST(ProviderCallsConcurrencyTest, ManyThreadsShareThePool) {
  Testing::FakeProvider first, second;
  const auto load = [](double value) { return [value](DceRpc::Arguments& a) { a.SetDouble(0, value); }; };
  const std::string ports[] = {first.On(ProviderOp::kGetLoad, load(0.25)).Start(),
                               second.On(ProviderOp::kGetLoad, load(0.75)).Start()};
  ProviderCalls calls;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        const int which = (i + t) % 2;
        std::string errorText;
        double value = 1.0;
        if (t == 0 ? calls.Ping("127.0.0.1", ports[which], errorText) != ServerCore::PingResult::Alive
                   : !calls.GetLoad("127.0.0.1", ports[which], value) || value != (which == 0 ? 0.25 : 0.75))
          ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  DceRpc::ClearClientConnectionPool();
}

}  // namespace
}  // namespace Korvane::Pictora::Rpc
