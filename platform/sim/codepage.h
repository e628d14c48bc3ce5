// The simulated device's text conversions: the handheld's Korean code page
// (949) on top of the host's iconv.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/sim/ledger.h"

namespace qx::sim {

// Converts one character at a time, so that a character the code page lacks
// turns into a single '?' and the rest of the text still converts. Only exact
// mappings count: characters that the handheld's own tables would replace
// with a look-alike (e with acute, the copyright sign, the won sign U+20A9)
// become '?' here, as do unpaired surrogates. Byte sequences that are not
// code page 949 become U+003F, one per offending byte.
//
// The device has one ANSI code page and it is 949, so every code page number
// (CP_ACP = 0 included) converts as 949: the programs only ever ask for
// CP_KOREAN or CP_ACP.
//
// The object keeps its converters open for its whole life; use it from one
// thread at a time, like the ledger it reports to.
class SimCodePage : public ICodePage {
 public:
  explicit SimCodePage(CallLedger& ledger);
  ~SimCodePage() override;
  SimCodePage(const SimCodePage&) = delete;
  SimCodePage& operator=(const SimCodePage&) = delete;

  // Both answer an empty string when the ledger fails the call.
  std::string WideCharToMultiByte(UINT codePage, std::u16string_view text) override;
  std::u16string MultiByteToWideChar(UINT codePage, std::string_view bytes) override;

 private:
  class Converter;
  CallLedger& ledger_;
  std::unique_ptr<Converter> toBytes_;  // UTF-16LE -> CP949
  std::unique_ptr<Converter> toWide_;   // CP949 -> UTF-16LE
};

}  // namespace qx::sim
