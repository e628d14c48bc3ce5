// The agent's line protocol (tools/qxagent/wire.h), which both the agent
// and its Linux-side client compile: written-down lines, not round trips
// alone, so a rule changed on both sides at once still fails.
#include <gtest/gtest.h>

#include "tools/qxagent/wire.h"

namespace qx::wire {
namespace {

TEST(AgentWire, FieldsJoinedAndSplitAsWritten) {
  struct Case {
    std::vector<std::string> fields;
    std::string line;
  };
  const Case cases[] = {
      {{"hello"}, "hello"},
      {{"start", "C:\\Program Files\\Quorvix\\Quorvix.exe", "", ""}, "start\tC:\\\\Program Files\\\\Quorvix\\\\Quorvix.exe\t\t"},
      {{"reg-set", "a\tb", "line\r\nend"}, "reg-set\ta\\tb\tline\\r\\nend"},
      {{"", ""}, "\t"},
      {{"\\t"}, "\\\\t"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Join(c.fields), c.line);
    EXPECT_EQ(Split(c.line), c.fields) << c.line;
  }
}

TEST(AgentWire, LinesThatAreNoFields) {
  // A CR is the line end's noise (a data CR is escaped); a backslash must
  // start one of the four escapes.
  EXPECT_EQ(Split("ok\r"), (std::vector<std::string>{"ok"}));
  EXPECT_EQ(Split("a\rb"), (std::vector<std::string>{"ab"}));
  for (const char* bad : {"a\\", "\\x", "tab\\T", "\\0"}) EXPECT_FALSE(Split(bad)) << bad;
}

TEST(AgentWire, TextAsUtf8WithLoneSurrogatesKept) {
  struct Case {
    std::u16string text;
    std::string bytes;
  };
  const Case cases[] = {
      {u"A\u00e9\u20ac", "A\xc3\xa9\xe2\x82\xac"},
      {u"\u654e\uc815", "\xe6\x95\x8e\xec\xa0\x95"},
      {u"\U0001F600", "\xf0\x9f\x98\x80"},
      {std::u16string(1, u'\xd800'), "\xed\xa0\x80"},              // a high half alone
      {std::u16string(1, u'\xdc00') + u"x", "\xed\xb0\x80x"},      // a low half alone
      {std::u16string(1, u'\0'), std::string(1, '\0')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8(c.text), c.bytes);
    EXPECT_EQ(Utf16(c.bytes), c.text);
  }
  for (const char* bad : {"\x80", "\xc3", "\xc0\xaf", "\xe0\x80\xaf", "\xf4\x90\x80\x80", "\xff",
                          "\xed\xa0\x80\xed\xb0\x80" /* a pair has one form: four bytes */}) {
    EXPECT_FALSE(Utf16(bad)) << bad;
  }
}

TEST(AgentWire, BytesAsHex) {
  EXPECT_EQ(Hex(std::string("\x00\xff\x10 ", 4)), "00ff1020");
  EXPECT_EQ(Unhex("00FFa0"), std::string("\x00\xff\xa0", 3));
  EXPECT_EQ(Unhex(""), std::string());
  for (const char* bad : {"0", "0g", "zz", "0 "}) EXPECT_FALSE(Unhex(bad)) << bad;
}

}  // namespace
}  // namespace qx::wire
