#include "util/CriticalSection.h"

#include <gtest/gtest.h>

#include <future>

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

TEST(CriticalSectionTest, LockLeavesOnceOnReleaseOrAtTheEndOfItsScope) NO_THREAD_SAFETY_ANALYSIS {
  ActiveCriticalSection section;
  {
    CriticalSectionLock lock(&section);
    EXPECT_FALSE(FreeForOtherThreads(section));
    lock.Release();
    EXPECT_TRUE(FreeForOtherThreads(section));
    section.Enter();  // held by someone else now: a second Release or the destructor must not free it
    lock.Release();
  }
  EXPECT_FALSE(FreeForOtherThreads(section));
  section.Leave();
  { CriticalSectionLock lock(&section); }
  EXPECT_TRUE(FreeForOtherThreads(section));
}

}  // namespace
}  // namespace Korvane::Pictora::GeneralUtilityLib
