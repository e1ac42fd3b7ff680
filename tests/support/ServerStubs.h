// Stand-ins behind the server core's seams for a real core without a network (tests, benchmarks
// and fuzz targets, so no test framework): a listener that starts and stops at once, and provider
// calls that succeed without leaving the process. Stateless; safe from any thread.
#pragma once

#include <string>

#include "servercore/IListener.h"
#include "servercore/IProviderCalls.h"

namespace Korvane::Pictora::TestSupport {

class QuietListener : public ServerCore::IListener {
 public:
  bool StartListening(const std::string&, const std::string&, std::string&, long&) override { return true; }
  bool StopListening() override { return true; }
};

// Every provider is alive, half loaded and accepts every command.
class AnsweringProviderCalls : public ServerCore::IProviderCalls {
 public:
  using Text = const std::string&;
  ServerCore::PingResult Ping(Text, Text, std::string&) override { return ServerCore::PingResult::Alive; }
  bool GetLoad(Text, Text, double& load) override {
    load = 0.5;
    return true;
  }
  std::string GetInfo(Text, Text, Text) override { return "<Info><Basic><Load>0.5</Load></Basic><Services/></Info>"; }
  bool StartService(Text, Text, Text, Text, Text) override { return true; }
  bool StopService(Text, Text, Text) override { return true; }
  bool RefreshService(Text, Text, Text) override { return true; }
  bool RefreshAllServices(Text, Text) override { return true; }
  bool RefreshConfiguration(Text, Text) override { return true; }
};

}  // namespace Korvane::Pictora::TestSupport
