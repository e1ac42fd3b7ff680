// A provider served in process by the runtime: each procedure runs the test's body (by default
// it answers 1) and every call is recorded. Shared by the provider-call tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dcerpc/Mutex.h"
#include "dcerpc/Server.h"
#include "interfaces/ProviderProcedureShapes.h"

namespace Korvane::Pictora::Rpc::Testing {

class FakeProvider {
 public:
  using Body = std::function<void(DceRpc::Arguments&)>;
  struct Call {
    uint16_t opnum;
    DceRpc::Arguments args;
  };

  ~FakeProvider() { server_.StopListening(); }

  FakeProvider& On(uint16_t opnum, Body body) {
    bodies_[opnum] = std::move(body);
    return *this;
  }

  // Starts serving; the TCP port.
  std::string Start() {
    DceRpc::InterfaceDefinition definition{ProviderInterfaceId(), {}};
    for (uint16_t opnum = 0; opnum < ProviderOp::kCount; ++opnum) {
      definition.procedures[opnum] = {
          ProviderSpecs::ForOpnum(opnum), [this, opnum](const DceRpc::CallContext&, DceRpc::Arguments& args) {
            DceRpc::MutexLock lock(mutex_);
            calls_.push_back({opnum, args});
            lock.Unlock();
            const auto body = bodies_.find(opnum);
            body != bodies_.end() ? body->second(args) : args.SetResultSmall(1);
          }};
    }
    EXPECT_TRUE(server_.RegisterInterface(std::move(definition)));
    EXPECT_TRUE(server_.Listen("ncacn_ip_tcp", "0").ok());
    return std::to_string(server_.TcpPort());
  }

  std::vector<Call> Calls() {
    DceRpc::MutexLock lock(mutex_);
    return calls_;
  }

 private:
  std::map<uint16_t, Body> bodies_;  // set before Start
  DceRpc::Server server_;
  DceRpc::Mutex mutex_;
  std::vector<Call> calls_ GUARDED_BY(mutex_);
};

}  // namespace Korvane::Pictora::Rpc::Testing
