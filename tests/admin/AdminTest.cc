// The administration's rules that the wire tests do not show: which providers the service store
// tells, the provider files' states, and how the facade merges allow lists and configuration.
#include <gmock/gmock.h>

#include <future>
#include <thread>

#include "admin/ServerManagerProxy.h"
#include "tests/servercore/ServerTestSupport.h"
#include "util/FileUtil.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore::Testing {
namespace {
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class AdminTest : public ServerCoreTest {
 protected:
  void SetUp() override {
    ServerCoreTest::SetUp();
    WriteFile(ServerFolder() + "Pictora.PTSConfig",
              "<?xml version=\"1.0\" standalone=\"yes\"?><Pictora><X_DEF><XAD_Path>x</XAD_Path></X_DEF><Server>"
              "<Config><Endpoint>4000</Endpoint><CreateLogs>false</CreateLogs><LicenseManager>"
              "<ServerManagerAllowList>one;Two</ServerManagerAllowList></LicenseManager></Config></Server></Pictora>");
    // A and B are configured; A is marked on (no State), B off.
    WriteFile(ServerFolder() + "A.PTPConfig", ProviderFile("hA", "eA", ""));
    WriteFile(ServerFolder() + "B.PTPConfig", ProviderFile("hB", "eB", "<State>Off</State>"));
    WriteServices(ServiceEntry("Old", "On", "A;") + ServiceEntry("Everywhere", "On", ""));
    StartServer();
    RegisterProvider("A", "eA");
    RegisterProvider("B", "eB");
    // Built now: its paths come from the test's home folder.
    facade_ = std::make_unique<ServerManagerProxy>(&calls_);
    facade_->Init(server_.get(), "three,TWO");
    session_ = Open("<SessionInfo><Application>servermanager</Application><MachineName>ONE</MachineName>"
                    "</SessionInfo>");
  }

  static std::string ProviderFile(const std::string& host, const std::string& endpoint, const std::string& extra) {
    return "<?xml version=\"1.0\" standalone=\"yes\"?><Pictora><ServiceProvider><Config><HostMachine>" + host +
           "</HostMachine><Endpoint>" + endpoint + "</Endpoint>" + extra + "</Config></ServiceProvider></Pictora>";
  }

  std::string Open(const std::string& info) {
    std::string id, status;
    EXPECT_TRUE(facade_->OpenSession(info, id, status)) << status;
    return id;
  }

  std::unique_ptr<ServerManagerProxy> facade_;
  std::string session_;
  std::string status_;
};

TEST_F(AdminTest, InitMergesTheExtraAllowListAndStopsProvidersThatCannotStart) {
  EXPECT_THAT(ReadFile(ServerFolder() + "Pictora.PTSConfig"),
              HasSubstr("<ServerManagerAllowList>one;Two;three</ServerManagerAllowList>"));
  // A was marked on: its start failed, it is written off and recorded as not running.
  EXPECT_THAT(ReadFile(ServerFolder() + "A.PTPConfig"), HasSubstr("<State>Off</State>"));
  EXPECT_THAT(facade_->NotRunningProviders().at("A"), HasSubstr("00DB02"));
  EXPECT_EQ(facade_->NotRunningProviders().count("B"), 0u);
  // Sessions are found ignoring letter case.
  EXPECT_EQ(facade_->GetServicesXml(facade_->FindSession(GeneralUtilityLib::ToUpper(session_)), status_).empty(),
            false);
}

TEST_F(AdminTest, ReAddingAServiceTellsOnlyTheProvidersItGains) {
  ASSERT_TRUE(facade_->AddService(facade_->FindSession(session_), "src-Old", "old", "", "B", status_)) << status_;
  EXPECT_THAT(ReadFile(ServerFolder() + "Pictora.Services"), HasSubstr("<ServiceProviders>A;B;</ServiceProviders>"));
  EXPECT_THAT(calls_.TakeCommands(), ElementsAre("start Old at eB"));

  EXPECT_FALSE(facade_->AddService(facade_->FindSession(session_), "src-Everywhere", "Everywhere", "", "B", status_));
  EXPECT_THAT(status_, HasSubstr("It already exists on all the ServiceProviders"));
  // An empty provider list means every configured provider.
  ASSERT_TRUE(facade_->StartService(facade_->FindSession(session_), "Everywhere", status_));
  EXPECT_THAT(calls_.TakeCommands(), ElementsAre("start Everywhere at eA", "start Everywhere at eB"));
}

TEST_F(AdminTest, RemovingAServiceFromAProviderThatCannotBeToldDropsItFromTheRegistry) {
  AddServices("A", "<Service><Name>Old</Name></Service>");
  calls_.refusing.insert("eA");
  ASSERT_TRUE(facade_->RemoveService(facade_->FindSession(session_), "Old", "", status_)) << status_;
  EXPECT_THAT(calls_.TakeCommands(), ElementsAre("stop Old at eA", "stop Old at eB"));
  EXPECT_THAT(ReadFile(ServerFolder() + "Pictora.Services"), ::testing::Not(HasSubstr("<Name>Old</Name>")));
  EXPECT_EQ(server_->GetServices("A"), "<Pictora>\n</Pictora>\n");
}

TEST_F(AdminTest, TheStoreReadsNamesInNormalFormAndNeverWritesAFileItCannotReadBack) {
  WriteServices("<Service><Name> a \\ b </Name><Source>s</Source></Service>\n");
  EXPECT_FALSE(facade_->AddService(facade_->FindSession(session_), "s", "A/B", "", "B", status_));
  EXPECT_THAT(status_, HasSubstr("It already exists on all the ServiceProviders"));

  // Properties that would nest the file deeper than any reader takes are refused, file untouched.
  const std::string before = ReadFile(ServerFolder() + "Pictora.Services");
  std::string deep;
  for (int i = 0; i < 252; ++i) deep = "<p>" + deep + "</p>";
  EXPECT_FALSE(facade_->AddService(facade_->FindSession(session_), "s2", "Deep", deep, "", status_));
  EXPECT_THAT(status_, HasSubstr("nested more than 256 levels"));
  EXPECT_EQ(ReadFile(ServerFolder() + "Pictora.Services"), before);
}

// A catalogue another server saves between this server's read and its save, `overtakings` times.
class SharedCatalogue : public IServicesCatalogue {
 public:
  explicit SharedCatalogue(int overtakings) : overtakings_(overtakings) {}
  Outcome Read(std::string& text, std::int64_t& version, std::string&) override {
    text = text_;
    version = version_;
    if (overtakings_-- > 0) Save(ServicesDocument::Render({{}}), version_, text);
    return Outcome::kDone;
  }
  Outcome Save(const std::string& text, std::int64_t version, std::string&) override {
    if (version != version_) return Outcome::kChanged;
    text_ = text;
    ++version_;
    return Outcome::kDone;
  }
  std::string text_ = ServicesDocument::EmptyText();
  int overtakings_;
  std::int64_t version_ = 1;
};

TEST(ServiceStoreTest, AChangeOvertakenInTheClusterIsMadeAgainOnTheNewerServices) {
  SharedCatalogue shared(2);
  ServiceManager store;
  store.Init("", "", &shared, nullptr, nullptr);
  std::string status;
  ASSERT_TRUE(store.AddService("src", "Mine", "", "P", status)) << status;
  EXPECT_EQ(status, "");
  EXPECT_THAT(shared.text_, HasSubstr("<Service></Service>\n<Service><Name>Mine</Name>"));

  shared.overtakings_ = 100;
  EXPECT_FALSE(store.AddService("src", "Other", "", "P", status));
  EXPECT_THAT(status, HasSubstr("changed on another server of the cluster meanwhile"));
}

TEST_F(AdminTest, TheOperatorsBoundsHoldForManagementCalls) {
  WriteFile(root_ + "/pictora.conf", "Version=1.0.0.0\nMaxDocumentBytes=3000\nLogsFolderRoots=" + root_ + "/logs\n");
  ServerManagerProxy facade(&calls_);
  facade.Init(server_.get(), "");
  std::string id, status;
  EXPECT_FALSE(facade.OpenSession("<SessionInfo><Application>servermanager</Application><MachineName>one</MachineName>"
                                  "<UserName>" + std::string(70000, 'u') + "</UserName></SessionInfo>",
                                  id, status));
  EXPECT_THAT(status, HasSubstr("(MaxSessionInfoBytes)"));
  ASSERT_TRUE(facade.OpenSession(
      "<SessionInfo><Application>servermanager</Application><MachineName>one</MachineName></SessionInfo>", id, status));
  const auto session = [&] { return facade.FindSession(id); };

  // Nothing a refused update carried is kept: the next update does not write it.
  const std::string big(3000, 'x');
  EXPECT_FALSE(facade.UpdateServerConfigXml(
      session(), "<Pictora><Server><Config><Big>" + big + "</Big></Config></Server></Pictora>", status));
  EXPECT_THAT(status, HasSubstr("(MaxDocumentBytes)"));
  EXPECT_FALSE(facade.AddService(session(), "s", "Big", "<Application>" + big + "</Application>", "", status));
  EXPECT_THAT(status, HasSubstr("(MaxDocumentBytes)"));
  ASSERT_TRUE(facade.UpdateServerConfigXml(
      session(), "<Pictora><Server><Config><LogsFolder>" + root_ + "/logs/a</LogsFolder></Config></Server></Pictora>",
      status))
      << status;
  EXPECT_THAT(ReadFile(ServerFolder() + "Pictora.PTSConfig"), ::testing::Not(HasSubstr("<Big>")));
}

TEST(ManagementSessionsTest, ASessionIdleBeyondTheTimeOutIsClosed) {
  ManagementSessions sessions;
  sessions.Open("a", {}, std::chrono::milliseconds(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  sessions.Open("b", {}, std::chrono::milliseconds(50));  // closes the idle one
  EXPECT_EQ(sessions.Count(), 1u);
}

// A provider that takes a start command and answers only when released.
class HangingProviderCalls : public FakeProviderCalls {
 public:
  bool StartService(const std::string&, const std::string&, const std::string&, const std::string&,
                    const std::string&) override {
    called.set_value();
    released.get_future().wait();
    return true;
  }
  std::promise<void> called;
  std::promise<void> released;
};

TEST_F(AdminTest, AManagementCallIsAnsweredWhileAnotherWaitsOnAProvider) {
  HangingProviderCalls hanging;
  ServerManagerProxy facade(&hanging);
  facade.Init(server_.get(), "");
  std::string session, status;
  ASSERT_TRUE(facade.OpenSession("<SessionInfo><Application>servermanager</Application><MachineName>one"
                                 "</MachineName></SessionInfo>",
                                 session, status));
  std::thread starting([&] {
    std::string ignored;
    facade.StartService(facade.FindSession(session), "Old", ignored);
  });
  hanging.called.get_future().wait();
  auto answer = std::async(std::launch::async, [&] {
    std::string ignored;
    return facade.GetServicesXml(facade.FindSession(session), ignored);
  });
  const bool answeredMeanwhile = answer.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  hanging.released.set_value();
  starting.join();
  EXPECT_TRUE(answeredMeanwhile);
  EXPECT_THAT(answer.get(), HasSubstr("<Name>Old</Name><Source>src-Old</Source><State>On</State>"));
}

TEST_F(AdminTest, ProviderFiles) {
  ServiceProviderManager providers;
  providers.Init(Home(), "4000", nullptr);
  std::string status;
  EXPECT_FALSE(providers.CreateServiceProvider(" HB ", "eB ", "C", status));
  EXPECT_THAT(status, HasSubstr("The port 'eB ' has been taken by another ServiceProvider on ' HB '."));
  EXPECT_TRUE(providers.CreateServiceProvider("elsewhere", "eB", "C", status));

  WriteFile(ServerFolder() + "Bad.PTPConfig", "<Pictora>");
  EXPECT_FALSE(providers.DeleteServiceProvider("Bad", status));
  EXPECT_THAT(status, HasSubstr("00DB05"));
  EXPECT_TRUE(GeneralUtilityLib::FileExists(ServerFolder() + "Bad.PTPConfig"));

  // Stopping records "Off" where the file says on (or nothing); an "Off" file is left alone.
  WriteFile(ServerFolder() + "D.PTPConfig", ProviderFile("hD", "eD", ""));
  const std::string offFile = ReadFile(ServerFolder() + "B.PTPConfig");
  EXPECT_TRUE(providers.StopServiceProvider("D", status, true));
  EXPECT_TRUE(providers.StopServiceProvider("B", status, true));
  EXPECT_THAT(ReadFile(ServerFolder() + "D.PTPConfig"), HasSubstr("<State>Off</State>"));
  EXPECT_EQ(ReadFile(ServerFolder() + "B.PTPConfig"), offFile);
}

TEST_F(AdminTest, ConfigurationUpdatesMergeIntoWhatTheFacadeHolds) {
  ASSERT_TRUE(facade_->UpdateServerConfigXml(
      facade_->FindSession(session_),
      "<Pictora><Server><Config><CreateLogs></CreateLogs><Extra>1&lt;/Extra&gt;&lt;LogsFolder&gt;/tmp/x&lt;/LogsFolder"
      "&gt;</Extra></Config></Server></Pictora>",
      status_))
      << status_;
  const std::string saved = ReadFile(ServerFolder() + "Pictora.PTSConfig");
  // A value is written back as the text it was, never as markup.
  EXPECT_THAT(saved, HasSubstr("<Extra>1&lt;/Extra&gt;&lt;LogsFolder&gt;/tmp/x&lt;/LogsFolder&gt;</Extra>"));
  EXPECT_THAT(saved, HasSubstr("<Endpoint>4000</Endpoint>"));  // omitted: kept
  EXPECT_THAT(saved, HasSubstr("<CreateLogs></CreateLogs>"));   // empty: stored empty
  EXPECT_THAT(saved, HasSubstr("<X_DEF><XAD_Path>x</XAD_Path></X_DEF>"));

  ServerManagerProxy uninitialised(&calls_);
  EXPECT_EQ(uninitialised.GetServerInfo({}, uninitialised.FindSession(session_), status_), "");
  EXPECT_THAT(status_, HasSubstr("00DC02"));
  EXPECT_THAT(calls_.TakeCommands(), IsEmpty());
}

}  // namespace
}  // namespace Korvane::Pictora::ServerCore::Testing
