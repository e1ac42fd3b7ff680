#include "global/NameValueMap.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/global/TempFolder.h"

namespace Korvane::Pictora::Global {
namespace {

TEST(NameValueMapTest, GetOrAddIgnoresCaseAndKeepsFirstSpelling) {
  NameValueMap map;
  map["Endpoint"] = "3982";
  map["PROTOCOL"] = "ncacn_ip_tcp";
  EXPECT_EQ(map["endpoint"], "3982");
  map["ENDPOINT"] = "4000";
  ASSERT_EQ(map.Size(), 2u);
  EXPECT_EQ(map.Pairs()[0], NameValueMap::Pair("Endpoint", "4000"));
  EXPECT_EQ(map.Pairs()[1].first, "PROTOCOL");
  EXPECT_EQ(map.Get("protocol"), "ncacn_ip_tcp");
  EXPECT_EQ(map.Get("missing"), "");
  EXPECT_FALSE(map.Contains("missing"));
  EXPECT_EQ(map.Size(), 2u);
  EXPECT_TRUE(map.Erase("endPOINT"));
  EXPECT_FALSE(map.Erase("Endpoint"));
  EXPECT_EQ(map.Size(), 1u);
}

TEST(NameValueMapTest, ToXmlStringEscapesTextAndKeepsMarkup) {
  NameValueMap map;
  map["Name"] = "a < b && c > d";
  map["Properties"] = "<Application>A</Application><Timeout>5</Timeout>";
  map["Empty"] = "";
  map["Broken"] = "<open>never closed";
  map["BareAmpersand"] = "<a>x</a> & y";
  EXPECT_EQ(map.ToXmlString("Service"),
            "<Service>"
            "<Name>a &lt; b &amp;&amp; c &gt; d</Name>"
            "<Properties><Application>A</Application><Timeout>5</Timeout></Properties>"
            "<Empty></Empty>"
            "<Broken>&lt;open&gt;never closed</Broken>"
            "<BareAmpersand>&lt;a&gt;x&lt;/a&gt; &amp; y</BareAmpersand>"
            "</Service>");
}

TEST(NameValueMapTest, ValuesSurviveRoundTrip) {
  const std::string values[] = {
      "plain",
      "",
      "a < b & c > d",
      "&amp; already escaped",
      "  blanks kept  ",
      "<Application>A</Application>",
      "<Application>A &amp; B</Application><Host>h</Host>",
      "<Nested><Deeper>x</Deeper></Nested>",
      "<open>never closed",
      "text <b>bold</b> tail",
      "<a>x</a> & y",
      "<Empty></Empty>",
      "<A>1</A><!--note-->",
      "caf\xe9 8-bit",
      "<A>\xe9</A>",
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

TEST(NameValueMapTest, LoadXmlTakesChildrenOfFirstSelectedElement) {
  NameValueMap map;
  ASSERT_NE(map.LoadXml("<?xml version=\"1.0\"?>\n"
                        "<Pictora>\n"
                        "  <SessionInfo>\n"
                        "    <Application>Manager</Application>\n"
                        "    <MachineName/>\n"
                        "    <Props>\n      <A x=\"1\">one</A>\n    </Props>\n"
                        "    <application>Second</application>\n"
                        "  </SessionInfo>\n"
                        "  <SessionInfo><UserName>ignored</UserName></SessionInfo>\n"
                        "</Pictora>",
                        "//SessionInfo"),
            0);
  ASSERT_EQ(map.Size(), 3u);
  EXPECT_EQ(map.Pairs()[0], NameValueMap::Pair("Application", "Second"));
  EXPECT_EQ(map.Pairs()[1], NameValueMap::Pair("MachineName", ""));
  EXPECT_EQ(map.Pairs()[2], NameValueMap::Pair("Props", "<A x=\"1\">one</A>"));
}

TEST(NameValueMapTest, LoadXmlReadsAFilePath) {
  Testing::TempFolder temp;
  const std::string path =
      temp.WriteFile("Service.xml", "<Services><Service><Name>S &amp; T</Name></Service></Services>");
  NameValueMap map;
  ASSERT_NE(map.LoadXml(path, "//Service"), 0);
  EXPECT_EQ(map.Get("name"), "S & T");
}

TEST(NameValueMapTest, FailedLoadKeepsPairs) {
  NameValueMap map;
  map["Kept"] = "yes";
  EXPECT_EQ(map.LoadXml("<Config><A>1</A>", "//Config"), 0);
  EXPECT_EQ(map.LoadXml("<Config><A>1</A></Config>", "//Service"), 0);
  EXPECT_EQ(map.LoadXml("", "//Config"), 0);
  EXPECT_EQ(map.LoadXml("/no/such/file.xml", "//Config"), 0);
  ASSERT_EQ(map.Size(), 1u);
  EXPECT_EQ(map.Get("Kept"), "yes");
}

TEST(NameValueMapTest, ComparerOrdersIgnoringCase) {
  const CaseInsensitiveStringComparer less;
  EXPECT_FALSE(less("ABC", "abc"));
  EXPECT_FALSE(less("abc", "ABC"));
  EXPECT_TRUE(less("abc", "ABD"));
  EXPECT_TRUE(less("AB", "abc"));
  EXPECT_TRUE(less("a", "B"));  // a byte comparison would say otherwise
  EXPECT_TRUE(less("_", "A"));  // letters compare as lower case

  std::map<std::string, std::string, CaseInsensitiveStringComparer> map;
  map["Service"] = "1";
  map["SERVICE"] = "2";
  EXPECT_EQ(map.size(), 1u);
  EXPECT_EQ(map.erase("service"), 1u);
}

}  // namespace
}  // namespace Korvane::Pictora::Global
