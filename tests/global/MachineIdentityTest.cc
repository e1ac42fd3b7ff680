#include "global/MachineIdentity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "util/TextUtil.h"

namespace Korvane::Pictora::Global {
namespace {

bool IsLowerCaseUuid(const std::string& id) {
  if (id.size() != 36) return false;
  for (std::size_t i = 0; i < id.size(); ++i) {
    const bool hyphenPlace = i == 8 || i == 13 || i == 18 || i == 23;
    const char c = id[i];
    const bool ok = hyphenPlace ? c == '-' : (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    if (!ok) return false;
  }
  return true;
}

TEST(MachineIdentityTest, IdentifiersAreFreshLowerCaseUuids) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string id = NewUniqueId();
    EXPECT_TRUE(IsLowerCaseUuid(id)) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(MachineIdentityTest, LocalIdentitiesJoinLowerCasedParts) {
  const std::string identities = LocalIdentities();
  EXPECT_EQ(std::count(identities.begin(), identities.end(), ';'), 2) << identities;
  const std::string expected = GeneralUtilityLib::ToLower(LocalHostName()) + ";" +
                               GeneralUtilityLib::ToLower(LocalAddress()) + ";" +
                               GeneralUtilityLib::ToLower(LocalFullyQualifiedName());
  EXPECT_EQ(identities, expected);
  EXPECT_FALSE(LocalHostName().empty());
  EXPECT_EQ(identities, GeneralUtilityLib::ToLower(identities));
}

TEST(MachineIdentityTest, ErrorTextsAreTrimmedSystemMessages) {
  EXPECT_EQ(ErrorText(ENOENT), "No such file or directory");
  EXPECT_FALSE(ErrorText(123456).empty());
  errno = 0;
  EXPECT_EQ(LastErrorText(), "");
  errno = EACCES;
  EXPECT_EQ(LastErrorText(), "Permission denied");
}

}  // namespace
}  // namespace Korvane::Pictora::Global
