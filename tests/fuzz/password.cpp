// The password's stored form and its digest, over any UTF-16 text.
// Properties: scrambling keeps the length, leaves the first unit, changes
// unit i by exactly (i mod 10) and gives the text back when applied twice;
// the digest is always 32 lower-case hex digits, ends at the first zero
// unit, and is the MD5 of the text's own bytes when the text is ASCII.
#include <algorithm>

#include "client/md5.h"
#include "client/password.h"
#include "platform/sim/sim.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qx;
  static sim::CallLedger ledger;
  static sim::SimCodePage codePage(ledger);
  fuzz::Input input(std::span<const std::uint8_t>(data, size));
  const std::u16string text = input.RestAsText();

  const std::u16string stored = ScramblePassword(text);
  QX_FUZZ_CHECK(stored.size() == text.size());
  for (std::size_t i = 0; i < text.size(); ++i) QX_FUZZ_CHECK((stored[i] ^ text[i]) == static_cast<char16_t>(i % 10));
  QX_FUZZ_CHECK(ScramblePassword(stored) == text);

  const std::u16string digest = PasswordDigest(codePage, text);
  QX_FUZZ_CHECK(digest.size() == 32);
  QX_FUZZ_CHECK(std::all_of(digest.begin(), digest.end(),
                            [](char16_t unit) { return (unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'f'); }));
  const std::u16string beforeZero = text.substr(0, text.find(u'\0'));
  if (beforeZero.size() != text.size()) QX_FUZZ_CHECK(PasswordDigest(codePage, beforeZero) == digest);
  if (std::all_of(beforeZero.begin(), beforeZero.end(), [](char16_t unit) { return unit < 0x80; })) {
    const std::vector<std::uint8_t> bytes(beforeZero.begin(), beforeZero.end());
    QX_FUZZ_CHECK(digest == sim::Utf16(Md5Hex(bytes)));
  }
  return 0;
}
