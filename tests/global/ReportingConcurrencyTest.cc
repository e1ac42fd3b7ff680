#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "global/LogFileHandler.h"
#include "global/Object.h"
#include "global/Reporter.h"
#include "tests/support/TempFolder.h"

namespace Korvane::Pictora::Global {
namespace {

struct IgnoringHandler : IReportHandler {
  void HandleReport(std::string_view) override {}
};

// Many threads report through their own objects while the log file is reopened and a
// second handler comes and goes: every report must land as one whole line.
TEST(ReportingConcurrencyTest, ReportsFromManyThreadsLandAsWholeLines) {
  constexpr int kThreads = 6;
  constexpr int kReportsPerThread = 300;
  TestSupport::TempFolder temp;
  Reporter reporter;
  LogFileHandler log;
  log.SetFile(temp / "", "test-Server.log");
  ASSERT_TRUE(log.Open());
  reporter.AttachHandler(&log);

  std::atomic<bool> stop{false};
  std::thread churn([&] {
    IgnoringHandler passing;
    for (int round = 0; !stop.load() && round < 100000; ++round) {
      reporter.AttachHandler(&passing);
      reporter.DetachHandler(&passing);
      if (round % 50 == 0) log.Open();  // reopening appends to the same file
    }
  });
  std::vector<std::thread> reporters;
  for (int t = 0; t < kThreads; ++t) {
    reporters.emplace_back([&reporter, t] {
      Object object;
      object.SetStatusReporter(&reporter);
      for (int i = 0; i < kReportsPerThread; ++i) {
        object.Report("Test::Thread", "thread %d report %d", t, i);
      }
    });
  }
  for (std::thread& thread : reporters) thread.join();
  stop = true;
  churn.join();
  log.Close();

  const std::string content = TestSupport::ReadWholeFile(temp / "test-Server.log");
  // Whole lines: every line carries exactly one report.
  std::size_t start = 0, lines = 0;
  for (std::size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = content.substr(start, end - start);
    ++lines;
    const std::size_t first = line.find("[Test.Thread] thread ");
    ASSERT_NE(first, std::string::npos) << line;
    ASSERT_EQ(line.find("[Test.Thread] thread ", first + 1), std::string::npos) << line;
  }
  EXPECT_EQ(lines, static_cast<std::size_t>(kThreads * kReportsPerThread));
}

}  // namespace
}  // namespace Korvane::Pictora::Global
