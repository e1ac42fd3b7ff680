#include "util/Status.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::GeneralUtilityLib {
namespace {

std::string StatusWithId(const std::string& idText) {
  return "<Status><Item><ID>" + idText + "</ID><Message>m</Message></Item></Status>";
}

// Every item's fields in order, so that whole records compare in one expectation.
std::vector<std::tuple<std::uint32_t, std::string, std::string, std::string>> Fields(const Status& status) {
  std::vector<std::tuple<std::uint32_t, std::string, std::string, std::string>> fields;
  for (const StatusItem& item : status.Items()) fields.emplace_back(item.id, item.message, item.source, item.details);
  return fields;
}

// Escaping is proven against the XML layer below (tricky values written and read both ways).
TEST(StatusXmlTest, RoundTripKeepsEveryField) {
  Status status;
  status.AddItem({56329, "a < b", "Korvane.Pictora.ServerCore.ServerImpl.Manage", "x=\"1\""});
  status.AddItem({kUnknownStatusId, "m", "Server", ""});
  Status back;
  ASSERT_TRUE(back.AddXml(status.ToXml()));
  auto expected = Fields(status);
  std::get<2>(expected[0]) = "ServerCore.ServerImpl.Manage";  // written without the own prefix
  EXPECT_EQ(Fields(back), expected);
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

// Values that exercise every escaping rule of the XML layer's element text.
const std::string kTrickyValues[] = {
    "",
    "plain",
    "a < b && c > d; x=\"1\" y='2'",
    "&amp; &lt; already escaped",
    "ctl \x01\x08\x0B\x0C\x1F end",
    "tab\tline\ncarriage\rreturn\r\n",
    "   ",
    " \n\t ",
    "caf\xE9 \xFF\x80 8-bit",
    "]]> <![CDATA[x]]> <!-- c -->",
    std::string("cut\0after", 9),
    std::string(4000, ' ') + "x",
};

// The item element as the XML layer writes it, given the ID and source texts the writer uses:
// the reference for the direct writer's escaping. The time is left empty.
std::string ItemThroughDocument(const std::string& id, const std::string& source, const StatusItem& item,
                                bool withTime) {
  XmlDocument document;
  const std::string time = withTime ? "<Time></Time>" : "";
  if (!document.LoadXml("<Item>" + time + "<ID></ID><Source></Source><Message></Message><Details></Details></Item>"))
    return {};
  for (const auto& [path, text] : {std::pair<std::string, std::string>{"/Item/ID", id},
                                   {"/Item/Source", source},
                                   {"/Item/Message", item.message},
                                   {"/Item/Details", item.details}}) {
    if (!document.SelectNode(path, 0) || !document.SetNodeText(text)) return {};
  }
  return document.SelectNode("/", 0) ? document.GetNodeXml() : std::string();
}

TEST(StatusXmlTest, DirectMarkupMatchesTheDocumentLayer) {
  const auto withoutTime = [](std::string xml) {
    const std::size_t start = xml.find("<Time>");
    const std::size_t end = xml.find("</Time>");
    return start == std::string::npos || end == std::string::npos ? xml : xml.erase(start + 6, end - start - 6);
  };
  for (const std::string& value : kTrickyValues) {
    const StatusItem first{0x7901, value, "Korvane::Pictora::S::T", value};
    const StatusItem second{kUnknownStatusId, "m", value, ""};
    for (bool withTime : {false, true}) {
      EXPECT_EQ(withoutTime(first.ToXml(withTime)),
                ItemThroughDocument("007901", "Korvane.Pictora.S.T", first, withTime)) << value;
      EXPECT_EQ(withoutTime(second.ToXml(withTime)), ItemThroughDocument("Unknown ID", value, second, withTime))
          << value;
    }
  }
}

TEST(StatusXmlTest, OwnRecordsReadAsTheParserReadsThem) {
  std::vector<std::string> records;
  for (const std::string& value : kTrickyValues) {
    Status status;
    status.Add(0x12, value, value, value);
    status.Add(0, "second", "S", "");
    records.push_back(status.ToXml());
    records.push_back(status.ToXml(true));  // a <Time> element is tolerated on reading
  }
  // Hand-written records: entities, references and shapes the writer does not produce.
  records.insert(records.end(), {
      "<Status><Item><ID>12</ID><Source>&quot;s&apos;</Source><Message>&gt;&#65;&#x42;</Message>"
      "<Details>\r\n</Details></Item>\n</Status>",
      "<Status><Item><ID>Unknown ID</ID><Source></Source><Message>a&bogus;b</Message><Details></Details>"
      "</Item>\n</Status>",
      "<Status><Item><ID>1</ID><Source>s</Source><Message>&lt;&amp;&gt;&quot;&apos;</Message><Details>"
      "</Details></Item>\n</Status>",
      "<Status><Item><ID>1</ID><Message>m</Message><Source>s</Source><Details></Details></Item>\n</Status>",
      "<Status><Item><ID>1</ID><Source>s</Source><Message>m</Message><Details></Details></Item></Status>",
      "<Status>\n</Status>",
  });
  for (const std::string& xml : records) {
    Status direct;
    Status parsed;  // leading white space keeps the record from the direct reading
    const bool directOk = direct.AddXml(xml);
    EXPECT_EQ(directOk, parsed.AddXml(" " + xml)) << xml;
    EXPECT_EQ(Fields(direct), Fields(parsed)) << xml;
  }
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
  EXPECT_EQ(status.ToString(), "[Y : 000003] Error: c\n[X : 000001] Error: a\nb");  // sources Y, X and none

  status.AddAll(status);
  EXPECT_EQ(status.Count(), 6u);
  status.Set(4, "d", "Z");
  ASSERT_EQ(status.Count(), 1u);
  EXPECT_EQ(status.DefaultSource(), "Z");
}

}  // namespace
}  // namespace Korvane::Pictora::GeneralUtilityLib
