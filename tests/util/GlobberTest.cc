#include "util/Globber.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/TempFolder.h"

namespace Korvane::Pictora::GeneralUtilityLib {
namespace {

using TestSupport::TempFolder;
using testing::ElementsAre;

class GlobberTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* file : {"b.txt", "a.txt", "notes.log", "sub/z.txt", "sub/deep/w.txt",
                             "sub2/x.txt", "[1].txt"}) {
      tree_.Write(file, "x");
    }
    tree_.Write("c.txt/inner", "a folder named like a file");
  }

  // The walk's files relative to the tree, in the order handed out.
  std::vector<std::string> Walk(Globber& globber) {
    std::vector<std::string> files;
    for (int guard = 0; guard < 100; ++guard) {
      const FindData* found = globber.Next();
      if (found == nullptr) break;
      files.push_back(found->path.substr(tree_.Path().size() + 1));
    }
    return files;
  }

  TempFolder tree_;
};

TEST_F(GlobberTest, FilesOfOneFolderInNameOrder) {
  Globber globber;
  ASSERT_TRUE(globber.SetPattern(tree_ / "*.txt"));
  EXPECT_THAT(Walk(globber), ElementsAre("[1].txt", "a.txt", "b.txt"));
  EXPECT_EQ(globber.Next(), nullptr);
}

TEST_F(GlobberTest, RecursionIsBreadthFirst) {
  Globber globber;
  EXPECT_FALSE(globber.SetOption("depth", "1"));
  ASSERT_TRUE(globber.SetOption("Recurse", "yes"));
  EXPECT_EQ(globber.GetOption("RECURSE"), "true");
  ASSERT_TRUE(globber.SetPattern(tree_ / "?.txt"));
  EXPECT_THAT(Walk(globber), ElementsAre("a.txt", "b.txt", "sub/z.txt", "sub2/x.txt",
                                         "sub/deep/w.txt"));
}

TEST_F(GlobberTest, PatternsWithoutWildcardOrWithOneInTheFolder) {
  Globber globber;
  ASSERT_TRUE(globber.SetPattern(tree_ / "notes.log"));
  const FindData* found = globber.Next();
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->name, "notes.log");
  EXPECT_EQ(found->size, 1u);
  EXPECT_EQ(globber.Next(), nullptr);

  EXPECT_FALSE(globber.SetPattern(tree_ / "missing.log"));
  EXPECT_FALSE(globber.SetPattern(tree_ / "s*/z.txt"));
  ASSERT_TRUE(globber.SetPattern(tree_ / "c.txt"));  // exists, but is a folder
  EXPECT_EQ(globber.Next(), nullptr);
  ASSERT_TRUE(globber.SetPattern(tree_ / "[1]*"));  // brackets match themselves
  EXPECT_THAT(Walk(globber), ElementsAre("[1].txt"));
}

}  // namespace
}  // namespace Korvane::Pictora::GeneralUtilityLib
