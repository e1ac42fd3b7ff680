// Fakes behind the server core's seams and a fixture that gives every test its own home
// folder and captures the reports of the global reporter.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include "global/IReporter.h"
#include "servercore/IListener.h"
#include "servercore/IManagementInfo.h"
#include "servercore/IProviderCalls.h"
#include "servercore/ServerImpl.h"
#include "tests/support/ServerStubs.h"
#include "tests/support/TempFolder.h"
#include "util/CriticalSection.h"

namespace Korvane::Pictora::ServerCore::Testing {

class FakeListener : public IListener {
 public:
  bool StartListening(const std::string& endpoint, const std::string& protocolSequence,
                      std::string& errorMessage, long& errorCode) override;
  bool StopListening() override;

  // Held while the core calls in; the tests read the fields once the core is done.
  GeneralUtilityLib::ActiveCriticalSection section;
  bool fail = false;
  std::string endpoint;
  std::string protocol;
  int starts = 0;
  int stops = 0;
};

// Providers are told apart by their endpoint.
class FakeProviderCalls : public TestSupport::AnsweringProviderCalls {
 public:
  PingResult Ping(const std::string& host, const std::string& endpoint,
                  std::string& errorText) override;
  bool GetLoad(const std::string& host, const std::string& endpoint, double& load) override;
  // Load queries to the endpoint take that long before they fail.
  void SetSilent(const std::string& endpoint, std::chrono::milliseconds delay) {
    GeneralUtilityLib::CriticalSectionLock lock(&section_);
    silent_[endpoint] = delay;
  }
  std::string GetInfo(const std::string& host, const std::string& endpoint,
                      const std::string& level) override;
  // Start and stop commands are recorded as "start <name> at <endpoint>" / "stop ..."; the ones
  // to endpoints in `refusing` fail.
  bool StartService(const std::string&, const std::string& endpoint, const std::string&, const std::string& name,
                    const std::string&) override {
    return Record("start " + name + " at " + endpoint, endpoint);
  }
  bool StopService(const std::string&, const std::string& endpoint, const std::string& name) override {
    return Record("stop " + name + " at " + endpoint, endpoint);
  }
  std::vector<std::string> TakeCommands() {
    GeneralUtilityLib::CriticalSectionLock lock(&section_);
    return std::exchange(commands_, {});
  }
  std::set<std::string> refusing;

  void SetLoad(const std::string& endpoint, double load) {
    GeneralUtilityLib::CriticalSectionLock lock(&section_);
    loads_[endpoint] = load;
  }
  void SetPing(const std::string& endpoint, PingResult result) {
    GeneralUtilityLib::CriticalSectionLock lock(&section_);
    pings_[endpoint] = result;
  }
  void SetInfo(const std::string& endpoint, const std::string& info) {
    GeneralUtilityLib::CriticalSectionLock lock(&section_);
    infos_[endpoint] = info;
  }
  int PingCount() {
    GeneralUtilityLib::CriticalSectionLock lock(&section_);
    return pingCount_;
  }
  std::atomic<int> pingDelayMs{0};  // each ping's round trip

 private:
  GeneralUtilityLib::ActiveCriticalSection section_;
  std::map<std::string, double> loads_ GUARDED_BY(section_);
  std::map<std::string, PingResult> pings_ GUARDED_BY(section_);
  std::map<std::string, std::string> infos_ GUARDED_BY(section_);
  std::vector<std::string> commands_ GUARDED_BY(section_);
  std::map<std::string, std::chrono::milliseconds> silent_ GUARDED_BY(section_);
  int pingCount_ GUARDED_BY(section_) = 0;

  bool Record(const std::string& command, const std::string& endpoint) {
    GeneralUtilityLib::CriticalSectionLock lock(&section_);
    commands_.push_back(command);
    return refusing.count(endpoint) == 0;
  }
};

class FakeManagementInfo : public IManagementInfo {
 public:
  explicit FakeManagementInfo(IProviderCalls* calls) : calls_(calls) {}
  std::string GetServiceProviderInfo(const GeneralUtilityLib::ElementList& config) override;
  std::map<std::string, std::string> NotRunningProviders() override { return notRunning; }

  std::map<std::string, std::string> notRunning;

 private:
  IProviderCalls* calls_;
};

struct CapturedReport {
  std::string source;
  std::string message;
};

class ReportCapture : public Global::IReportHandler {
 public:
  void HandleReport(std::string_view statusXml) override;
  std::vector<CapturedReport> Reports();
  std::vector<std::string> Messages();
  void Clear();

 private:
  GeneralUtilityLib::ActiveCriticalSection section_;
  std::vector<CapturedReport> reports_ GUARDED_BY(section_);
};

class ServerCoreTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Home() const { return root_ + "/Korvane/Pictora/"; }
  std::string ServerFolder() const { return Home() + "Server/"; }
  // Creates the core (not started) with the fakes wired.
  ServerImpl& MakeServer();
  // Creates and starts the core; the test fails when Init does not return 0.
  ServerImpl& StartServer(const std::string& endpoint = "");
  void WriteFile(const std::string& path, const std::string& content);
  std::string ReadFile(const std::string& path) { return TestSupport::ReadWholeFile(path); }
  // Rewrites the services file; every call gives it a later modification time.
  void WriteServices(const std::string& serviceElements);
  void WriteConfiguration(const std::string& configChildren);
  std::string ProviderXml(const std::string& host, const std::string& endpoint);
  void RegisterProvider(const std::string& name, const std::string& endpoint);
  void AddServices(const std::string& provider, const std::string& serviceElements);

  // Who a lookup comes from when the test does not care.
  bool Lookup(const std::string& service, std::string& xml, const CallerIdentity& caller = {}) {
    return server_->GetServiceProvidersFor(client_, caller, service, xml);
  }

  TestSupport::TempFolder home_;  // removed after TearDown has opened every folder again
  std::string root_;
  FakeListener listener_;
  FakeProviderCalls calls_;
  FakeManagementInfo management_{&calls_};
  ReportCapture capture_;
  std::unique_ptr<MemoryGuard> memoryGuard_;  // the next MakeServer's, when set
  std::chrono::milliseconds livenessPeriod_{60000};
  Session client_;
  std::unique_ptr<ServerImpl> server_;
  long servicesGeneration_ = 0;
};

// <Service> element of the services file.
std::string ServiceEntry(const std::string& name, const std::string& state = "On",
                         const std::string& providers = "", const std::string& application = "App");

}  // namespace Korvane::Pictora::ServerCore::Testing
