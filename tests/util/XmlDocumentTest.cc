#include "util/XmlDocument.h"

#include <gtest/gtest.h>

#include "tests/support/TempFolder.h"

namespace Korvane::Pictora::GeneralUtilityLib {
namespace {

constexpr const char* kServices =
    "<?xml version=\"1.0\" standalone=\"yes\"?>\n"
    "<ImageServices>\n"
    "  <Service Name=\"a\" On=\"1\"><Path>p1</Path></Service>\n"
    "  <Service Name=\"b\">text b</Service>\n"
    "  <!-- note -->\n"
    "  <Other Tag=\"[0]\"/>\n"
    "</ImageServices>\n";

std::string LoadMessage(const std::string& shown, const char* code, int line, int column,
                        const char* reason) {
  return "Could not load XML: '" + shown +
         "'.  Please ensure that the XML is accessible and valid.  Code: '" + code +
         "h';  Line: '" + std::to_string(line) + "';  Column: '" + std::to_string(column) +
         "';  Reason: '" + reason + "'";
}

class XmlDocumentTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(document_.LoadXml(kServices)); }
  XmlDocument document_;
};

TEST_F(XmlDocumentTest, PositionsCountFromZero) {
  const struct {
    const char* xpath;
    std::size_t index;
    const char* expectedName;
    const char* expectedText;
  } cases[] = {
      {"//ImageServices/*[0]", 0, "Service", "p1"},
      {"//ImageServices/*[1]", 0, "Service", "text b"},
      {"//ImageServices/*[ 2 ]", 0, "Other", ""},
      {"//ImageServices/Service", 1, "Service", "text b"},
      {"//Service[@Name='b']", 0, "Service", "text b"},
      {"//Service[@On=1]", 0, "Service", "p1"},       // not a positional predicate
      {"//*[@Tag='[0]']", 0, "Other", ""},  // a literal is not a predicate
      {"//Service[@Name!=\"[0]\"][1]", 0, "Service", "text b"},
      {"//ImageServices/node()[2]", 0, "#comment", " note "},
      {"//Service/@Name", 1, "Name", "b"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(document_.SelectNode(c.xpath, c.index)) << c.xpath;
    EXPECT_EQ(document_.GetNodeName(), c.expectedName) << c.xpath;
    EXPECT_EQ(document_.GetNodeText(""), c.expectedText) << c.xpath;
  }
  EXPECT_EQ(document_.CountNodes("//ImageServices/*"), 3);
  EXPECT_EQ(document_.CountChildren("//ImageServices"), 4);  // the comment counts, blanks do not
  EXPECT_EQ(document_.CountChildren("//Service[1]"), 1);     // text only
  EXPECT_EQ(document_.CountChildren("//Missing"), -1);
}

TEST_F(XmlDocumentTest, TextContentAndMarkup) {
  EXPECT_EQ(document_.GetText("//Missing", "dflt"), "");
  EXPECT_EQ(document_.GetText("//Other", "dflt"), "dflt");
  EXPECT_EQ(document_.GetText("//Service[0]", "dflt"), "p1");

  ASSERT_TRUE(document_.SelectNode("//Service[0]", 0));
  EXPECT_EQ(document_.GetNodeContent("d"), "<Service Name=\"a\" On=\"1\"><Path>p1</Path></Service>");
  ASSERT_TRUE(document_.SelectNode("//Service[1]", 0));
  EXPECT_EQ(document_.GetNodeContent("d"), "text b");
  ASSERT_TRUE(document_.SelectNode("//Other", 0));
  EXPECT_EQ(document_.GetNodeContent("d"), "d");
  EXPECT_EQ(document_.GetNodeXml(), "<Other Tag=\"[0]\"></Other>");
}

TEST(XmlDocumentFailureTest, LoadMessages) {
  const std::string longText = "<Root>" + std::string(200, 'x');
  const struct {
    std::string input;
    std::string expected;
  } cases[] = {
      // A text is never taken for a file name.
      {"/no/such/folder/file.xml",
       LoadMessage("/no/such/folder/file.xml", "C00CE510", 1, 25, "No document element found")},
      {"<a>\n  <b></a>", LoadMessage("<a>\n  <b></a>", "C00CE50E", 2, 8, "Start-end tags mismatch")},
      {"<a/><b/>", LoadMessage("<a/><b/>", "C00CE520", 1, 5, "Only one top level element is allowed")},
      {longText, LoadMessage(longText.substr(0, 49) + "..." + longText.substr(206 - 48), "C00CE50E",
                             1, 206, "Start-end tags mismatch")},
  };
  for (const auto& c : cases) {
    XmlDocument document;
    EXPECT_FALSE(document.LoadXml(c.input));
    ASSERT_EQ(document.GetStatus().Count(), 1u);
    EXPECT_EQ(document.GetStatus().GetItem(0).id, kXmlLoadFailed);
    EXPECT_EQ(document.GetStatus().GetItem(0).message, c.expected);
  }
}

TEST(XmlDocumentFailureTest, BadXPathIsRecordedNotThrown) {
  XmlDocument document;
  ASSERT_TRUE(document.LoadXml("<a><b/></a>"));
  EXPECT_FALSE(document.SelectNode("//a[", 0));
  EXPECT_EQ(document.GetStatus().GetItem(0).message, "Could not select XML node; XPath: '//a['");
  EXPECT_EQ(document.CountNodes("//a["), -1);
  EXPECT_EQ(document.GetStatus().GetItem(0).id, kXmlCountFailed);
  EXPECT_EQ(document.CountChildren("1+"), -1);
  EXPECT_EQ(document.GetStatus().GetItem(0).id, kXmlChildrenFailed);
  EXPECT_EQ(document.GetNodeText("d"), "d");  // no current node
  EXPECT_EQ(document.GetStatus().GetItem(0).id, kXmlUndefinedError);
  EXPECT_FALSE(document.LoadXml(""));
  EXPECT_EQ(document.GetStatus().GetItem(0).id, kXmlUndefinedError);  // untouched
}

// A peer's document nested without end would make walks over it quadratic (the text of every
// element holds all below it): past 256 levels it is refused, without recursion at any depth.
TEST(XmlDocumentFailureTest, NestingIsBounded) {
  const auto nested = [](int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i) xml += "<e>";
    xml += "deep";
    for (int i = 0; i < depth; ++i) xml += "</e>";
    return xml;
  };
  XmlDocument document;
  ASSERT_TRUE(document.LoadXml(nested(255)));  // 256 levels with the text
  EXPECT_EQ(document.CountNodes("//e"), 255);
  const std::string deep = nested(200000);
  EXPECT_FALSE(document.LoadXml(deep));
  EXPECT_EQ(document.GetStatus().GetItem(0).message,
            LoadMessage(deep.substr(0, 49) + "..." + deep.substr(deep.size() - 48), "C00CE521", 1, 1,
                        "Elements are nested more than 256 levels deep"));
}

