#include "host/CommandLine.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "host/LivenessClock.h"

namespace Korvane::Pictora::Host {
namespace {

TEST(CommandLineTest, ModesAndTheirWords) {
  struct Case {
    std::vector<std::string> words;
    RunMode mode;
    std::string allowList;
    std::string endpoint;
  };
  const Case cases[] = {
      {{"server"}, RunMode::kNothing, "", ""},
      {{}, RunMode::kNothing, "", ""},
      {{"server", "-console"}, RunMode::kConsole, "", ""},
      {{"server", "--CONSOLE", "hostA;hostB"}, RunMode::kConsole, "hostA;hostB", ""},
      {{"server", "-Console", "", "4000", "extra"}, RunMode::kConsole, "", "4000"},
      {{"server", "-console", "-x", "--help"}, RunMode::kConsole, "-x", "--help"},  // values, not options
      {{"server", "-UNINSTALL"}, RunMode::kUninstall, "", ""},
      {{"server", "--uninstall", "ignored"}, RunMode::kUninstall, "", ""},
      {{"server", "--check-config"}, RunMode::kCheckConfig, "", ""},
      {{"server", ""}, RunMode::kService, "", ""},
      {{"server", "hostA", "4001", "extra"}, RunMode::kService, "hostA", "4001"},
      {{"server", "console"}, RunMode::kService, "console", ""},  // no dash: just a word
      {{"server", "---console"}, RunMode::kService, "---console", ""},
      {{"server", "--bogus", "-v"}, RunMode::kService, "--bogus", "-v"},
  };
  for (const Case& c : cases) {
    std::ostringstream out, err;
    const CommandLine line = ParseCommandLine(c.words, out, err);
    SCOPED_TRACE(c.words.size() > 1 ? c.words[1] : "(none)");
    EXPECT_EQ(line.mode, c.mode);
    EXPECT_EQ(line.extraAllowList, c.allowList);
    EXPECT_EQ(line.endpoint, c.endpoint);
    EXPECT_EQ(line.exitStatus, 0);
    EXPECT_EQ(out.str() + err.str(), "");
  }
}

TEST(CommandLineTest, HelpAndVersionPrintAndStartNothing) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"server", "--help"}, "pictora-server -console [extraAllowList] [endpoint]"},
      {{"server", "-h", "extra"}, "pictora-server -uninstall"},
      {{"server", "--version"}, PICTORA_VERSION "\n"},
  };
  for (const auto& [words, expected] : cases) {
    std::ostringstream out, err;
    const CommandLine line = ParseCommandLine(words, out, err);
    EXPECT_EQ(line.mode, RunMode::kNothing) << words[1];
    EXPECT_EQ(line.exitStatus, 0) << words[1];
    EXPECT_NE(out.str().find(expected), std::string::npos) << out.str();
  }
}

TEST(LivenessClockTest, APassIsDueOnlyAfterMoreThanThePeriod) {
  LivenessClock clock(60, 1000);
  EXPECT_FALSE(clock.Due(1060));  // exactly 60 seconds do not count
  EXPECT_TRUE(clock.Due(1061));
  clock.PassEnded(1075);  // counted from the end of the pass
  EXPECT_FALSE(clock.Due(1135));
  EXPECT_TRUE(clock.Due(1136));
}

}  // namespace
}  // namespace Korvane::Pictora::Host
