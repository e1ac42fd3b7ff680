#include "rpc/ManagementAudit.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace Korvane::Pictora::Rpc {
namespace {

// How a reader of the log takes a line apart: a quoted value runs to the first unescaped `'`.
const std::regex kLine(R"(management call 30 StartServiceProvider on '((?:[^'\\]|\\.)*)' by user )"
                       R"('((?:[^'\\]|\\.)*)' on machine '((?:[^'\\]|\\.)*)' from ([^ ]+): (.*))");

TEST(ManagementAuditTest, CallerTextCannotCloseItsQuoteAndForgeTheTail) {
  ManagementCall call{30, "P1\\", {"ann' on machine 'x' from 1.2.3.4: ok", "WS1\\' from 5.6.7.8: ok"},
                      "10.0.0.7", false, "<ID>00DB02</ID>"};
  const std::string line = AuditLine(call);
  std::smatch parts;
  ASSERT_TRUE(std::regex_match(line, parts, kLine)) << line;
  EXPECT_EQ(parts[1], "P1\\\\");
  EXPECT_EQ(parts[2], "ann\\' on machine \\'x\\' from 1.2.3.4: ok");
  EXPECT_EQ(parts[3], "WS1\\\\\\' from 5.6.7.8: ok");
  EXPECT_EQ(parts[4], "10.0.0.7");
  EXPECT_EQ(parts[5], "refused 00DB02");

  // The cut counts the caller's characters, so it never leaves half an escape.
  call.caller.userName = std::string(300, '\'');
  std::string escaped;
  for (int i = 0; i < 200; ++i) escaped += "\\'";
  EXPECT_NE(AuditLine(call).find(" by user '" + escaped + "...' on machine"), std::string::npos);
}

}  // namespace
}  // namespace Korvane::Pictora::Rpc
