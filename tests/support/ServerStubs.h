// Stand-ins behind the server core's seams for programs that run a real core without a network:
// a listener that starts and stops at once, and provider calls that succeed without leaving the
// process. Override what a program needs to observe or vary. Free of any test framework, so
// benchmarks and fuzz targets use them too.
//
// Thread safety: stateless; safe from any thread.
#pragma once

#include <string>

#include "servercore/IListener.h"
#include "servercore/IProviderCalls.h"

namespace Korvane::Pictora::TestSupport {

class QuietListener : public ServerCore::IListener {
 public:
  bool StartListening(const std::string&, const std::string&, std::string&, long&) override {
    return true;
  }
  bool StopListening() override { return true; }
};

// Every provider is alive, half loaded and accepts every command.
class AnsweringProviderCalls : public ServerCore::IProviderCalls {
 public:
  ServerCore::PingResult Ping(const std::string&, const std::string&, std::string&) override {
    return ServerCore::PingResult::Alive;
  }
  bool GetLoad(const std::string&, const std::string&, double& load) override {
    load = 0.5;
    return true;
  }
  std::string GetInfo(const std::string&, const std::string&, const std::string&) override {
    return "<Info><Basic><Load>0.5</Load></Basic><Services/></Info>";
  }
  bool StartService(const std::string&, const std::string&, const std::string&,
                    const std::string&, const std::string&) override {
    return true;
  }
  bool StopService(const std::string&, const std::string&, const std::string&) override {
    return true;
  }
  bool RefreshService(const std::string&, const std::string&, const std::string&) override {
    return true;
  }
  bool RefreshAllServices(const std::string&, const std::string&) override { return true; }
  bool RefreshConfiguration(const std::string&, const std::string&) override { return true; }
};

}  // namespace Korvane::Pictora::TestSupport
