#include "util/FileUtil.h"

#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/TempFolder.h"

namespace Korvane::Pictora::GeneralUtilityLib {
namespace {

using TestSupport::TempFolder;

TEST(FileTest, CreateDirectories) {
  TempFolder folder;
  EXPECT_TRUE(CreateDirectories(folder / "a/b\\c/"));
  EXPECT_TRUE(std::filesystem::is_directory(folder / "a/b/c"));
  EXPECT_TRUE(CreateDirectories(folder / "a/b"));  // all there already

  const std::string file = folder.Write("plain", "x");
  EXPECT_FALSE(CreateDirectories(file + "/below"));
  EXPECT_FALSE(CreateDirectories(file));
  EXPECT_FALSE(CreateDirectories("///"));
}

mode_t Mode(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(FileTest, WriteFileAtomicallyReplacesWholeFileAndKeepsMode) {
  TempFolder folder;
  const std::string file = folder.Write("config", "old content that is longer");
  ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
  ASSERT_TRUE(WriteFileAtomically(file, "new"));
  EXPECT_EQ(TestSupport::ReadWholeFile(file), "new");
  EXPECT_EQ(Mode(file), 0600u);

  ASSERT_TRUE(WriteFileAtomically(folder / "fresh", std::string("a\0b", 3)));
  std::string content;
  ASSERT_TRUE(ReadFile(folder / "fresh", content));
  EXPECT_EQ(content, std::string("a\0b", 3));
  EXPECT_EQ(Mode(folder / "fresh"), 0644u);
}

TEST(FileTest, WriteFileAtomicallyFailureLeavesNoTrace) {
  TempFolder folder;
  // The target is a folder holding a file: the rename must fail.
  const std::string inside = folder.Write("target/keep", "kept");
  EXPECT_FALSE(WriteFileAtomically(folder / "target", "new"));
  EXPECT_EQ(TestSupport::ReadWholeFile(inside), "kept");
  EXPECT_FALSE(WriteFileAtomically(folder / "missing/file", "new"));
  // No temporary file left behind.
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
    EXPECT_EQ(entry.path().filename(), "target");
  }
  std::string content;
  EXPECT_FALSE(ReadFile(folder / "missing", content));
}

// A process killed between writing a temporary file and renaming it leaves the temporary file:
// the next start removes those of its own files and nothing else.
TEST(FileTest, StaleTemporariesOfOwnFilesAreRemoved) {
  TempFolder folder;
  for (const char* name : {".Pictora.Services.a1B2c3", ".P.PTPConfig.XyZ123", ".notes.txt.abcdef", ".hidden", "x.Services"}) {
    folder.Write(name, "");
  }
  EXPECT_EQ(RemoveStaleTemporaries(folder.Path(), {".Services", ".PTPConfig"}), 2);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".hidden", ".notes.txt.abcdef", "x.Services"}));
}

}  // namespace
}  // namespace Korvane::Pictora::GeneralUtilityLib
