#include "client/password.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/sim/codepage.h"
#include "platform/sim/ledger.h"

namespace {

TEST(ScramblePassword, KnownValues) {
  const struct {
    std::u16string_view plain;
    std::u16string_view scrambled;
  } cases[] = {
      {u"", u""},
      {u"abc", u"aca"},
      // Worked out independently: the mask starts again from zero after the
      // tenth and the twentieth unit, and nowhere else.
      {u"abcdefghijklmnopqrstuvwxy", u"acagacaoackmomkuwu{}uwu{}"},
  };
  for (const auto& c : cases) EXPECT_EQ(qx::ScramblePassword(c.plain), c.scrambled) << c.scrambled.size();
}

TEST(ScramblePassword, IsItsOwnInverse) {
  std::u16string longHangul;
  for (int i = 0; i < 1000; ++i) longHangul.push_back(static_cast<char16_t>(0xAC00 + i * 7));
  const std::u16string inputs[] = {
      u"a", u"0123456789", u"비밀번호한글비밀번호한글", u"pair \U0001F600 inside", std::u16string(u"with\0zero", 9),
      longHangul,
  };
  for (const std::u16string& input : inputs) {
    const std::u16string once = qx::ScramblePassword(input);
    EXPECT_EQ(once.size(), input.size());
    EXPECT_EQ(once[0], input[0]) << "the first unit is XORed with zero";
    EXPECT_EQ(qx::ScramblePassword(once), input);
  }
}

bool IsLowerHex(std::u16string_view text) {
  for (const char16_t c : text) {
    if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return false;
  }
  return true;
}

TEST(PasswordDigest, DigestOfCodePageBytes) {
  qx::sim::CallLedger ledger;
  qx::sim::SimCodePage codePage(ledger);
  const struct {
    const char* name;
    std::u16string_view plain;
    std::u16string_view digest;  // MD5 of the expected bytes, computed separately
  } cases[] = {
      {"empty is the digest of no bytes", u"", u"d41d8cd98f00b204e9800998ecf8427e"},
      {"ascii", u"secret", u"5ebe2294ecd0e0f08eab7690d2a6ee69"},
      {"hangul as C7 D1 B1 DB", u"한글", u"fd2a2a55c7fc6b96d3aad609c7d84118"},
      {"a character the code page lacks counts as '?'", u"pw\u00E9x", u"b690d5621e0a2916d88ddef4331aea9c"},
      {"bytes stop at the first zero", std::u16string_view(u"ab\0cd", 5), u"187ef4436122d1cc2f40dc2b92f0eba0"},
      {"leading zero leaves nothing", std::u16string_view(u"\0cd", 3), u"d41d8cd98f00b204e9800998ecf8427e"},
  };
  for (const auto& c : cases) {
    const std::u16string digest = qx::PasswordDigest(codePage, c.plain);
    EXPECT_EQ(digest, c.digest) << c.name;
    EXPECT_EQ(digest.size(), 32u) << c.name;
    EXPECT_TRUE(IsLowerHex(digest)) << c.name;
  }
  // Neither the UTF-8 nor the UTF-16LE bytes of the same password.
  EXPECT_NE(qx::PasswordDigest(codePage, u"한글"), u"52b8c54ab4ea672ee6cdfdfef0a31db4");
  EXPECT_NE(qx::PasswordDigest(codePage, u"한글"), u"ec5208ec915c12986260bce2e0b35e60");
}

}  // namespace