TEST(XmlDocumentFileTest, SaveWritesRawMarkupAndLoadsBack) {
  TestSupport::TempFolder folder;
  const std::string path = folder / "services.xml";
  XmlDocument document;
  ASSERT_TRUE(document.LoadXml(kServices));
  ASSERT_TRUE(document.Save(path));
  EXPECT_EQ(TestSupport::ReadWholeFile(path),
            "<?xml version=\"1.0\" standalone=\"yes\"?>\n<ImageServices><Service Name=\"a\" "
            "On=\"1\"><Path>p1</Path></Service><Service Name=\"b\">text b</Service><!-- note -->"
            "<Other Tag=\"[0]\"></Other></ImageServices>");
  ASSERT_TRUE(document.LoadFile(path));  // what was saved loads again

  EXPECT_THROW(document.Save(folder / "missing/x.xml"), XmlSaveError);

  // A name that is no regular file is not read (a device could feed it forever).
  for (const char* missing : {"/dev/zero", "/no/such/file.xml"}) {
    EXPECT_FALSE(document.LoadFile(missing));
    EXPECT_EQ(document.GetStatus().GetItem(0).message,
              LoadMessage(missing, "C00CE501", 1, 1, "File was not found"));
  }
}

TEST(ElementListTest, GetOrAddKeepsTheFirstSpelling) {
  ElementList list;
  list["Port"] = "  3982 ";
  EXPECT_EQ(list["PORT"], "3982");  // trimmed in place
  list["port"] = "1";
  list["Home"] = "";
  EXPECT_EQ(list.Pairs(), (std::vector<ElementList::Pair>{{"Port", "1"}, {"Home", ""}}));
  EXPECT_EQ(list.GetString("home", " dflt "), "dflt");
  EXPECT_TRUE(list.GetBool("PORT", false));
}

TEST(ElementListTest, MergeAndXml) {
  ElementList list;
  list["x_a"] = "old";
  list["B"] = "a&b";
  ElementList source;
  source["A"] = "1";
  source["B"] = "";
  list.Merge(source, true, "X_");
  EXPECT_EQ(list.ToXml("Config"), "<Config><x_a>1</x_a>\n<B>a&amp;b</B>\n</Config>");
}

TEST(ElementListTest, NodesToListLaterNodeOverwrites) {
  XmlDocument document;
  ASSERT_TRUE(document.LoadXml("<Config><Port>1</Port><Home>h</Home><PORT>2</PORT></Config>"));
  EXPECT_EQ(NodesToList(document, "//Config/*").Pairs(),
            (std::vector<ElementList::Pair>{{"Port", "2"}, {"Home", "h"}}));
  EXPECT_TRUE(NodesToList(document, "//Nothing").Empty());
}

}  // namespace
}  // namespace Korvane::Pictora::GeneralUtilityLib
