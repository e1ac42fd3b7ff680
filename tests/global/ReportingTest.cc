#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "global/LogFileHandler.h"
#include "global/Object.h"
#include "global/Reporter.h"
#include "tests/global/TempFolder.h"
#include "util/Status.h"

namespace Korvane::Pictora::Global {
namespace {

namespace GU = GeneralUtilityLib;

class RecordingHandler : public IReportHandler {
 public:
  void HandleReport(std::string_view statusXml) override { reports.emplace_back(statusXml); }
  std::vector<std::string> reports;
};

// The single entry of a reported status XML.
GU::StatusItem OnlyItem(const std::string& statusXml) {
  GU::Status status;
  EXPECT_TRUE(status.AddXml(statusXml)) << statusXml;
  EXPECT_EQ(status.Count(), 1u) << statusXml;
  return status.Count() == 1 ? status.GetItem(0) : GU::StatusItem{};
}

TEST(ReporterTest, FansOutToEveryAttachedHandlerOnce) {
  Reporter reporter;
  RecordingHandler first;
  RecordingHandler second;
  EXPECT_EQ(reporter.AttachHandler(&first), 1);
  EXPECT_EQ(reporter.AttachHandler(&second), 1);
  EXPECT_EQ(reporter.AttachHandler(&first), 1);
  EXPECT_EQ(reporter.AttachHandler(nullptr), 0);
  EXPECT_EQ(reporter.HandlerCount(), 2);

  EXPECT_EQ(reporter.Report("one"), 2);
  EXPECT_EQ(reporter.Report(nullptr), 0);
  EXPECT_EQ(reporter.DetachHandler(&first), 1);
  EXPECT_EQ(reporter.DetachHandler(&first), 0);
  EXPECT_EQ(reporter.Report("two"), 1);

  EXPECT_EQ(first.reports, std::vector<std::string>{"one"});
  EXPECT_EQ(second.reports, (std::vector<std::string>{"one", "two"}));
}

TEST(ReporterTest, GlobalReporterIsOneObject) {
  IReporter* global = GetGlobalReporter();
  ASSERT_NE(global, nullptr);
  EXPECT_EQ(global, GetGlobalReporter());
  RecordingHandler handler;
  global->AttachHandler(&handler);
  global->Report("hello");
  global->DetachHandler(&handler);
  EXPECT_EQ(handler.reports, std::vector<std::string>{"hello"});
}

TEST(ObjectTest, ReportsGoToTheStatusReporterAsStatusXml) {
  Reporter reporter;
  RecordingHandler handler;
  reporter.AttachHandler(&handler);
  Object object;
  object.Report("Src::Fn", "dropped %d", 1);  // no reporter yet
  EXPECT_EQ(object.Report(GU::Status()), 0);
  EXPECT_TRUE(handler.reports.empty());

  object.SetStatusReporter(&reporter);
  object.Report("Korvane::Pictora::ServerCore::ServerImpl::Init", "Added %s: %d", "a<b&c", 7);
  object.Report(nullptr, "no source");
  ASSERT_EQ(handler.reports.size(), 2u);
  const GU::StatusItem first = OnlyItem(handler.reports[0]);
  EXPECT_EQ(first.id, 0u);
  EXPECT_EQ(first.source, "Korvane.Pictora.ServerCore.ServerImpl.Init");
  EXPECT_EQ(first.message, "Added a<b&c: 7");
  EXPECT_EQ(OnlyItem(handler.reports[1]).source, "");
}

class StatusObject : public Object {
 public:
  void Fail() { MutableStatus().Set(15616, "Failed to read", "ServerCore.Server.Init"); }
};

TEST(ObjectTest, ReportStatusHandsTheOwnRecordWhenItHasEntries) {
  Reporter reporter;
  RecordingHandler handler;
  reporter.AttachHandler(&handler);
  StatusObject object;
  object.SetStatusReporter(&reporter);
  object.ReportStatus();
  EXPECT_TRUE(handler.reports.empty());
  object.Fail();
  object.ReportStatus();
  ASSERT_EQ(handler.reports.size(), 1u);
  EXPECT_EQ(OnlyItem(handler.reports[0]).id, 15616u);

  EXPECT_EQ(object.SetProperty("Name", "x"), 1);
  EXPECT_EQ(object.GetProperty("NAME"), "x");
  EXPECT_EQ(object.GetProperty("other"), "");
}

// "YYYY-MM-DD HH:MM:SS.mmm " followed by the rest of the line.
bool StartsWithTime(const std::string& line) {
  constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd.ddd ";
  if (line.size() < kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = line[i] >= '0' && line[i] <= '9';
    if (kShape[i] == 'd' ? !digit : line[i] != kShape[i]) return false;
  }
  return true;
}

std::string WithoutTime(const std::string& line) {
  EXPECT_TRUE(StartsWithTime(line)) << line;
  return line.size() > 24 ? line.substr(24) : line;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "last line not terminated";
  return lines;
}

std::string OneEntryXml(std::uint32_t id, const std::string& message, const std::string& source) {
  GU::Status status;
  status.Add(id, message, source);
  return status.ToXml(false);
}

TEST(FormatReportLineTest, WritesOneLinePerEntry) {
  const struct {
    std::uint32_t id;
    std::string message;
    std::string source;
    std::string expected;
  } cases[] = {
      {0, "Server listening at endpoint: 3982", "", "Server listening at endpoint: 3982"},
      {0, "Added <x> & \"y\"", "Korvane::Pictora::ServerCore::ServerImpl::AddServices",
       "[Korvane.Pictora.ServerCore.ServerImpl.AddServices] Added <x> & \"y\""},
      {15616, "Failed", "ServerCore.Server.Init", "[ServerCore.Server.Init : 003D00] Error: Failed"},
      {GU::kUnknownStatusId, "Odd", "", "[Unknown ID] Error: Odd"},
      {0, "two\nlines", "S", "[S] two lines"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WithoutTime(FormatReportLine(OneEntryXml(c.id, c.message, c.source))), c.expected);
  }
  EXPECT_EQ(FormatReportLine(""), "");
  EXPECT_EQ(WithoutTime(FormatReportLine("not status xml")), "not status xml");

  GU::Status two;
  two.Add(1, "first", "A");
  two.Add(0, "second", "B");
  const std::vector<std::string> lines = Lines(FormatReportLine(two.ToXml(false)) + "\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(WithoutTime(lines[0]), "[A : 000001] Error: first");
  EXPECT_EQ(WithoutTime(lines[1]), "[B] second");
}

TEST(LogFileHandlerTest, AppendsFlushedLinesToTheFileInAFreshFolder) {
  Testing::TempFolder temp;
  const std::string folder = temp.Path() + "Logs/Server/";
  {
    LogFileHandler handler;
    ASSERT_TRUE(handler.SetFile(folder, "20260101-Server.log"));
    EXPECT_EQ(handler.Path(), folder + "20260101-Server.log");
    ASSERT_TRUE(handler.Open());
    Reporter reporter;
    reporter.AttachHandler(&handler);
    reporter.Report(OneEntryXml(0, "Starting Server: Version '1.0'", "Src").c_str());
    // Flushed at once: visible before the handler closes.
    EXPECT_EQ(Lines(Testing::ReadWholeFile(handler.Path())).size(), 1u);
    reporter.Report(OneEntryXml(0, "a < b & 'c' \"d\"", "").c_str());
    reporter.DetachHandler(&handler);
  }
  {
    LogFileHandler reopened;  // a second open appends
    reopened.SetFile(folder, "20260101-Server.log");
    ASSERT_TRUE(reopened.Open());
    reopened.HandleReport(OneEntryXml(0, "third", "T"));
  }
  const std::vector<std::string> lines =
      Lines(Testing::ReadWholeFile(folder + "20260101-Server.log"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(WithoutTime(lines[0]), "[Src] Starting Server: Version '1.0'");
  EXPECT_EQ(WithoutTime(lines[1]), "a < b & 'c' \"d\"");
  EXPECT_EQ(WithoutTime(lines[2]), "[T] third");
}

TEST(LogFileHandlerTest, DropsReportsWhenNotOpen) {
  Testing::TempFolder temp;
  const std::string blocker = temp.WriteFile("file", "x");
  LogFileHandler handler;
  handler.HandleReport(OneEntryXml(0, "nowhere", ""));  // never opened: nothing happens
  handler.SetFile(blocker + "/sub", "x.log");           // a file stands where a folder should
  EXPECT_FALSE(handler.Open());
  handler.HandleReport(OneEntryXml(0, "nowhere", ""));
  EXPECT_FALSE(handler.SetFile(temp.Path(), ""));
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
  GetGlobalReporter()->Report(OneEntryXml(0, "after", "").c_str());
}

}  // namespace
}  // namespace Korvane::Pictora::Global
