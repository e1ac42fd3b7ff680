#include "tests/servercore/ServerTestSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "util/Status.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore::Testing {
namespace GU = GeneralUtilityLib;

bool FakeListener::StartListening(const std::string& endpointText, const std::string& protocolText,
                                  std::string& errorMessage, long& errorCode) {
  GU::CriticalSectionLock lock(&section);
  ++starts;
  endpoint = endpointText;
  protocol = protocolText;
  if (fail) {
    errorMessage = "Address already in use";
    errorCode = 98;
    return false;
  }
  return true;
}

bool FakeListener::StopListening() {
  GU::CriticalSectionLock lock(&section);
  ++stops;
  return true;
}

PingResult FakeProviderCalls::Ping(const std::string&, const std::string& endpoint,
                                   std::string& errorText) {
  std::this_thread::sleep_for(std::chrono::milliseconds(pingDelayMs.load()));
  GU::CriticalSectionLock lock(&section_);
  ++pingCount_;
  auto ping = pings_.find(endpoint);
  const PingResult result = ping == pings_.end() ? PingResult::Alive : ping->second;
  if (result == PingResult::Unreachable) errorText = "The RPC server is unavailable.";
  return result;
}

bool FakeProviderCalls::GetLoad(const std::string&, const std::string& endpoint, double& load) {
  std::chrono::milliseconds delay{0};
  {
    GU::CriticalSectionLock lock(&section_);
    if (silent_.count(endpoint) != 0) delay = silent_[endpoint];
  }
  if (delay.count() > 0) {
    std::this_thread::sleep_for(delay);
    return false;
  }
  GU::CriticalSectionLock lock(&section_);
  auto found = loads_.find(endpoint);
  if (found == loads_.end()) return false;
  load = found->second;
  return true;
}

std::string FakeProviderCalls::GetInfo(const std::string&, const std::string& endpoint,
                                       const std::string&) {
  GU::CriticalSectionLock lock(&section_);
  auto found = infos_.find(endpoint);
  return found == infos_.end() ? std::string() : found->second;
}

std::string FakeManagementInfo::GetServiceProviderInfo(const GU::ElementList& config) {
  return calls_->GetInfo(config.GetValue("HostMachine"), config.GetValue("Endpoint"), "Detailed");
}

void ReportCapture::HandleReport(std::string_view statusXml) {
  GU::Status status;
  status.AddXml(statusXml);
  GU::CriticalSectionLock lock(&section_);
  for (const GU::StatusItem& item : status.Items()) {
    reports_.push_back(CapturedReport{item.source, item.message});
  }
}

std::vector<CapturedReport> ReportCapture::Reports() {
  GU::CriticalSectionLock lock(&section_);
  return reports_;
}

std::vector<std::string> ReportCapture::Messages() {
  std::vector<std::string> messages;
  for (const CapturedReport& report : Reports()) messages.push_back(report.message);
  return messages;
}

void ReportCapture::Clear() {
  GU::CriticalSectionLock lock(&section_);
  reports_.clear();
}

void ServerCoreTest::SetUp() {
  ASSERT_FALSE(home_.Path().empty());
  root_ = home_.Path();
  ::setenv("PICTORA_COMMON_APPDATA", root_.c_str(), 1);
  ::setenv("PICTORA_REGISTRY_FILE", (root_ + "/pictora.conf").c_str(), 1);
  Global::GetGlobalReporter()->AttachHandler(&capture_);
}

void ServerCoreTest::TearDown() {
  server_.reset();
  Global::GetGlobalReporter()->DetachHandler(&capture_);
  std::error_code ignored;
  // Folders a test made unsearchable must be opened again before they can be removed.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(
           root_, std::filesystem::directory_options::skip_permission_denied, ignored)) {
    if (entry.is_directory(ignored)) ::chmod(entry.path().c_str(), 0755);
  }
}

ServerImpl& ServerCoreTest::MakeServer() {
  ServerImpl::Seams seams;
  seams.listener = &listener_;
  seams.providerCalls = &calls_;
  seams.managementInfo = &management_;
  seams.memoryGuard = std::move(memoryGuard_);
  seams.livenessPeriod = livenessPeriod_;
  server_ = std::make_unique<ServerImpl>(std::move(seams));
  return *server_;
}

ServerImpl& ServerCoreTest::StartServer(const std::string& endpoint) {
  ServerImpl& server = MakeServer();
  EXPECT_EQ(server.Init(endpoint), 0) << server.GetStatus().ToXml();
  return server;
}

void ServerCoreTest::WriteFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

void ServerCoreTest::WriteServices(const std::string& serviceElements) {
  const std::string path = ServerFolder() + "Pictora.Services";
  WriteFile(path,
            "<?xml version=\"1.0\" standalone=\"yes\"?>\n<Pictora><Server><Services>\n" +
                serviceElements + "</Services></Server></Pictora>\n");
  // An explicit, always later time: edits within one clock tick must still be seen.
  ++servicesGeneration_;
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = 1700000000 + servicesGeneration_;
  times[0].tv_nsec = times[1].tv_nsec = 0;
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

void ServerCoreTest::WriteConfiguration(const std::string& configChildren) {
  WriteFile(ServerFolder() + "Pictora.PTSConfig",
            "<?xml version=\"1.0\" standalone=\"yes\"?><Pictora><Server><Config>" +
                configChildren + "</Config></Server></Pictora>");
}

std::string ServerCoreTest::ProviderXml(const std::string& host, const std::string& endpoint) {
  return "<ServiceProvider><Config><HostMachine>" + host + "</HostMachine><Endpoint>" + endpoint +
         "</Endpoint></Config><Dynamic><Load>0</Load></Dynamic></ServiceProvider>";
}

void ServerCoreTest::RegisterProvider(const std::string& name, const std::string& endpoint) {
  std::string statusXml;
  ASSERT_TRUE(server_->AddServiceProvider(name, "session-" + name,
                                          ProviderXml("host-" + name, endpoint), statusXml))
      << statusXml;
}

void ServerCoreTest::AddServices(const std::string& provider, const std::string& serviceElements) {
  std::string out;
  ASSERT_TRUE(server_->AddServices(
      provider, "<Pictora><ImageServices>" + serviceElements + "</ImageServices></Pictora>", out))
      << out;
}

std::string ServiceEntry(const std::string& name, const std::string& state,
                         const std::string& providers, const std::string& application) {
  return "<Service><Name>" + name + "</Name><Source>src-" + name + "</Source><State>" + state +
         "</State><Properties><Application>" + application +
         "</Application></Properties><ServiceProviders>" + providers +
         "</ServiceProviders></Service>\n";
}

}  // namespace Korvane::Pictora::ServerCore::Testing
