#include "platform/observed/text.h"

#include <cstdint>

namespace qx::observed {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::string Utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      const char32_t cp = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      AppendUtf8(out, cp);
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::u16string Utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    if (lead < 0x80) {
      // A run of ASCII goes over at once: texts may be megabytes long.
      std::size_t run = i + 1;
      while (run < text.size() && static_cast<std::uint8_t>(text[run]) < 0x80) ++run;
      out.append(text.begin() + static_cast<std::ptrdiff_t>(i), text.begin() + static_cast<std::ptrdiff_t>(run));
      i = run;
      continue;
    }
    // Length and the allowed range of the second byte; the narrowed ranges
    // shut out overlong forms, surrogates and values past U+10FFFF.
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      cp = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      cp = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      out.push_back(static_cast<char16_t>(kReplacement));
      ++i;
      continue;
    }
    // Consume the longest valid prefix; a broken sequence yields one U+FFFD
    // and decoding resumes at the byte that broke it.
    std::size_t used = 1;
    bool complete = true;
    for (; used < length; ++used) {
      if (i + used >= text.size()) {
        complete = false;
        break;
      }
      const auto byte = static_cast<std::uint8_t>(text[i + used]);
      const std::uint8_t min = used == 1 ? low : 0x80;
      const std::uint8_t max = used == 1 ? high : 0xBF;
      if (byte < min || byte > max) {
        complete = false;
        break;
      }
      cp = (cp << 6) | (byte & 0x3F);
    }
    if (complete) {
      AppendUtf16(out, cp);
    } else {
      out.push_back(static_cast<char16_t>(kReplacement));
    }
    i += used;
  }
  return out;
}

std::optional<std::size_t> InvalidUtf8At(std::string_view text) {
  // The same rules as Utf16: a sequence that it would turn into U+FFFD.
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return i;
    }
    for (std::size_t used = 1; used < length; ++used) {
      if (i + used >= text.size()) return i;
      const auto byte = static_cast<std::uint8_t>(text[i + used]);
      if (byte < (used == 1 ? low : 0x80) || byte > (used == 1 ? high : 0xBF)) return i;
    }
    i += length;
  }
  return std::nullopt;
}

std::string ByteText(char byte) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  const auto value = static_cast<std::uint8_t>(byte);
  return std::string("0x") + kDigits[value >> 4] + kDigits[value & 0xF];
}

}  // namespace qx::observed
