#include "util/FileUtil.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/support/TempFolder.h"

namespace Korvane::Pictora::GeneralUtilityLib {
namespace {

using TestSupport::TempFolder;

TEST(PathTest, MakeAbsolutePath) {
  const std::string longName(257, 'n');  // "/" + 257 + "/x" = 260
  const struct {
    const char* path;
    std::string base;
    std::string expected;
  } cases[] = {
      {"x/../y.log", "/base", "/base/y.log"},
      {"/abs.log", "/base", "/abs.log"},
      {"./a/./b/", "/base/", "/base/a/b/"},
      {"../../../up", "/base/one", "/up"},
      {"Logs/", "\\srv\\pictora", "/srv/pictora/Logs/"},
      {"a", "", "a"},
      {"../a", "rel", "a"},
      {"../../a", "rel", "../a"},
      {"x", "/" + longName, ""},          // reaches the path limit
      {"x", std::string("/") + std::string(256, 'n'), "/" + std::string(256, 'n') + "/x"},
  };
  for (const auto& c : cases) EXPECT_EQ(MakeAbsolutePath(c.path, c.base), c.expected) << c.path;
  EXPECT_TRUE(IsRelativePath("a/b"));
  EXPECT_TRUE(IsRelativePath(""));
  EXPECT_FALSE(IsRelativePath("/a"));
}

TEST(FileTest, CreateDirectories) {
  TempFolder folder;
  const std::string deep = folder / "a/b\\c/";
  EXPECT_TRUE(CreateDirectories(deep));
  EXPECT_TRUE(std::filesystem::is_directory(folder / "a/b/c"));
  EXPECT_TRUE(CreateDirectories(folder / "a/b"));  // all there already

  const std::string file = folder.Write("plain", "x");
  EXPECT_FALSE(CreateDirectories(file + "/below"));
  EXPECT_FALSE(CreateDirectories(file));
  EXPECT_FALSE(CreateDirectories("///"));
}

TEST(FileTest, IsFileNewerThanUsesFullPrecision) {
  TempFolder folder;
  const std::string file = folder.Write("f", "x");
  const timespec times[2] = {{1000, 0}, {1000, 500}};  // mtime 1000 s + 500 ns
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  EXPECT_TRUE(IsFileNewerThan(file, 999));
  EXPECT_TRUE(IsFileNewerThan(file, 1000));
  EXPECT_FALSE(IsFileNewerThan(file, 1001));
  EXPECT_FALSE(IsFileNewerThan(folder / "missing", 0));
  EXPECT_FALSE(IsFileNewerThan(folder.Path(), 0));  // a folder is not a file
}

TEST(FileTest, WriteFileAtomicallyReplacesWholeFileAndKeepsMode) {
  TempFolder folder;
  const std::string file = folder.Write("config", "old content that is longer");
  ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
  ASSERT_TRUE(WriteFileAtomically(file, "new"));
  std::string content;
  ASSERT_TRUE(ReadFile(file, content));
  EXPECT_EQ(content, "new");
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);

  ASSERT_TRUE(WriteFileAtomically(folder / "fresh", std::string("a\0b", 3)));
  ASSERT_TRUE(ReadFile(folder / "fresh", content));
  EXPECT_EQ(content, std::string("a\0b", 3));
  ASSERT_EQ(::stat((folder / "fresh").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
}

TEST(FileTest, WriteFileAtomicallyFailureLeavesNoTrace) {
  TempFolder folder;
  // The target is a folder holding a file: the rename must fail.
  const std::string inside = folder.Write("target/keep", "kept");
  EXPECT_FALSE(WriteFileAtomically(folder / "target", "new"));
  std::string content;
  ASSERT_TRUE(ReadFile(inside, content));
  EXPECT_EQ(content, "kept");
  EXPECT_FALSE(WriteFileAtomically(folder / "missing/file", "new"));

  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
    EXPECT_EQ(entry.path().filename(), "target");  // no temporary file left behind
    ++entries;
  }
  EXPECT_EQ(entries, 1);
  EXPECT_FALSE(ReadFile(folder / "missing", content));
}

TEST(FileTest, SpecialFoldersComeFromTheEnvironment) {
  ::setenv("PICTORA_COMMON_APPDATA", "/tmp/appdata", 1);
  EXPECT_EQ(GetSpecialFolder(SpecialFolder::CommonApplicationData), "/tmp/appdata/");
  ::unsetenv("PICTORA_COMMON_APPDATA");
  EXPECT_EQ(GetSpecialFolder(SpecialFolder::CommonApplicationData), "/var/lib/");
  ::setenv("PICTORA_DOCUMENTS", "/docs/", 1);
  EXPECT_EQ(GetSpecialFolder(SpecialFolder::PersonalDocuments), "/docs/");
  ::unsetenv("PICTORA_DOCUMENTS");
}

}  // namespace
}  // namespace Korvane::Pictora::GeneralUtilityLib
