#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/ProcessMemory.h"

namespace Korvane::Pictora::GeneralUtilityLib {
namespace {

TEST(ProcessMemoryTest, LimitTextIsAPositiveWholeNumberOfMebibytes) {
  const std::vector<std::pair<std::string, std::size_t>> cases = {
      {"512", 512u << 20}, {"1", 1u << 20},        {"0", 0},  {"", 0},
      {"-5", 0},           {"12MB", 0},            {" 7", 0}, {"99999999999999999999", 0},
      {"17592186044416", 0},  // would overflow once turned into bytes
  };
  for (const auto& [text, bytes] : cases) EXPECT_EQ(MemoryLimitFromText(text), bytes) << text;
}

TEST(ProcessMemoryTest, ThisProcessIsMeasuredBelowItsDefaultLimit) {
  const std::size_t resident = ResidentBytes();
  EXPECT_GT(resident, 0u);
  EXPECT_LT(resident, DefaultMemoryLimit());
}

}  // namespace
}  // namespace Korvane::Pictora::GeneralUtilityLib
