// ProviderCalls from many threads at once, as the server makes them: lookups on the RPC threads
// and the liveness pass on the main thread, against two providers sharing the connection pool.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "dcerpc/Client.h"
#include "dcerpc/Server.h"
#include "rpc/ProviderCalls.h"
#include "rpc/ProviderProcedureShapes.h"

namespace Korvane::Pictora::Rpc {
namespace {

using DceRpc::Arguments;

// A provider answering ping true and load `load`.
class LoadProvider {
 public:
  explicit LoadProvider(double load) {
    DceRpc::InterfaceDefinition definition{ProviderInterfaceId(), {}};
    for (uint16_t opnum = 0; opnum < ProviderOp::kCount; ++opnum) {
      definition.procedures[opnum] = {ProviderSpecs::ForOpnum(opnum), [load, opnum](const DceRpc::CallContext&, Arguments& a) {
                                        if (opnum == ProviderOp::kGetLoad) a.SetDouble(0, load);
                                        a.SetResultSmall(1);
                                      }};
    }
    EXPECT_TRUE(server_.RegisterInterface(std::move(definition)));
    EXPECT_TRUE(server_.Listen("ncacn_ip_tcp", "0").ok());
    port_ = std::to_string(server_.TcpPort());
  }
  const std::string& Port() const { return port_; }

 private:
  DceRpc::Server server_;
  std::string port_;
};

TEST(ProviderCallsConcurrencyTest, ManyThreadsShareThePool) {
  LoadProvider first(0.25);
  LoadProvider second(0.75);
  ProviderCalls calls;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        const bool useFirst = (i + t) % 2 == 0;
        const std::string& port = useFirst ? first.Port() : second.Port();
        if (t == 0) {
          std::string errorText;
          if (calls.Ping("127.0.0.1", port, errorText) != ServerCore::PingResult::Alive) ++wrong;
          continue;
        }
        double load = 1.0;
        if (!calls.GetLoad("127.0.0.1", port, load) || load != (useFirst ? 0.25 : 0.75)) ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  DceRpc::ClearClientConnectionPool();
}

}  // namespace
}  // namespace Korvane::Pictora::Rpc
