#include "util/TextUtil.h"

#include <gtest/gtest.h>

#include <climits>

namespace Korvane::Pictora::GeneralUtilityLib {
namespace {

TEST(FormatTest, ResultLongerThanFirstBufferComesBackWhole) {
  const std::string big(5000, 'x');
  const std::string result = Format("<%s|%d>", big.c_str(), 42);
  EXPECT_EQ(result, "<" + big + "|42>");
  EXPECT_EQ(Format("%s", std::string(4095, 'y').c_str()).size(), 4095u);  // exactly fits
}

// Abbreviate's one caller cuts the text quoted by an XML load failure to 100 characters;
// XmlDocumentFailureTest.LoadMessages checks that cut.

TEST(ParseLongTest, ReadsTrimmedDecimalTextTruncatedTowardZero) {
  const struct {
    const char* text;
    std::int32_t expected;
  } cases[] = {
      {"  42 ", 42},   {"42x", -7},         {"4.9", 4},          {"-4.9", -4},
      {"", -7},        {"1e3", 1000},       {"abc", -7},         {"99999999999", INT32_MAX},
      {"-1e300", INT32_MIN}, {"nan", -7},   {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseLong(c.text, -7), c.expected) << c.text;
}

TEST(ParseBoolTest, OnOffAndFirstCharacterDecide) {
  const struct {
    const char* text;
    bool defaultValue;
    bool expected;
  } cases[] = {
      {"yes", false, true}, {"Off", true, false}, {"maybe", true, true}, {"maybe", false, false},
      {" on ", false, true}, {"0", true, false},  {"TRUE", false, true}, {"n", true, false},
      {"", true, true},      {"", false, false},  {"onion", false, false},  // "ON" only as a whole, "O" decides nothing
  };
  for (const auto& c : cases) EXPECT_EQ(ParseBool(c.text, c.defaultValue), c.expected) << c.text;
}

}  // namespace
}  // namespace Korvane::Pictora::GeneralUtilityLib
