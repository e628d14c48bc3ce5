#include "platform/sim/codepage.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

using qx::sim::Call;
using qx::sim::CallLedger;
using qx::sim::SimCodePage;

std::string Hex(std::string_view bytes) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0x0F]);
  }
  return hex;
}

struct ToBytesCase {
  const char* name;
  std::u16string_view text;
  std::string_view hex;  // expected code page 949 bytes
};

// Expected bytes come from the code page's own table, cross-checked against a
// second, independent converter.
TEST(SimCodePage, WideCharToMultiByte) {
  const ToBytesCase cases[] = {
      {"ascii is one byte each", u"Az09 ;)", "417A3039203B29"},
      {"nul is a byte too", std::u16string_view(u"a\0b", 3), "610062"},
      {"hangul syllable ga", u"가", "B0A1"},
      {"hangul syllable han", u"한", "C7D1"},
      {"hangul word", u"한글", "C7D1B1DB"},
      {"euro sign is in the table", u"\u20AC", "A2E6"},
      {"registered sign is in the table", u"\u00AE", "A2E7"},
      {"ideographic space", u"\u3000", "A1A1"},
      {"e acute is not best-fitted", u"\u00E9", "3F"},
      {"copyright sign is not best-fitted", u"\u00A9", "3F"},
      {"won sign U+20A9 is not best-fitted", u"\u20A9", "3F"},
      {"lone high surrogate", u"a\xD800z", "613F7A"},
      {"lone low surrogate", u"a\xDC00z", "613F7A"},
      {"high surrogate at the end", u"a\xD83D", "613F"},
      {"two high surrogates", u"\xD83D\xD83D\xDE00", "3F3F"},
      {"a pair outside the table is one question mark", u"\U0001F600", "3F"},
      {"missing characters do not disturb the rest", u"a가é한", "61B0A13FC7D1"},
      {"empty", u"", ""},
  };
  CallLedger ledger;
  SimCodePage codePage(ledger);
  for (const ToBytesCase& c : cases) {
    EXPECT_EQ(Hex(codePage.WideCharToMultiByte(qx::CP_KOREAN, c.text)), c.hex) << c.name;
  }
  EXPECT_EQ(ledger.Count(Call::WideCharToMultiByte), std::size(cases));
}

struct ToWideCase {
  const char* name;
  std::string_view bytes;
  std::u16string_view text;
};

TEST(SimCodePage, MultiByteToWideChar) {
  const ToWideCase cases[] = {
      {"ascii", "Az09 ;)", u"Az09 ;)"},
      {"hangul", "\xC7\xD1\xB1\xDB", u"한글"},
      {"extended hangul with an ascii trail byte", "\x81\x41", u"갂"},
      {"euro sign", "\xA2\xE6", u"\u20AC"},
      {"lead byte at the end", "a\xB0", u"a?"},
      {"bad trail byte keeps the byte after it", "\xB0 x", u"? x"},
      {"bytes that start nothing", "\x80\xFF", u"??"},
      {"unassigned pair", "\xC9\xA1", u"??"},
      {"empty", "", u""},
  };
  CallLedger ledger;
  SimCodePage codePage(ledger);
  for (const ToWideCase& c : cases) {
    EXPECT_EQ(codePage.MultiByteToWideChar(qx::CP_KOREAN, c.bytes), c.text) << c.name;
  }
  EXPECT_EQ(ledger.Count(Call::MultiByteToWideChar), std::size(cases));
}

TEST(SimCodePage, HangulTextRoundTrips) {
  CallLedger ledger;
  SimCodePage codePage(ledger);
  const std::u16string text = u"대한민국 만세! 비밀번호 1234 갂똠";
  EXPECT_EQ(codePage.MultiByteToWideChar(qx::CP_KOREAN, codePage.WideCharToMultiByte(qx::CP_KOREAN, text)), text);
}

// Each call converts with the code page it names, so a program that asks
// for the wrong one gets other bytes, as on a device.
struct NamedPageCase {
  qx::UINT codePage;
  std::u16string_view text;
  std::string_view hex;
  std::string_view bytes;  // converted back
  std::u16string_view wide;
};

TEST(SimCodePage, ConvertsWithTheCodePageItIsGiven) {
  const NamedPageCase cases[] = {
      {949, u"a한é", "61C7D13F", "a\xC7\xD1", u"a한"},
      {0, u"a한é", "61C7D13F", "a\xC7\xD1", u"a한"},  // the device's ANSI code page is 949
      {65001, u"a한é", "61ED959CC3A9", "a\xED\x95\x9C\xFF", u"a한\uFFFD"},
      {65001, u"\xD800x", "EFBFBD78", "", u""},  // a lone surrogate has no UTF-8 form
      {1252, u"a한é", "613FE9", "\xE9", u"é"},
      {437, u"é", "82", "\x82", u"é"},
  };
  for (const NamedPageCase& c : cases) {
    CallLedger ledger;
    SimCodePage codePage(ledger);
    EXPECT_EQ(Hex(codePage.WideCharToMultiByte(c.codePage, c.text)), c.hex) << c.codePage;
    EXPECT_EQ(codePage.MultiByteToWideChar(c.codePage, c.bytes), c.wide) << c.codePage;
  }
}

TEST(SimCodePage, AnUnknownCodePageFailsWithInvalidParameter) {
  CallLedger ledger;
  SimCodePage codePage(ledger);
  std::vector<qx::DWORD> errors;
  codePage.SetErrorSink([&errors](qx::DWORD error) { errors.push_back(error); });
  EXPECT_EQ(codePage.WideCharToMultiByte(12345, u"abc"), "");
  EXPECT_EQ(codePage.MultiByteToWideChar(2, "abc"), u"");
  EXPECT_EQ(errors, (std::vector<qx::DWORD>{qx::ERROR_INVALID_PARAMETER, qx::ERROR_INVALID_PARAMETER}));
  EXPECT_EQ(codePage.WideCharToMultiByte(qx::CP_KOREAN, u"abc"), "abc");
  EXPECT_EQ(errors.size(), 2u);
}

TEST(SimCodePage, FailedCallsAnswerEmpty) {
  CallLedger ledger;
  SimCodePage codePage(ledger);
  ledger.Plan({.call = Call::WideCharToMultiByte});
  ledger.Plan({.call = Call::MultiByteToWideChar});
  EXPECT_EQ(codePage.WideCharToMultiByte(qx::CP_KOREAN, u"한"), "");
  EXPECT_EQ(codePage.MultiByteToWideChar(qx::CP_KOREAN, "\xC7\xD1"), u"");
  // Only the planned call fails; the converters are still usable.
  EXPECT_EQ(Hex(codePage.WideCharToMultiByte(qx::CP_KOREAN, u"한")), "C7D1");
  EXPECT_EQ(codePage.MultiByteToWideChar(qx::CP_KOREAN, "\xC7\xD1"), u"한");
}

}  // namespace
