// Calls the server makes to a service provider at (host, endpoint). Each call binds, calls
// and frees its binding. Implementations never throw and must be callable from any thread.
#pragma once

#include <string>

namespace Korvane::Pictora::ServerCore {

enum class PingResult {
  Alive,        // the provider answered true
  Refused,      // the provider answered false
  Unreachable,  // no binding could be made, or the call failed with 1722 (server unavailable)
  TimedOut,     // the call got no answer within the call time-out (1818)
  OtherError,   // any other remote-call failure: the provider is kept
};

class IProviderCalls {
 public:
  virtual ~IProviderCalls() = default;

  // errorText receives the text of the remote-call failure, if any.
  virtual PingResult Ping(const std::string& host, const std::string& endpoint,
                          std::string& errorText) = 0;
  // The provider writes its load into load; false when the call failed (load may still hold
  // what the provider wrote before failing).
  virtual bool GetLoad(const std::string& host, const std::string& endpoint, double& load) = 0;
  // The provider's information at the given level ("Detailed"); empty text = no answer.
  virtual std::string GetInfo(const std::string& host, const std::string& endpoint,
                              const std::string& level) = 0;
  virtual bool StartService(const std::string& host, const std::string& endpoint,
                            const std::string& source, const std::string& name,
                            const std::string& properties) = 0;
  virtual bool StopService(const std::string& host, const std::string& endpoint,
                           const std::string& name) = 0;
  virtual bool RefreshService(const std::string& host, const std::string& endpoint,
                              const std::string& serviceXml) = 0;
  virtual bool RefreshAllServices(const std::string& host, const std::string& endpoint) = 0;
  virtual bool RefreshConfiguration(const std::string& host, const std::string& endpoint) = 0;
};

}  // namespace Korvane::Pictora::ServerCore
