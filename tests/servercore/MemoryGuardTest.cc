// The memory guard's arithmetic: the incoming text counts, freed memory is given back before a
// refusal, and sizes near the limit cannot wrap around.
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <limits>
#include <vector>

#include "servercore/MemoryGuard.h"

namespace Korvane::Pictora::ServerCore {
namespace {

TEST(MemoryGuardTest, IncomingBytesCountAndFreedMemoryIsGivenBackBeforeARefusal) {
  struct Case {
    const char* name;
    std::size_t residentBefore;  // before freed memory is given back
    std::size_t residentAfter;   // after
    std::size_t incoming;
    bool room;
    int givenBack;
  };
  constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
  const std::vector<Case> cases = {
      {"well below", 10, 10, 20, true, 0},
      {"exactly at the limit", 80, 80, 20, true, 0},
      {"one byte over", 81, 81, 20, false, 1},
      {"over until freed memory is given back", 95, 40, 20, true, 1},
      {"resident above the limit", 150, 150, 0, false, 1},
      {"an incoming size that would wrap", 10, 10, kMax, false, 1},
  };
  for (const Case& c : cases) {
    bool givenBack = false;
    int returns = 0;
    MemoryGuard guard(
        100, [&] { return givenBack ? c.residentAfter : c.residentBefore; },
        [&] {
          givenBack = true;
          ++returns;
        });
    EXPECT_EQ(guard.HasRoom(c.incoming), c.room) << c.name;
    EXPECT_EQ(returns, c.givenBack) << c.name;
    EXPECT_EQ(guard.LastResidentBytes(), givenBack ? c.residentAfter : c.residentBefore) << c.name;
  }
}

TEST(MemoryGuardTest, FreedMemoryIsGivenBackAtMostOncePerInterval) {
  int returns = 0;
  MemoryGuard seldom(100, [] { return std::size_t{200}; }, [&] { ++returns; }, std::chrono::hours(1));
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(seldom.HasRoom(0));
  EXPECT_EQ(returns, 1);
  MemoryGuard always(100, [] { return std::size_t{200}; }, [&] { ++returns; }, std::chrono::milliseconds(0));
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(always.HasRoom(0));
  EXPECT_EQ(returns, 6);
}

TEST(MemoryGuardTest, TheProcessGuardMeasuresThisProcess) {
  auto guard = MemoryGuard::ForThisProcess();
  EXPECT_TRUE(guard->HasRoom(0));
  EXPECT_GT(guard->LastResidentBytes(), 0u);
  EXPECT_GT(guard->LimitBytes(), guard->LastResidentBytes());
}

}  // namespace
}  // namespace Korvane::Pictora::ServerCore
