#include "platform/sim/text.h"

#include <gtest/gtest.h>

namespace qx::sim {
namespace {

TEST(SimText, WellFormedTextRoundTrips) {
  const std::u16string samples[] = {u"", u"SOCKS-1 proxy", u"한글 접속", u"tab\there", u"\U0001F600 and \u00e9"};
  for (const std::u16string& sample : samples) EXPECT_EQ(Utf16(Utf8(sample)), sample);
  EXPECT_EQ(Utf8(u"한"), "\xED\x95\x9C");
  EXPECT_EQ(Utf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

TEST(SimText, IllFormedUtf8BecomesOneReplacementPerBrokenSequence) {
  struct Case {
    const char* name;
    std::string bytes;
    std::u16string expected;
  };
  const Case cases[] = {
      {"stray continuation", "a\x80z", u"a\uFFFDz"},
      {"truncated at end", "a\xED\x95", u"a\uFFFD"},
      {"truncated before ASCII", "\xED\x95z", u"\uFFFDz"},
      {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"overlong three-byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"past U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"invalid lead", "\xFF", u"\uFFFD"},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf16(c.bytes), c.expected) << c.name;
}

TEST(SimText, UnpairedSurrogatesBecomeReplacement) {
  EXPECT_EQ(Utf8(std::u16string{u'a', char16_t(0xD800)}), "a\xEF\xBF\xBD");
  EXPECT_EQ(Utf8(std::u16string{char16_t(0xDC00), u'b'}), "\xEF\xBF\xBD" "b");
  EXPECT_EQ(Utf8(std::u16string{char16_t(0xD800), char16_t(0xD800), char16_t(0xDC00)}), "\xEF\xBF\xBD\xF0\x90\x80\x80");
}

}  // namespace
}  // namespace qx::sim
