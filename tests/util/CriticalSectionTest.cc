#include "util/CriticalSection.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

namespace Korvane::Pictora::GeneralUtilityLib {
namespace {

// Whether another thread could enter the section right now (it leaves again at once).
bool FreeForOtherThreads(ActiveCriticalSection& section) {
  return std::async(std::launch::async, [&section]() NO_THREAD_SAFETY_ANALYSIS {
           if (!section.TryEnter()) return false;
           section.Leave();
           return true;
         }).get();
}

TEST(CriticalSectionTest, ReleaseThenDestroyLeavesOnce) NO_THREAD_SAFETY_ANALYSIS {
  ActiveCriticalSection section;
  section.Enter();  // outer hold: a second Leave would free the section
  {
    CriticalSectionLock lock(&section, "inner");
    EXPECT_FALSE(FreeForOtherThreads(section));
    lock.Release();
    lock.Release();
  }
  EXPECT_FALSE(FreeForOtherThreads(section));
  section.Leave();
  EXPECT_TRUE(FreeForOtherThreads(section));
}

// The analysis does not model re-entrant sections, hence it is off for the nested lock.
TEST(CriticalSectionTest, ExceptionReleasesTheSection) NO_THREAD_SAFETY_ANALYSIS {
  ActiveCriticalSection section;
  EXPECT_THROW(
      {
        CriticalSectionLock lock(&section, "op");
        CriticalSectionLock again(&section, "nested");  // re-entrant on the same thread
        throw std::runtime_error("fails");
      },
      std::runtime_error);
  EXPECT_TRUE(FreeForOtherThreads(section));
}

}  // namespace
}  // namespace Korvane::Pictora::GeneralUtilityLib
