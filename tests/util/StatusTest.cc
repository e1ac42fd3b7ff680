#include "util/Status.h"

#include <gtest/gtest.h>

#include "util/TextUtil.h"

namespace Korvane::Pictora::GeneralUtilityLib {
namespace {

std::string StatusWithId(const std::string& idText) {
  return "<Status><Item><ID>" + idText + "</ID><Message>m</Message></Item></Status>";
}

TEST(StatusXmlTest, RoundTripKeepsEveryField) {
  const StatusItem items[] = {
      {56329, "a < b && c > d", "Korvane.Pictora.ServerCore.ServerImpl.Manage", "x=\"1\" y='2'"},
      {kUnknownStatusId, "caf\xE9 \xFF\x80 8-bit", "Server", ""},
      {0, "  spaced  ", "", "line1\nline2"},
      {0x12345678, "<Status><Item>nested</Item></Status>", "S", "]]>"},
  };
  Status status;
  for (const StatusItem& item : items) status.AddItem(item);
  const std::string xml = status.ToXml();

  EXPECT_EQ(xml.find("a < b"), std::string::npos) << xml;  // escaped on the way out
  Status back;
  ASSERT_TRUE(back.AddXml(xml)) << xml;
  ASSERT_EQ(back.Count(), std::size(items));
  for (std::size_t i = 0; i < back.Count(); ++i) {
    EXPECT_EQ(back.GetItem(i).id, items[i].id) << i;
    EXPECT_EQ(back.GetItem(i).message, items[i].message) << i;
    EXPECT_EQ(back.GetItem(i).details, items[i].details) << i;
  }
  EXPECT_EQ(back.GetItem(0).source, "ServerCore.ServerImpl.Manage");
}

TEST(StatusXmlTest, ItemMarkupIsUnindented) {
  Status status;
  status.Add(30977, "M", "Korvane::Pictora::ServerCore::ServerImpl::Init");
  // A "::" source keeps its namespace words: only the dotted prefix is removed.
  EXPECT_EQ(status.ToXml(),
            "<Status><Item><ID>007901</ID><Source>Korvane.Pictora.ServerCore.ServerImpl.Init</Source>"
            "<Message>M</Message><Details></Details></Item>\n</Status>");
  EXPECT_EQ(Status().ToXml(), "");
}

TEST(StatusXmlTest, TimeElementIsWrittenAndToleratedOnReading) {
  Status status;
  status.Add(1, "m", "s");
  const std::string xml = status.ToXml(true);
  EXPECT_NE(xml.find("<Item><Time>"), std::string::npos) << xml;
  Status back;
  ASSERT_TRUE(back.AddXml(xml));
  ASSERT_EQ(back.Count(), 1u);
  EXPECT_EQ(back.GetItem(0).id, 1u);
}

TEST(StatusXmlTest, IdTextIsReadAsHexadecimal) {
  const struct {
    const char* text;
    std::uint32_t expected;
  } cases[] = {
      {"Unknown ID", kUnknownStatusId}, {"unknown id", kUnknownStatusId},
      {"7901", 30977},                  {"00DC09", 56329},
      {"zz", 0},                        {"1Fzz", 31},
      {"FFFFFFFF", 0},                  {"123456789", 0},  // overflow
      {"", 0},                          {"0x10", 16},
  };
  for (const auto& c : cases) {
    Status status;
    ASSERT_TRUE(status.AddXml(StatusWithId(c.text))) << c.text;
    ASSERT_EQ(status.Count(), 1u);
    EXPECT_EQ(status.GetItem(0).id, c.expected) << c.text;
  }
}

TEST(StatusXmlTest, AddXmlRefusesWhatDoesNotParse) {
  Status status;
  status.Add(1, "kept");
  EXPECT_FALSE(status.AddXml(""));
  EXPECT_FALSE(status.AddXml("<Status><Item>"));
  EXPECT_TRUE(status.AddXml("<Other/>"));  // no Status element: nothing to add
  EXPECT_EQ(status.Count(), 1u);

  ASSERT_TRUE(status.AddXml("<Status><Item><Message>m</Message></Item><Item/></Status>"));
  ASSERT_EQ(status.Count(), 3u);
  EXPECT_EQ(status.GetItem(1).message, "m");
  EXPECT_EQ(status.GetItem(2).message, "");
}

TEST(StatusTextTest, LineShapes) {
  const struct {
    StatusItem item;
    const char* context;
    const char* expected;
  } cases[] = {
      {{56329, "M", "Korvane.Pictora.ServerCore.ServerImpl.Manage", ""}, nullptr,
       "[ServerCore.ServerImpl.Manage : 00DC09] Error: M"},
      {{0, "hello", "Korvane.Pictora.Server", ""}, nullptr, "[Server] hello"},
      {{kUnknownStatusId, "M", "S", ""}, nullptr, "[S : Unknown ID] Error: M"},
      {{0x1234567, "M", "S", "D"}, "ctx", "[ctx]: [S : 1234567] Error: M\nD"},
      {{5, "alone", "", ""}, nullptr, "alone"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.item.ToString(c.context), c.expected);
}

TEST(StatusTest, SourceRules) {
  Status status;
  status.Reset("X");
  status.Add(1, "a");
  status.AddItem(StatusItem{2, "b", "", ""});
  status.AddFront(3, "c", "Y");
  ASSERT_EQ(status.Count(), 3u);
  EXPECT_EQ(status.GetItem(0).source, "Y");
  EXPECT_EQ(status.GetItem(1).source, "X");
  EXPECT_EQ(status.GetItem(2).source, "");
  EXPECT_EQ(status.ToString(), "[Y : 000003] Error: c\n[X : 000001] Error: a\nb");

  status.AddAll(status);
  EXPECT_EQ(status.Count(), 6u);
  status.Set(4, "d", "Z");
  ASSERT_EQ(status.Count(), 1u);
  EXPECT_EQ(status.DefaultSource(), "Z");
}

}  // namespace
}  // namespace Korvane::Pictora::GeneralUtilityLib
