// The server's calls to service providers over the provider interface, on the runtime's client.
//
// Every call makes a binding (protocol sequence "ncacn_ip_tcp", the provider's host and
// endpoint), calls and lets the binding go; the runtime's connection pool keeps the connection
// for the next call, so a lookup does not pay a connect per provider. Time-outs are the
// runtime's process-wide defaults at the time of the call (connect 3 s, call 10 s unless the
// server configuration changed them), so a dead or silent provider costs at most those.
//
// Error texts go out as a 4000-byte placeholder (3999 'A' and the NUL), so a provider has room
// for a reply of 3999 characters; what comes back in them is not used.
//
// Load queries and pings are counted by outcome for the metrics page.
//
// Thread safety: every operation may run on many threads at once (the counts are atomics).
// Never throws.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "dcerpc/Procedure.h"
#include "servercore/IProviderCalls.h"

namespace Korvane::Pictora::Rpc {

// How the calls of one kind ended.
struct CallOutcomes {
  uint64_t ok = 0;
  uint64_t failed = 0;
  uint64_t timedOut = 0;
};

class ProviderCalls : public ServerCore::IProviderCalls {
 public:
  // First buffer size of the information request; a larger answer costs a second call.
  static constexpr int32_t kFirstInfoBufferSize = 40000;
  // A provider asking for more than this gets no second call: no sane report is that large.
  static constexpr int32_t kMaxInfoBufferSize = 16 * 1024 * 1024;

  ServerCore::PingResult Ping(const std::string& host, const std::string& endpoint,
                              std::string& errorText) override;
  bool GetLoad(const std::string& host, const std::string& endpoint, double& load) override;
  std::string GetInfo(const std::string& host, const std::string& endpoint,
                      const std::string& level) override;
  bool StartService(const std::string& host, const std::string& endpoint, const std::string& source,
                    const std::string& name, const std::string& properties) override;
  bool StopService(const std::string& host, const std::string& endpoint,
                   const std::string& name) override;
  bool RefreshService(const std::string& host, const std::string& endpoint,
                      const std::string& serviceXml) override;
  bool RefreshAllServices(const std::string& host, const std::string& endpoint) override;
  bool RefreshConfiguration(const std::string& host, const std::string& endpoint) override;

  // 3999 letters 'A': the error text sent with every call that has one.
  static const std::string& ErrorPlaceholder();

  CallOutcomes LoadQueries() const { return loadQueries_.Read(); }
  CallOutcomes Pings() const { return pings_.Read(); }

 private:
  class OutcomeCounter {
   public:
    // status: the call's status, 0 when it worked.
    void Count(uint32_t status);
    CallOutcomes Read() const;

   private:
    std::atomic<uint64_t> ok_{0}, failed_{0}, timedOut_{0};
  };

  // Calls `opnum` with `args` (its wire shape from the provider interface); the call's status, 0 when it
  // worked.
  static uint32_t TryCall(const std::string& host, const std::string& endpoint, uint16_t opnum,
                          DceRpc::Arguments& args);
  static ServerCore::PingResult PingOnce(const std::string& host, const std::string& endpoint,
                                         std::string& errorText);
  // For the procedures that answer a boolean: true only when the call worked and said 1.
  static bool CallForBool(const std::string& host, const std::string& endpoint, uint16_t opnum,
                          DceRpc::Arguments& args);
  // One information request with a buffer of `size` bytes: the result, or nothing on failure.
  static bool CallGetInfo(const std::string& host, const std::string& endpoint,
                          const std::string& level, int32_t size, int32_t& result,
                          std::string& text);

  OutcomeCounter loadQueries_;
  OutcomeCounter pings_;
};

}  // namespace Korvane::Pictora::Rpc
