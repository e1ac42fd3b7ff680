#include "rpc/ReplyText.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace Korvane::Pictora::Rpc {
namespace {

// A text whose every position is recognisable, so a wrong offset shows.
std::string Numbered(size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) text.push_back(static_cast<char>('a' + i % 26));
  return text;
}

// The error texts are cut to 4000 and 3999 characters; the head gets the odd character.
TEST(CutMiddleTest, KeepsHeadAndTailAroundTheEllipsis) {
  struct Case {
    size_t length;
    size_t maximum;
    size_t head;
    size_t tail;
  };
  const Case cases[] = {{5000, 4000, 1999, 1998}, {5000, 3999, 1998, 1998}, {4001, 4000, 1999, 1998}};
  for (const Case& c : cases) {
    const std::string text = Numbered(c.length);
    const std::string cut = CutMiddle(text, c.maximum);
    SCOPED_TRACE(testing::Message() << c.length << " cut to " << c.maximum);
    ASSERT_EQ(cut.size(), c.maximum);
    EXPECT_EQ(cut.substr(0, c.head), text.substr(0, c.head));
    EXPECT_EQ(cut.substr(c.head, 3), "...");
    EXPECT_EQ(cut.substr(c.head + 3), text.substr(c.length - c.tail));
  }
  EXPECT_EQ(CutMiddle(Numbered(4000), 4000), Numbered(4000));  // exactly at the maximum: unchanged
}

TEST(CopyToBufferTest, SizeNegotiation) {
  struct Case {
    std::string text;
    int32_t size;
    int32_t result;
    bool copied;
  };
  const Case cases[] = {
      {"hello", 0, 6, false},  {"hello", 5, 6, false}, {"hello", 6, 0, true},
      {"hello", 100, 0, true}, {"", 0, 1, false},      {"", 1, 0, true},
      {"hello", -1, 6, false},  // a negative size is too small, never a huge unsigned one
  };
  for (const Case& c : cases) {
    std::string buffer = "untouched";
    SCOPED_TRACE(testing::Message() << "'" << c.text << "' into " << c.size);
    EXPECT_EQ(CopyToBuffer(c.text, c.size, buffer), c.result);
    EXPECT_EQ(buffer, c.copied ? c.text + std::string(1, '\0') : "untouched");
  }
}

TEST(TextFromDataTest, StopsAtTheFirstNulOrTakesEverything) {
  EXPECT_EQ(TextFromData(std::string("abc\0def", 7)), "abc");
  EXPECT_EQ(TextFromData("abc"), "abc");
  EXPECT_EQ(TextFromData(std::string("\0", 1)), "");
  EXPECT_EQ(TextFromData(""), "");
}

}  // namespace
}  // namespace Korvane::Pictora::Rpc
