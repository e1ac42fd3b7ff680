#include "global/Installation.h"

#include <gtest/gtest.h>

#include "global/Application.h"
#include "tests/support/TempFolder.h"

namespace Korvane::Pictora::Global {
namespace {

class InstallationTest : public ::testing::Test {
 protected:
  void WriteRegistry(const std::string& content) { temp_.Write("pictora.conf", content); }
  std::string Data() const { return temp_ / "appdata/Korvane/Pictora/"; }

  TestSupport::TempFolder temp_;
  TestSupport::ScopedEnv registry_{"PICTORA_REGISTRY_FILE", temp_ / "pictora.conf"};
  TestSupport::ScopedEnv appData_{"PICTORA_COMMON_APPDATA", temp_ / "appdata"};
  TestSupport::ScopedEnv documents_{"PICTORA_DOCUMENTS", temp_ / "docs/"};
};

// One folder of each kind: below the definitions, the home, the data and the documents
// folders, the home as written, and numbers out of range. The server itself uses 9 and 12.
TEST_F(InstallationTest, FoldersFollowHomeAndSpecialFolders) {
  WriteRegistry("Home=/opt\\korvane/app\n");
  const std::string home = "/opt/korvane/app/";
  const std::pair<int, std::string> expected[] = {
      {0, home + "XADefs/"},  {13, home + "XADefs/GeoTransformers/"},  {1, home},  {20, home + "Bin/"},
      {8, temp_ / "appdata/Korvane/"},  {9, Data()},  {12, Data() + "Logs/"},  {18, Data() + "Config/"},
      {11, temp_ / "docs/Korvane/Pictora/"},  {15, "/opt\\korvane/app/"},  {21, ""},  {-1, ""},
  };
  for (const auto& [number, folder] : expected) {
    EXPECT_EQ(InstallationFolder(number), folder) << "folder " << number;
  }
}

TEST_F(InstallationTest, ReadsValuesLikeRegistryValues) {
  EXPECT_EQ(InstalledVersion(), "0.0.0.0");  // no file at all
  WriteRegistry("# Home=/commented\n\n   hOmE   =   /srv/with blanks   \r\nno separator\n"
                "Version=  \nHome=/second\nLong=" + std::string(512, 'x') + "\n");
  EXPECT_EQ(ReadInstallationValue("HOME"), "/srv/with blanks");
  EXPECT_EQ(ReadInstallationValue("Missing"), "");
  EXPECT_EQ(ReadInstallationValue("Long"), "");  // does not fit the value buffer
  EXPECT_EQ(InstalledVersion(), "0.0.0.0");
  WriteRegistry("Version=3.2.1.0\n");
  EXPECT_EQ(InstalledVersion(), "3.2.1.0");
  EXPECT_EQ(GetApplicationObject()->Version(), "3.2.1.0");
}

TEST_F(InstallationTest, ApplicationObjectAnswersFolders) {
  std::string folder;
  EXPECT_TRUE(GetApplicationObject()->GetFolder(folder, kLogsFolder));
  EXPECT_EQ(folder, Data() + "Logs/");
  EXPECT_FALSE(GetApplicationObject()->GetFolder(folder, 99));
  EXPECT_EQ(folder, "");
}

}  // namespace
}  // namespace Korvane::Pictora::Global
