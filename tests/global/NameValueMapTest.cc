#include "global/NameValueMap.h"

#include <gtest/gtest.h>

namespace Korvane::Pictora::Global {
namespace {

using Pair = NameValueMap::Pair;

TEST(NameValueMapTest, GetOrAddIgnoresCaseAndKeepsFirstSpelling) {
  NameValueMap map;
  map["Endpoint"] = "3982";
  map["PROTOCOL"] = "tcp";
  map["ENDPOINT"] = "4000";
  EXPECT_EQ(map.Pairs(), (std::vector<Pair>{{"Endpoint", "4000"}, {"PROTOCOL", "tcp"}}));
  EXPECT_EQ(map.Get("missing"), "");
  EXPECT_TRUE(map.Erase("endPOINT"));
  EXPECT_FALSE(map.Contains("Endpoint"));
  EXPECT_EQ(map.Size(), 1u);
}

TEST(NameValueMapTest, ToXmlStringEscapesTextAndKeepsMarkup) {
  NameValueMap map;
  map["Name"] = "a < b && c > d";
  map["Properties"] = "<Application>A</Application><Timeout>5</Timeout>";
  map["Empty"] = "";
  map["Broken"] = "<open>x";
  map["Bare"] = "<a>x</a> & y";  // the parser would let the bare "&" through
  EXPECT_EQ(map.ToXmlString("Service"),
            "<Service><Name>a &lt; b &amp;&amp; c &gt; d</Name>"
            "<Properties><Application>A</Application><Timeout>5</Timeout></Properties>"
            "<Empty></Empty><Broken>&lt;open&gt;x</Broken>"
            "<Bare>&lt;a&gt;x&lt;/a&gt; &amp; y</Bare></Service>");
}

TEST(NameValueMapTest, ValuesSurviveRoundTrip) {
  const std::string values[] = {
      "plain", "", "a < b & c > d", "&amp; already escaped", "  blanks kept  ",
      "<Application>A</Application>", "<A>x &amp; y</A><Host>h</Host>", "<N><D>x</D></N>",
      "<open>x", "text <b>bold</b> tail", "<a>x</a> & y", "<Empty></Empty>",
      "<A>1</A><!--note-->", "caf\xe9 8-bit", "<A>\xe9</A>",
      // fragments that parse alone but not inside an element
      "<?xml version=\"1.0\"?><A>1</A>", "<!DOCTYPE A><A>1</A>", "<A>1</A>x<",
  };
  for (const std::string& value : values) {
    NameValueMap map;
    map["Key"] = value;
    map["Other"] = "o";
    NameValueMap loaded;
    ASSERT_NE(loaded.LoadXml(map.ToXmlString("Service"), "//Service"), 0) << value;
    EXPECT_EQ(loaded.Pairs(), map.Pairs()) << value;
  }
}

TEST(NameValueMapTest, LoadXmlTakesChildrenOfFirstSelectedElementOrKeepsThePairs) {
  NameValueMap map;
  ASSERT_NE(map.LoadXml("<?xml version=\"1.0\"?>\n<Pictora>\n  <SessionInfo>\n"
                        "    <Application>Manager</Application>\n    <MachineName/>\n"
                        "    <Props>\n      <A x=\"1\">one</A>&#32;<B>&#9;</B><C>x&#13;&#10;y&#13;</C>\n    </Props>\n"
                        "    <application>Second</application>\n  </SessionInfo>\n"
                        "  <SessionInfo><UserName>ignored</UserName></SessionInfo>\n</Pictora>",
                        "//SessionInfo"),
            0);
  const std::vector<Pair> loaded{{"Application", "Second"}, {"MachineName", ""}, {"Props", "<A x=\"1\">one</A><B></B><C>x\ny\n</C>"}};
  // Markup reads as the next read of it written would: no blank text, line feeds for line ends.
  EXPECT_EQ(map.Pairs(), loaded);
  // A failed load keeps the pairs.
  EXPECT_EQ(map.LoadXml("<Config><A>1</A>", "//Config"), 0);
  EXPECT_EQ(map.LoadXml("<Config><A>1</A></Config>", "//Service"), 0);
  EXPECT_EQ(map.Pairs(), loaded);
}

}  // namespace
}  // namespace Korvane::Pictora::Global
