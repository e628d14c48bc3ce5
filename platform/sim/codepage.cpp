#include "platform/sim/codepage.h"

#include <cerrno>
#include <cstddef>
#include <stdexcept>

#include <iconv.h>

namespace qx::sim {

namespace {
constexpr char kWideName[] = "UTF-16LE";
constexpr LONG kInvalidParameter = ERROR_INVALID_PARAMETER;

struct CodePageInfo {
  UINT number;
  const char* iconvName;
  std::size_t maxCharBytes;
};
// The device's ANSI and OEM code page is 949.
constexpr CodePageInfo kCodePages[] = {
    {SimCodePage::CP_ACP, "CP949", 2},  {SimCodePage::CP_OEMCP, "CP949", 2}, {SimCodePage::CP_THREAD_ACP, "CP949", 2},
    {CP_KOREAN, "CP949", 2},            {SimCodePage::CP_UTF8, "UTF-8", 4},  {1252, "CP1252", 1},
    {437, "CP437", 1},
};

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
}  // namespace

// One iconv descriptor, open for the converter's life.
class SimCodePage::Converter {
 public:
  Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {
    if (handle_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " + to);
    }
  }
  ~Converter() { iconv_close(handle_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  enum class Outcome { kConverted, kIncomplete, kRejected };

  // Converts exactly `size` bytes that should make up one character into
  // out, starting from the initial shift state.
  Outcome One(const char* data, std::size_t size, std::string* out) {
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    char input[4] = {};
    for (std::size_t i = 0; i < size && i < sizeof input; ++i) input[i] = data[i];
    char output[16] = {};
    char* in = input;
    std::size_t inLeft = size;
    char* outPtr = output;
    std::size_t outLeft = sizeof output;
    const std::size_t result = iconv(handle_, &in, &inLeft, &outPtr, &outLeft);
    if (result == static_cast<std::size_t>(-1)) return errno == EINVAL ? Outcome::kIncomplete : Outcome::kRejected;
    // A non-zero count means iconv substituted something: not an exact
    // mapping, so it counts as missing.
    if (result != 0 || inLeft != 0) return Outcome::kRejected;
    out->assign(output, static_cast<std::size_t>(outPtr - output));
    return Outcome::kConverted;
  }

 private:
  iconv_t handle_;
};

SimCodePage::SimCodePage(CallLedger& ledger) : ledger_(ledger) {}

SimCodePage::~SimCodePage() = default;

SimCodePage::Pair* SimCodePage::Find(UINT codePage) {
  if (const auto it = pairs_.find(codePage); it != pairs_.end()) return &it->second;
  for (const CodePageInfo& info : kCodePages) {
    if (info.number != codePage) continue;
    const bool utf8 = codePage == CP_UTF8;
    Pair pair{std::make_unique<Converter>(info.iconvName, kWideName),
              std::make_unique<Converter>(kWideName, info.iconvName), info.maxCharBytes,
              utf8 ? std::string("\xEF\xBF\xBD") : std::string("?"), utf8 ? u'\uFFFD' : u'?'};
    return &pairs_.emplace(codePage, std::move(pair)).first->second;
  }
  if (errorSink_) errorSink_(static_cast<DWORD>(kInvalidParameter));
  return nullptr;
}

std::string SimCodePage::WideCharToMultiByte(UINT codePage, std::u16string_view text) {
  if (ledger_.Enter(Call::WideCharToMultiByte)) return {};
  Pair* pair = Find(codePage);
  if (pair == nullptr) return {};
  std::string bytes;
  bytes.reserve(text.size() * pair->maxCharBytes);
  std::string converted;
  for (std::size_t i = 0; i < text.size();) {
    // A character is one unit, or a surrogate pair; a surrogate without its
    // partner is a character of its own that no code page has.
    std::size_t units = 1;
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) units = 2;
    const bool lone = units == 1 && (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i]));
    char wide[4] = {};
    for (std::size_t u = 0; u < units; ++u) {
      wide[u * 2] = static_cast<char>(text[i + u] & 0xFF);
      wide[u * 2 + 1] = static_cast<char>(text[i + u] >> 8);
    }
    if (!lone && pair->toBytes->One(wide, units * 2, &converted) == Converter::Outcome::kConverted) {
      bytes += converted;
    } else {
      bytes += pair->defaultBytes;
    }
    i += units;
  }
  return bytes;
}

std::u16string SimCodePage::MultiByteToWideChar(UINT codePage, std::string_view bytes) {
  if (ledger_.Enter(Call::MultiByteToWideChar)) return {};
  Pair* pair = Find(codePage);
  if (pair == nullptr) return {};
  std::u16string text;
  text.reserve(bytes.size());
  std::string converted;
  for (std::size_t i = 0; i < bytes.size();) {
    // Grow the candidate while iconv says the character is incomplete.
    std::size_t length = 0;
    Converter::Outcome outcome = Converter::Outcome::kIncomplete;
    while (outcome == Converter::Outcome::kIncomplete && length < pair->maxCharBytes && i + length < bytes.size()) {
      ++length;
      outcome = pair->toWide->One(bytes.data() + i, length, &converted);
    }
    if (outcome != Converter::Outcome::kConverted) {
      // Give up on the first byte only: the next one may start a character.
      text.push_back(pair->defaultWide);
      ++i;
      continue;
    }
    for (std::size_t b = 0; b + 1 < converted.size(); b += 2) {
      text.push_back(static_cast<char16_t>(static_cast<unsigned char>(converted[b]) |
                                           (static_cast<unsigned char>(converted[b + 1]) << 8)));
    }
    i += length;
  }
  return text;
}

}  // namespace qx::sim
