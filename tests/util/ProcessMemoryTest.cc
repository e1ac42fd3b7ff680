#include "util/ProcessMemory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Korvane::Pictora::GeneralUtilityLib {
namespace {

// The measurement itself is checked through MemoryGuard::ForThisProcess (tests/servercore).
TEST(ProcessMemoryTest, LimitTextIsAPositiveWholeNumberOfMebibytes) {
  const std::vector<std::pair<std::string, std::size_t>> cases = {
      {"512", 512u << 20}, {"1", 1u << 20},        {"0", 0},  {"", 0},
      {"-5", 0},           {"12MB", 0},            {" 7", 0}, {"99999999999999999999", 0},
      {"17592186044416", 0},  // would overflow once turned into bytes
  };
  for (const auto& [text, bytes] : cases) EXPECT_EQ(MemoryLimitFromText(text), bytes) << text;
}

}  // namespace
}  // namespace Korvane::Pictora::GeneralUtilityLib
