// The server finds the providers' configuration files with "<folder>/*.PTPConfig". Recursion and
// patterns without a wildcard have no caller and are not tested here.
#include "util/Globber.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/TempFolder.h"

namespace Korvane::Pictora::GeneralUtilityLib {
namespace {

using testing::ElementsAre;

class GlobberTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* file : {"b.txt", "a.txt", "notes.log", "sub/z.txt", "[1].txt"}) tree_.Write(file, "x");
    tree_.Write("c.txt/inner", "a folder named like a file");
  }

  // The names of the walk's files, in the order handed out.
  std::vector<std::string> Walk(const std::string& pattern) {
    std::vector<std::string> files;
    EXPECT_TRUE(globber_.SetPattern(tree_ / pattern)) << pattern;
    const FindData* found;
    while (files.size() < 100 && (found = globber_.Next()) != nullptr) files.push_back(found->name);
    return files;
  }

  TestSupport::TempFolder tree_;
  Globber globber_;
};

TEST_F(GlobberTest, FilesOfOneFolderInNameOrderNeverFolders) {
  EXPECT_THAT(Walk("*.txt"), ElementsAre("[1].txt", "a.txt", "b.txt"));
  EXPECT_EQ(globber_.Next(), nullptr);
  EXPECT_THAT(Walk("c.txt"), ElementsAre());  // exists, but is a folder
}

}  // namespace
}  // namespace Korvane::Pictora::GeneralUtilityLib
