// The simulated device's text conversions: the handheld's Korean code page
// (949) and the few others a program could name, on top of the host's iconv.
#pragma once

#include <functional>
#include <map>
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
// Each call converts with the code page it names: 949 (also reached as the
// device's ANSI and OEM code page, CP_ACP, CP_OEMCP, CP_THREAD_ACP), UTF-8,
// 1252 and 437. UTF-8 has no default character: what it cannot carry
// becomes U+FFFD, as on Win32. A code page the device does not have gives an
// empty result and the last error ERROR_INVALID_PARAMETER, as Win32 fails.
//
// The object keeps its converters open for its whole life; use it from one
// thread at a time, like the ledger it reports to.
class SimCodePage : public ICodePage {
 public:
  inline static constexpr UINT CP_ACP = 0;
  inline static constexpr UINT CP_OEMCP = 1;
  inline static constexpr UINT CP_THREAD_ACP = 3;
  inline static constexpr UINT CP_UTF8 = 65001;

  explicit SimCodePage(CallLedger& ledger);
  ~SimCodePage() override;
  SimCodePage(const SimCodePage&) = delete;
  SimCodePage& operator=(const SimCodePage&) = delete;

  // Both answer an empty string when the ledger fails the call.
  std::string WideCharToMultiByte(UINT codePage, std::u16string_view text) override;
  std::u16string MultiByteToWideChar(UINT codePage, std::string_view bytes) override;

  // Where a refused call leaves its error: the calling program's last error.
  void SetErrorSink(std::function<void(DWORD)> sink) { errorSink_ = std::move(sink); }

 private:
  class Converter;
  struct Pair {
    std::unique_ptr<Converter> toBytes;  // UTF-16LE -> the code page
    std::unique_ptr<Converter> toWide;   // the code page -> UTF-16LE
    std::size_t maxCharBytes = 1;
    std::string defaultBytes;  // what a character the code page lacks becomes
    char16_t defaultWide = u'?';  // what bytes that are no character become
  };
  // The converters of a code page the device has; nullptr for another.
  Pair* Find(UINT codePage);

  CallLedger& ledger_;
  std::map<UINT, Pair> pairs_;
  std::function<void(DWORD)> errorSink_;
};

}  // namespace qx::sim
