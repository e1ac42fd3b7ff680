// Names, allow lists, read-access decisions and the authentication files.
#include <gmock/gmock.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "servercore/AllowList.h"
#include "servercore/ConfiguredProviders.h"
#include "servercore/FileStamp.h"
#include "servercore/ReadAccess.h"
#include "servercore/RegistryKeyLess.h"
#include "servercore/SafeNames.h"
#include "tests/servercore/ServerTestSupport.h"
#include "util/FileUtil.h"

namespace Korvane::Pictora::ServerCore::Testing {
namespace {
using ::testing::HasSubstr;

TEST(RegistryKeyTest, OrderingAndNormalForm) {
  RegistryKeyLess less;
  EXPECT_FALSE(less(" Folder\\Name ", "folder/NAME"));
  EXPECT_FALSE(less("folder/NAME", " Folder\\Name "));
  EXPECT_TRUE(less("a", "B"));
  EXPECT_TRUE(less("ab", "abc"));
  EXPECT_TRUE(RegistryKeyEquals("\tX\\y\n", "x/Y"));
  EXPECT_FALSE(RegistryKeyEquals("x y", "xy"));

  const std::pair<const char*, const char*> names[] = {
      {" Folder \\ Name ", "Folder/Name"}, {"\\\\a//b\\", "a/b"}, {"plain", "plain"},
      {"  ", ""}, {"a/ /b", "a/b"},
  };
  for (const auto& [input, normal] : names) EXPECT_EQ(NormalizeServiceName(input), normal) << input;
}

TEST(SafeNamesTest, NamesThatWouldLeaveTheirFolderAreRefused) {
  std::string reason;
  for (const char* good : {"Render", "Folder/Render", "Folder\\Render", "a..b", "..x"}) {
    EXPECT_TRUE(IsSafeServiceName(good, reason)) << good;
  }
  for (const std::string& bad : {std::string(".."), std::string("a/../../etc"),
                                std::string("a\\ .. \\b"), std::string("/etc/passwd"),
                                std::string("\\abs"), std::string("a\0b", 3)}) {
    EXPECT_FALSE(IsSafeServiceName(bad, reason)) << bad;
  }
  EXPECT_TRUE(IsSafeProviderName("Provider-1", reason));
  for (const char* bad : {"", "  ", "..", "a/b", "a\\b", "../x"}) {
    EXPECT_FALSE(IsSafeProviderName(bad, reason)) << bad;
  }
}

TEST(AllowListTest, PiecesAdmitByNameAddressOrStar) {
  const std::string local = "server;10.0.0.1;server.example";
  struct Case {
    const char* list;
    CallerMachine caller;
    bool admitted;
  };
  const Case cases[] = {
      {"", {"server", "", ""}, true},          // empty list: this machine only
      {"", {"SERVER.EXAMPLE", "", ""}, true},  // any piece against any of the caller's names
      {"", {"other", "10.0.0.2", "other.example"}, false},
      {"", {"x", "", "Server.Example"}, true},
      {"", {"other", "10.0.0.2", ""}, false},
      {"*", {"anyone", "", ""}, true},
      {" ;;admin1,,ADMIN2; ", {"admin2", "", ""}, true},
      {"admin1", {"", "admin1", ""}, true},
      {"admin1", {"admin", "", ""}, false},
      {"admin1", {"", "", ""}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AllowListAdmits(c.list, c.caller, local), c.admitted)
        << "'" << c.list << "' " << c.caller.machineName;
  }
}

TEST(ReadAccessTest, PermissionClasses) {
  struct Case {
    uid_t uid;
    std::vector<gid_t> groups;
    mode_t mode;
    bool readable;
  };
  // File owned by uid 1000, group 100.
  const Case cases[] = {
      {1000, {5}, 0400, true},       {1000, {100}, 0040, false},  // owner class decides
      {2000, {7, 100}, 0040, true},  {2000, {100}, 0404, false},  // group class decides
      {2000, {7}, 0004, true},       {2000, {7}, 0440, false},
      {0, {0}, 0000, true},  // root reads everything
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PermissionGrants(UserCredentials{c.uid, c.groups}, 1000, 100, c.mode, 4), c.readable)
        << c.uid << " mode " << std::oct << c.mode;
  }
}

TEST_F(ServerCoreTest, RecentStampsAreNotTrustedAndProviderFilesAreFound) {
  const std::string folder = ServerFolder();
  WriteFile(folder + "B.PTPConfig", "<Pictora/>");
  WriteFile(folder + "A.PTPConfig", "<Pictora/>");
  WriteFile(folder + "notes.txt", "");
  EXPECT_FALSE(FileStamp::Of(folder).Settled());
  EXPECT_FALSE(FileStamp::Of(folder + "missing").valid);

  ConfiguredProviders configured;
  EXPECT_THAT(configured.Names(folder), ::testing::ElementsAre("A", "B"));
  const auto generation = configured.Generation();
  // Changed within the same clock tick: still seen, because the recent stamp was not trusted.
  WriteFile(folder + "C.PTPConfig", "<Pictora/>");
  EXPECT_THAT(configured.Names(folder), ::testing::ElementsAre("A", "B", "C"));

  struct timespec old[2] = {{1700000000, 0}, {1700000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, folder.c_str(), old, 0), 0);
  EXPECT_TRUE(FileStamp::Of(folder).Settled());
  configured.Names(folder);
  const auto settled = configured.Generation();
  EXPECT_GT(settled, generation);
  configured.Names(folder);
  EXPECT_EQ(configured.Generation(), settled);
}

class AuthenticationTest : public ServerCoreTest {
 protected:
  void SetUp() override {
    ServerCoreTest::SetUp();
    WriteConfiguration("<Endpoint>4000</Endpoint><CreateLogs>false</CreateLogs>"
                       "<ActivateAuthentication>true</ActivateAuthentication>");
    WriteServices(ServiceEntry("Secure/Render") + ServiceEntry("Open") +
                  ServiceEntry("Bad/../Escape"));
    StartServer();
    RegisterProvider("P", "e1");
    AddServices("P", "<Service><Name>Secure\\Render</Name></Service><Service><Name>Bad/../Escape"
                     "</Name></Service>");
    file_ = Home() + "Services/Secure/Render";
    ::unlink((Home() + "Services/Open").c_str());
  }

