// The agent's line protocol, shared by the agent (qxagent.exe, under Wine)
// and its Linux-side client (tools/qxsim/wine_session.cpp): standard C++
// only, so both builds compile the same rules.
//
// A line is fields separated by TAB and ended by LF (a CR before it is
// dropped). Inside a field a backslash escapes: "\\" a backslash, "\t" a
// tab, "\n" a line feed, "\r" a carriage return; so any text fits in one
// field. Text is UTF-8; a UTF-16 code unit that is half of no pair (Windows
// names may hold one, UTF-8 cannot) travels as its three-byte form, as
// WTF-8 writes it, so every registry name comes back as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qx::wire {

inline std::string Escape(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (const char c : field) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

// The fields joined and escaped, without the line's end.
inline std::string Join(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += '\t';
    line += Escape(fields[i]);
  }
  return line;
}

// A line (without its LF; a trailing CR is dropped) split into fields and
// unescaped; nothing when a backslash starts no known escape. An empty line
// is one empty field.
inline std::optional<std::vector<std::string>> Split(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\t') {
      fields.emplace_back();
    } else if (c == '\r') {
      // A CR inside a line is noise of the line's end, never data: data
      // CRs are escaped.
    } else if (c != '\\') {
      fields.back() += c;
    } else {
      if (++i == line.size()) return std::nullopt;
      switch (line[i]) {
        case '\\': fields.back() += '\\'; break;
        case 't': fields.back() += '\t'; break;
        case 'n': fields.back() += '\n'; break;
        case 'r': fields.back() += '\r'; break;
        default: return std::nullopt;
      }
    }
  }
  return fields;
}

// UTF-16 to UTF-8 (a lone surrogate as its own three bytes).
inline std::string Utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// UTF-8 (with lone surrogates as above) to UTF-16; nothing for bytes that
// are no such text: a stray or missing continuation byte, an overlong form,
// a code point past U+10FFFF, or a pair of surrogates written as two
// three-byte forms (that pair has one four-byte form).
inline std::optional<std::u16string> Utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned lead = byte(i);
    std::size_t length = 0;
    std::uint32_t c = 0;
    std::uint32_t least = 0;
    if (lead < 0x80) {
      length = 1, c = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, c = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, c = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, c = lead & 0x07, least = 0x10000;
    } else {
      return std::nullopt;
    }
    if (i + length > text.size()) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (byte(i + k) & 0x3F);
    }
    if (c < least || c > 0x10FFFF) return std::nullopt;
    i += length;
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      // A high half last written can only have come alone (a pair ends
      // with its low half), and a pair has one form: four bytes.
      const bool low = c >= 0xDC00 && c <= 0xDFFF;
      if (low && !out.empty() && out.back() >= 0xD800 && out.back() <= 0xDBFF) return std::nullopt;
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

// Bytes as lowercase hex digits, two a byte, nothing between.
inline std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char b : bytes) {
    out += kDigits[static_cast<unsigned char>(b) >> 4];
    out += kDigits[static_cast<unsigned char>(b) & 0xF];
  }
  return out;
}

// Hex digits (either case) back to bytes; nothing for an odd count or a
// character that is no digit.
inline std::optional<std::string> Unhex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = digit(hex[i]);
    const int low = digit(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
  }
  return out;
}

}  // namespace qx::wire
