#include "global/MachineIdentity.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>

namespace Korvane::Pictora::Global {
namespace {

TEST(MachineIdentityTest, IdentifiersAreFreshLowerCaseUuids) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string id = NewUniqueId();
    ASSERT_EQ(id.size(), 36u);
    for (std::size_t at : {8, 13, 18, 23}) EXPECT_EQ(id[at], '-') << id;
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef-"), std::string::npos) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(MachineIdentityTest, ErrorTextsAreTrimmedSystemMessages) {
  EXPECT_EQ(ErrorText(ENOENT), "No such file or directory");
  errno = 0;
  EXPECT_EQ(LastErrorText(), "");
  errno = EACCES;
  EXPECT_EQ(LastErrorText(), "Permission denied");
}

}  // namespace
}  // namespace Korvane::Pictora::Global