  bool Allowed(const CallerIdentity& caller, const std::string& service) {
    std::string xml;
    return Lookup(service, xml, caller);
  }

  std::string file_;
  const uid_t me_ = ::getuid();
  const gid_t myGroup_ = ::getgid();
  const uid_t stranger_ = ::getuid() + 4242;
};

TEST_F(AuthenticationTest, RegistrationCreatesTheFileOnlyForSafeNames) {
  EXPECT_TRUE(GeneralUtilityLib::FileExists(file_));
  EXPECT_EQ(server_->GetServices("P"),
            "<Pictora>\n\t<ImageService>Secure/Render</ImageService>\n</Pictora>\n");
  EXPECT_FALSE(GeneralUtilityLib::FileExists(Home() + "Escape"));
}

// File names keep their case, service names do not: any spelling of the name finds the file,
// and a second file differing only in case cannot open what the first one closes.
TEST_F(AuthenticationTest, EverySpellingOfTheNameMeetsTheFile) {
  ASSERT_EQ(::chmod(file_.c_str(), 0600), 0);
  WriteFile(Home() + "Services/secure/render", "");
  ASSERT_EQ(::chmod((Home() + "Services/secure/render").c_str(), 0644), 0);
  const CallerIdentity stranger = CallerIdentity::FromCredentials(stranger_, myGroup_ + 4242);
  for (const char* spelling : {"Secure/Render", "secure/render", "SECURE/RENDER", "secure\\Render", " Secure / Render "}) {
    EXPECT_FALSE(Allowed(stranger, spelling)) << spelling;
  }
  EXPECT_TRUE(Allowed(CallerIdentity::FromCredentials(me_, myGroup_), "SECURE/RENDER"));
  // Asking never creates anything.
  EXPECT_TRUE(Allowed(stranger, "Unknown/Name"));
  EXPECT_FALSE(GeneralUtilityLib::FileExists(Home() + "Services/Unknown"));
}

TEST_F(AuthenticationTest, AFolderWithoutSearchPermissionDenies) {
  ASSERT_EQ(::chmod(file_.c_str(), 0644), 0);
  ASSERT_EQ(::chmod((Home() + "Services/Secure").c_str(), 0644), 0);
  std::string xml;
  const CallerIdentity stranger = CallerIdentity::FromCredentials(stranger_, myGroup_ + 4242);
  EXPECT_FALSE(Lookup("Secure/Render", xml, stranger));
  EXPECT_FALSE(xml.empty());
  ASSERT_EQ(::chmod((Home() + "Services/Secure").c_str(), 0755), 0);
  EXPECT_TRUE(Allowed(stranger, "Secure/Render"));
}

TEST_F(AuthenticationTest, TcpCallersHaveNoIdentityAndServicesWithoutFileAreOpen) {
  std::string xml;
  EXPECT_FALSE(Lookup("Secure/Render", xml, CallerIdentity::FromAddress("10.1.1.1")));
  EXPECT_THAT(xml, HasSubstr("Failed to impersonate client: "));
  EXPECT_TRUE(Allowed(CallerIdentity::FromAddress("10.1.1.1"), "Open"));
}

TEST_F(AuthenticationTest, ClientReportLeavesOutServicesTheCallerMayNotRead) {
  ASSERT_EQ(::chmod(file_.c_str(), 0600), 0);
  std::string out;
  EXPECT_THAT(server_->GetInfo(CallerIdentity::FromCredentials(me_, myGroup_),
                               "ServerInfoForClient", out),
              HasSubstr("<Name>Secure\\Render</Name>"));
  const std::string filtered = server_->GetInfo(
      CallerIdentity::FromCredentials(stranger_, myGroup_ + 1), "ServerInfoForClient", out);
  EXPECT_THAT(filtered, HasSubstr("<Services>\n</Services>"));
}

TEST_F(AuthenticationTest, PathEscapesAreRefusedEverywhere) {
  std::string xml;
  EXPECT_FALSE(Lookup("../../Server/Pictora.Services", xml, CallerIdentity::FromCredentials(me_, myGroup_)));
  EXPECT_THAT(xml, HasSubstr("refused"));
  AuthenticationFiles files;
  EXPECT_EQ(files.PathFor("/etc/passwd"), "");
  EXPECT_EQ(files.PathFor("a/../../b"), "");

  WriteFile(Home() + "secret.PTPConfig", "<?xml version=\"1.0\"?><Pictora>secret</Pictora>");
  EXPECT_EQ(server_->GetServiceProviderConfiguration("../secret"), "");
  EXPECT_EQ(server_->GetStatus().GetItem(0).id, 15623u);
  // A registration reaches no file: any name is taken. A peer's text naming a file is never read
  // as that file.
  std::string statusXml;
  EXPECT_TRUE(server_->AddServiceProvider("Site\\..\\Render1", "s", ProviderXml("h", "e"), statusXml));
  EXPECT_FALSE(server_->AddServiceProvider("Q", "s", ServerFolder() + "Pictora.PTSConfig", statusXml));
  EXPECT_THAT(server_->GetStatus().ToXml(), HasSubstr("Could not load XML"));
}

}  // namespace
}  // namespace Korvane::Pictora::ServerCore::Testing
