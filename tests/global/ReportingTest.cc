#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "global/LogFileHandler.h"
#include "global/Object.h"
#include "global/Reporter.h"
#include "tests/support/TempFolder.h"
#include "util/Status.h"

namespace Korvane::Pictora::Global {
namespace {

namespace GU = GeneralUtilityLib;

struct RecordingHandler : IReportHandler {
  void HandleReport(std::string_view statusXml) override { reports.emplace_back(statusXml); }
  std::vector<std::string> reports;
};

std::string StatusXml(std::uint32_t id, const std::string& message, const std::string& source) {
  GU::Status status;
  status.Add(id, message, source);
  return status.ToXml();
}

// The line without its leading "YYYY-MM-DD HH:MM:SS.mmm ".
std::string WithoutTime(const std::string& line) {
  EXPECT_THAT(line.substr(0, 24),
              testing::MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} "));
  return line.size() < 24 ? line : line.substr(24);
}

TEST(ReporterTest, FansOutToEveryAttachedHandlerOnce) {
  Reporter reporter;
  RecordingHandler first, second;
  EXPECT_EQ(reporter.AttachHandler(&first), 1);
  EXPECT_EQ(reporter.AttachHandler(&second), 1);
  EXPECT_EQ(reporter.AttachHandler(&first), 1);
  EXPECT_EQ(reporter.AttachHandler(nullptr), 0);
  EXPECT_EQ(reporter.Report("one"), 2);
  EXPECT_EQ(reporter.DetachHandler(&first), 1);
  EXPECT_EQ(reporter.Report("two"), 1);
  EXPECT_EQ(first.reports, std::vector<std::string>{"one"});
  EXPECT_EQ(second.reports, (std::vector<std::string>{"one", "two"}));
}

TEST(ObjectTest, ReportsReachTheStatusReporterAsOneEntryStatusXml) {
  Reporter reporter;
  RecordingHandler handler;
  reporter.AttachHandler(&handler);
  Object object;
  object.Report("Src", "dropped %d", 1);  // no reporter yet
  object.SetStatusReporter(&reporter);
  object.Report("Korvane::Pictora::ServerCore::ServerImpl::Init", "Added %s: %d", "a<b&c", 7);
  object.Report(nullptr, "no source");
  object.ReportStatus();  // an empty record reports nothing
  // The record Status::Add makes of the same texts (tested in util).
  EXPECT_EQ(handler.reports, (std::vector<std::string>{
                                 StatusXml(0, "Added a<b&c: 7", "Korvane::Pictora::ServerCore::ServerImpl::Init"),
                                 StatusXml(0, "no source", "")}));
}

TEST(FormatReportLineTest, WritesOneLinePerEntry) {
  const struct {
    std::uint32_t id;
    std::string message, source, expected;
  } cases[] = {
      {0, "Listening: 3982", "", "Listening: 3982"},
      {0, "Added <x> & \"y\"", "A::B", "[A.B] Added <x> & \"y\""},
      {15616, "Failed", "ServerCore.Server.Init", "[ServerCore.Server.Init : 003D00] Error: Failed"},
      {GU::kUnknownStatusId, "Odd", "", "[Unknown ID] Error: Odd"},
      {0, "two\nlines", "S", "[S] two lines"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WithoutTime(FormatReportLine(StatusXml(c.id, c.message, c.source))), c.expected);
  }
  EXPECT_EQ(FormatReportLine(""), "");
  EXPECT_EQ(WithoutTime(FormatReportLine("not status xml")), "not status xml");
  GU::Status two;
  two.Add(1, "first", "A");
  two.Add(0, "second", "B");
  const std::string lines = FormatReportLine(two.ToXml());
  const std::size_t newline = lines.find('\n');
  ASSERT_NE(newline, std::string::npos);
  EXPECT_EQ(WithoutTime(lines.substr(0, newline)), "[A : 000001] Error: first");
  EXPECT_EQ(WithoutTime(lines.substr(newline + 1)), "[B] second");
}

// Writing the log file (a fresh folder, each line flushed) is proven by servercore's StartupTest,
// appending on reopen by ReportingConcurrencyTest, the line itself by FormatReportLineTest.
TEST(LogFileHandlerTest, CannotOpenWhereAFileBlocksTheFolder) {
  TestSupport::TempFolder temp;
  LogFileHandler handler;
  handler.HandleReport(StatusXml(0, "never opened: dropped", ""));
  handler.SetFile(temp.Write("file", "x") + "/sub", "x.log");
  EXPECT_FALSE(handler.Open());
  EXPECT_FALSE(handler.SetFile(temp / "", ""));
  EXPECT_FALSE(handler.Open());
}

TEST(LogFileHandlerTest, DestroyedHandlerLeavesTheGlobalReporter) {
  const int before = GetGlobalReporter()->HandlerCount();
  {
    LogFileHandler handler;
    ConsoleReportHandler console;
    GetGlobalReporter()->AttachHandler(&handler);
    GetGlobalReporter()->AttachHandler(&console);
    EXPECT_EQ(GetGlobalReporter()->HandlerCount(), before + 2);
  }
  EXPECT_EQ(GetGlobalReporter()->HandlerCount(), before);
}

}  // namespace
}  // namespace Korvane::Pictora::Global
