#include "global/Installation.h"

#include <gtest/gtest.h>

#include "global/Application.h"
#include "tests/global/TempFolder.h"

namespace Korvane::Pictora::Global {
namespace {

using Testing::ScopedEnv;
using Testing::TempFolder;

class InstallationTest : public ::testing::Test {
 protected:
  InstallationTest()
      : registry_("PICTORA_REGISTRY_FILE", temp_.Path() + "pictora.conf"),
        appData_("PICTORA_COMMON_APPDATA", temp_.Path() + "appdata"),
        documents_("PICTORA_DOCUMENTS", temp_.Path() + "docs/") {}

  void WriteRegistry(const std::string& content) { temp_.WriteFile("pictora.conf", content); }
  std::string AppData() const { return temp_.Path() + "appdata/"; }

  TempFolder temp_;
  ScopedEnv registry_;
  ScopedEnv appData_;
  ScopedEnv documents_;
};

TEST_F(InstallationTest, FoldersFollowHomeAndSpecialFolders) {
  WriteRegistry("Home=/opt\\korvane/app\n");
  const std::string home = "/opt/korvane/app/";
  const std::string defs = home + "XADefs/";
  const std::string data = AppData() + "Korvane/Pictora/";
  const std::pair<int, std::string> expected[] = {
      {0, defs},
      {1, home},
      {2, defs + "RPDef Generators/"},
      {3, home + "RPDef Generators/"},
      {4, defs + "Raster Formats/"},
      {5, home + "Raster Formats/"},
      {6, defs + "Raster Processes/"},
      {7, home + "Raster Processes/"},
      {8, AppData() + "Korvane/"},
      {9, data},
      {10, home + "Format Runtime Data/"},
      {11, temp_.Path() + "docs/Korvane/Pictora/"},
      {12, data + "Logs/"},
      {13, defs + "GeoTransformers/"},
      {14, home + "Symbology/"},
      {15, "/opt\\korvane/app/"},
      {16, home + "Help/"},
      {17, home + "Bitmaps/"},
      {18, data + "Config/"},
      {19, home + "pedata/"},
      {20, home + "Bin/"},
      {21, ""},
      {-1, ""},
  };
  for (const auto& [number, folder] : expected) {
    EXPECT_EQ(InstallationFolder(number), folder) << "folder " << number;
  }
}

TEST_F(InstallationTest, FoldersWithoutHomeAreRelativeNames) {
  WriteRegistry("Version=2.1.0.7\n");
  EXPECT_EQ(InstallationFolder(1), "");
  EXPECT_EQ(InstallationFolder(15), "");
  EXPECT_EQ(InstallationFolder(0), "XADefs/");
  EXPECT_EQ(InstallationFolder(13), "XADefs/GeoTransformers/");
  EXPECT_EQ(InstallationFolder(20), "Bin/");
  EXPECT_EQ(InstallationFolder(kHomeFolder), AppData() + "Korvane/Pictora/");
}

TEST_F(InstallationTest, HomeWithTrailingSeparatorKeepsOne) {
  WriteRegistry("Home=/srv/pictora/\n");
  EXPECT_EQ(InstallationFolder(1), "/srv/pictora/");
  EXPECT_EQ(InstallationFolder(15), "/srv/pictora/");
}

TEST_F(InstallationTest, ReadsValuesLikeRegistryValues) {
  WriteRegistry(
      "# Home=/commented\n"
      "\n"
      "   hOmE   =   /srv/with blanks   \r\n"
      "no separator here\n"
      "Version=\n"
      "Home=/second\n");
  EXPECT_EQ(ReadInstallationValue("Home"), "/srv/with blanks");
  EXPECT_EQ(ReadInstallationValue("HOME"), "/srv/with blanks");
  EXPECT_EQ(ReadInstallationValue("Version"), "");
  EXPECT_EQ(ReadInstallationValue("Missing"), "");
  EXPECT_EQ(ReadInstallationValue("# Home"), "");
}

TEST_F(InstallationTest, VersionDefaultsWhenMissingOrEmpty) {
  EXPECT_EQ(InstalledVersion(), "0.0.0.0");  // no file at all
  WriteRegistry("Home=/x\n");
  EXPECT_EQ(InstalledVersion(), "0.0.0.0");
  WriteRegistry("Version=   \n");
  EXPECT_EQ(InstalledVersion(), "0.0.0.0");
  WriteRegistry("Version=3.2.1.0\n");
  EXPECT_EQ(InstalledVersion(), "3.2.1.0");
}

TEST_F(InstallationTest, OverlongValueReadsAsMissing) {
  WriteRegistry("Home=/" + std::string(510, 'a') + "\nVersion=" + std::string(512, '9') + "\n");
  EXPECT_EQ(ReadInstallationValue("Home").size(), 511u);
  EXPECT_EQ(InstalledVersion(), "0.0.0.0");
}

TEST_F(InstallationTest, ApplicationObjectAnswersFolders) {
  WriteRegistry("Version=1.2.3.4\n");
  IApplication* application = GetApplicationObject();
  ASSERT_NE(application, nullptr);
  EXPECT_EQ(application, GetApplicationObject());
  EXPECT_EQ(application->Version(), "1.2.3.4");
  std::string folder;
  EXPECT_TRUE(application->GetFolder(folder, kLogsFolder));
  EXPECT_EQ(folder, AppData() + "Korvane/Pictora/Logs/");
  EXPECT_FALSE(application->GetFolder(folder, 99));
  EXPECT_EQ(folder, "");
}

}  // namespace
}  // namespace Korvane::Pictora::Global
