#include "platform/sim/reg_format.h"

#include <algorithm>
#include <cstdint>
#include <variant>
#include <vector>

#include "platform/sim/text.h"

namespace qx::sim {

namespace {

// Win32's longest value name, in characters.
constexpr std::size_t kMaxValueNameLength = 16383;
// Hex data wraps so that no line, its trailing backslash included, passes
// this column.
constexpr std::size_t kWrapColumn = 80;
constexpr std::string_view kContinuationIndent = "  ";

constexpr char kHexDigits[] = "0123456789abcdef";

std::string HexNumber(DWORD value) {
  std::string text;
  do {
    text.insert(text.begin(), kHexDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return text;
}

std::string Quoted(std::u16string_view text) {
  std::string out = "\"";
  for (char c : Utf8(text)) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

bool IsSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// The text of a REG_SZ that can be written as "text" and read back to the
// same bytes: exactly the characters and one terminator, nothing that would
// break the line or be lost in UTF-8 (control characters but tab, unpaired
// surrogates).
std::optional<std::u16string> PlainString(std::span<const BYTE> data) {
  if (data.size() < 2 || data.size() % 2 != 0) return std::nullopt;
  std::u16string text;
  const std::size_t units = data.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    text.push_back(static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8)));
  }
  if (text.back() != u'\0') return std::nullopt;
  text.pop_back();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit < 0x20 && unit != u'\t') return std::nullopt;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (IsSurrogate(unit)) {
      return std::nullopt;
    }
  }
  return text;
}

// "hex:" or "hex(N):" for data that is written as bytes; nullopt for the
// forms that are not ("text" strings and four-byte dwords).
std::optional<std::string> HexPrefix(DWORD type, std::span<const BYTE> data) {
  if (type == REG_SZ && PlainString(data)) return std::nullopt;
  if (type == REG_DWORD && data.size() == 4) return std::nullopt;
  if (type == REG_BINARY) return "hex:";
  return "hex(" + HexNumber(type) + "):";
}

// Appends the bytes "xx,xx,..." to a line that already holds `out`; with
// wrap, breaks after a comma with ",\" and an indented continuation.
void AppendHexBytes(std::string& out, std::size_t column, std::span<const BYTE> data, bool wrap) {
  for (std::size_t i = 0; i < data.size(); ++i) {
    const bool last = i + 1 == data.size();
    // The token, its comma, and the backslash a break after it would need.
    const std::size_t need = last ? 2 : 4;
    if (wrap && i > 0 && column + need > kWrapColumn) {
      out += "\\\n";
      out += kContinuationIndent;
      column = kContinuationIndent.size();
    }
    out.push_back(kHexDigits[data[i] >> 4]);
    out.push_back(kHexDigits[data[i] & 0xF]);
    column += 2;
    if (!last) {
      out.push_back(',');
      ++column;
    }
  }
}

std::string DataText(DWORD type, std::span<const BYTE> data, std::size_t column, bool wrap) {
  if (const auto prefix = HexPrefix(type, data)) {
    std::string out = *prefix;
    AppendHexBytes(out, column + out.size(), data, wrap);
    return out;
  }
  if (type == REG_SZ) return Quoted(*PlainString(data));
  const DWORD value = static_cast<DWORD>(data[0]) | (static_cast<DWORD>(data[1]) << 8) |
                      (static_cast<DWORD>(data[2]) << 16) | (static_cast<DWORD>(data[3]) << 24);
  std::string digits = HexNumber(value);
  return "dword:" + std::string(8 - digits.size(), '0') + digits;
}

void WriteKey(const RegistryImage::Key& key, const std::string& path, bool isRoot, std::string& out) {
  if (!isRoot || !key.values.empty()) {
    out += "[" + path + "]\n";
    for (const RegValue& value : key.values) {
      std::string line = RegValueNameText(value.name) + "=";
      line += DataText(value.type, value.data, line.size(), true);
      out += line + "\n";
    }
    out += "\n";
  }
  for (const RegistryImage::Key& sub : key.subKeys) WriteKey(sub, path + "\\" + Utf8(sub.name), false, out);
}

// ---- Reading ----------------------------------------------------------------

struct CreateKeyOp {
  HKEY root;
  std::u16string path;
};
struct DeleteKeyOp {
  HKEY root;
  std::u16string path;
};
struct SetValueOp {
  HKEY root;
  std::u16string path;
  RegValue value;
};
struct DeleteValueOp {
  HKEY root;
  std::u16string path;
  std::u16string name;
};
using Op = std::variant<CreateKeyOp, DeleteKeyOp, SetValueOp, DeleteValueOp>;

// The text as UTF-8 without a byte order mark.
std::string Decode(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) return std::string(text.substr(3));
  if (text.starts_with("\xFF\xFE")) {
    std::u16string wide;
    for (std::size_t i = 2; i + 1 < text.size(); i += 2) {
      wide.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(text[i]) |
                                           (static_cast<std::uint8_t>(text[i + 1]) << 8)));
    }
    if (text.size() % 2 != 0) wide.push_back(u'\uFFFD');
    return Utf8(wide);
  }
  return std::string(text);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const char a = s[i] >= 'A' && s[i] <= 'Z' ? static_cast<char>(s[i] - 'A' + 'a') : s[i];
    if (a != prefix[i]) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The first character of a name that the text format cannot carry.
std::optional<char16_t> UnwritableUnit(std::u16string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char16_t unit = name[i];
    if (unit < 0x20 && unit != u'\t') return unit;
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (high && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || low) {
      return unit;
    }
  }
  return std::nullopt;
}

std::string UnitName(char16_t unit) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "U+";
  for (int shift = 12; shift >= 0; shift -= 4) text += kDigits[(unit >> shift) & 0xF];
  return text;
}

// What goes wrong while reading one line; the caller adds file and line.
struct LineError {
  std::size_t line;
  std::string message;
};

class Parser {
 public:
  explicit Parser(std::string_view text) {
    // Lines end in CR LF, LF or CR alone.
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t end = start;
      while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
      lines_.push_back(text.substr(start, end - start));
      start = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
    }
  }

  std::optional<LineError> Parse() {
    bool haveHeader = false;
    for (index_ = 0; index_ < lines_.size(); ++index_) {
      // Text that is not UTF-8 would come in as U+FFFD, silently changed.
      if (const auto at = InvalidUtf8At(lines_[index_])) {
        return Fail("the line is not UTF-8: byte " + ByteText(lines_[index_][*at]) + " at column " +
                    std::to_string(*at + 1));
      }
      const std::string_view line = Trim(lines_[index_]);
      if (line.empty()) continue;
      if (!haveHeader) {
        if (line != kRegFileHeader) return Fail("the file must start with \"" + std::string(kRegFileHeader) + "\"");
        haveHeader = true;
        continue;
      }
      std::optional<LineError> error;
      if (line.front() == ';') continue;
      if (line.front() == '[') {
        error = ParseKeyLine(line);
      } else if (line.front() == '"' || line.front() == '@') {
        error = ParseValueLine(line);
      } else {
        error = Fail("unrecognised line \"" + std::string(line) + "\"");
      }
      if (error) return error;
    }
    if (!haveHeader) return LineError{1, "empty file: the header \"" + std::string(kRegFileHeader) + "\" is missing"};
    return std::nullopt;
  }

  std::vector<Op>& ops() { return ops_; }

 private:
  struct Section {
    HKEY root;
    std::u16string path;
    bool deleting;
  };

  LineError Fail(std::string message, std::size_t line = 0) const {
    return {line != 0 ? line : index_ + 1, std::move(message)};
  }

  std::optional<LineError> ParseKeyLine(std::string_view line) {
    if (line.size() < 2 || line.back() != ']') return Fail("key line without a closing ']'");
    std::string_view inner = line.substr(1, line.size() - 2);
    const bool deleting = inner.starts_with('-');
    if (deleting) inner.remove_prefix(1);
    const std::u16string full = Utf16(inner);
    const std::size_t slash = full.find(u'\\');
    const std::u16string_view rootName = std::u16string_view(full).substr(0, slash);
    const auto root = RootFromName(rootName);
    if (!root) return Fail("unknown root key \"" + Utf8(rootName) + "\"");
    const std::u16string path = slash == std::u16string::npos ? std::u16string() : full.substr(slash + 1);
    // What is imported can always be exported again.
    if (const auto unit = UnwritableUnit(path)) {
      return Fail("a key name holds " + UnitName(*unit) + ", which a .reg file cannot carry");
    }
    if (static_cast<std::size_t>(std::count(path.begin(), path.end(), u'\\')) >= kMaxKeyDepth) {
      return Fail("bad key path: deeper than " + std::to_string(kMaxKeyDepth) + " levels below the root");
    }
    if (slash != std::u16string::npos && !SplitKeyPath(path)) {
      return Fail("bad key path \"" + std::string(inner) +
                  "\": a key name is empty or longer than " + std::to_string(kMaxKeyNameLength) + " characters");
    }
    if (deleting && path.empty()) return Fail("a root key cannot be deleted");
    if (deleting) {
      ops_.push_back(DeleteKeyOp{*root, path});
    } else {
      ops_.push_back(CreateKeyOp{*root, path});
    }
    section_ = Section{*root, path, deleting};
    return std::nullopt;
  }

  // A "..." string at text[*pos] (which is the opening quote) with \\ and \"
  // escapes; *pos ends past the closing quote.
  std::optional<LineError> ParseQuoted(std::string_view text, std::size_t* pos, std::string* out,
                                       std::string_view what) {
    std::size_t i = *pos + 1;
    while (i < text.size()) {
      // Plain runs go over in one piece: a value may be megabytes long.
      std::size_t run = i;
      while (run < text.size() && text[run] != '"' && text[run] != '\\') ++run;
      out->append(text.data() + i, run - i);
      i = run;
      if (i >= text.size()) break;
      const char c = text[i];
      if (c == '"') {
        *pos = i + 1;
        return std::nullopt;
      }
      if (c == '\\') {
        if (i + 1 >= text.size()) break;
        const char next = text[i + 1];
        if (next != '\\' && next != '"') {
          return Fail("unknown escape \"\\" + std::string(1, next) + "\" in " + std::string(what) +
                      " (only \\\\ and \\\" are allowed)");
        }
        out->push_back(next);
        i += 2;
      }
    }
    return Fail("unterminated " + std::string(what));
  }

  std::optional<LineError> ParseValueLine(std::string_view line) {
    if (!section_) return Fail("value line before any [KEY] line");
    if (section_->deleting) return Fail("value line under a key that is being deleted");
    std::u16string name;
    std::size_t pos = 0;
    if (line.front() == '@') {
      pos = 1;
    } else {
      std::string utf8;
      if (auto error = ParseQuoted(line, &pos, &utf8, "value name")) return error;
      // "" names the default value too, as @ does.
      name = Utf16(utf8);
      if (name.size() > kMaxValueNameLength) return Fail("value name longer than 16383 characters");
      if (const auto unit = UnwritableUnit(name)) {
        return Fail("a value name holds " + UnitName(*unit) + ", which a .reg file cannot carry");
      }
    }
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != '=') return Fail("expected '=' after the value name");
    ++pos;
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    const std::string_view data = line.substr(pos);

    RegValue value{std::move(name), REG_NONE, {}};
    if (data == "-") {
      ops_.push_back(DeleteValueOp{section_->root, section_->path, std::move(value.name)});
      return std::nullopt;
    }
    if (data.starts_with('"')) {
      std::size_t end = 0;
      std::string utf8;
      if (auto error = ParseQuoted(data, &end, &utf8, "string")) return error;
      if (!Trim(data.substr(end)).empty()) return Fail("unexpected text after the closing quote");
      value.type = REG_SZ;
      value.data = StringBytes(Utf16(utf8));
    } else if (StartsWithNoCase(data, "dword:")) {
      const std::string_view digits = data.substr(6);
      DWORD number = 0;
      if (digits.size() != 8 || !std::all_of(digits.begin(), digits.end(), [](char c) { return HexDigit(c) >= 0; })) {
        return Fail("dword needs exactly 8 hex digits, got \"" + std::string(digits) + "\"");
      }
      for (char c : digits) number = (number << 4) | static_cast<DWORD>(HexDigit(c));
      value.type = REG_DWORD;
      for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<BYTE>(number >> (8 * i)));
    } else if (StartsWithNoCase(data, "hex")) {
      if (auto error = ParseHex(data.substr(3), &value)) return error;
    } else {
      return Fail("unrecognised value data \"" + std::string(data) + "\"");
    }
    ops_.push_back(SetValueOp{section_->root, section_->path, std::move(value)});
    return std::nullopt;
  }

  // After "hex": an optional "(type)", ':', then bytes that may continue on
  // the following lines after a trailing backslash.
  std::optional<LineError> ParseHex(std::string_view rest, RegValue* value) {
    value->type = REG_BINARY;
    if (rest.starts_with('(')) {
      const std::size_t close = rest.find(')');
      const std::string_view digits = rest.substr(1, close == std::string_view::npos ? 0 : close - 1);
      if (close == std::string_view::npos || digits.empty() || digits.size() > 8 ||
          !std::all_of(digits.begin(), digits.end(), [](char c) { return HexDigit(c) >= 0; })) {
        return Fail("bad value type in \"hex(...)\": expected 1 to 8 hex digits");
      }
      DWORD type = 0;
      for (char c : digits) type = (type << 4) | static_cast<DWORD>(HexDigit(c));
      value->type = type;
      rest.remove_prefix(close + 1);
    }
    if (!rest.starts_with(':')) return Fail("expected ':' after \"hex\"");
    rest.remove_prefix(1);

    // Join the continuation lines, remembering where each began so that a
    // bad byte is reported on its own line.
    std::string joined;
    std::vector<std::pair<std::size_t, std::size_t>> starts;  // offset in joined, line number
    std::string_view piece = TrimRight(rest);
    starts.emplace_back(0, index_ + 1);
    while (piece.ends_with('\\')) {
      piece.remove_suffix(1);
      joined += piece;
      if (index_ + 1 >= lines_.size()) {
        piece = {};
        break;
      }
      ++index_;
      piece = Trim(lines_[index_]);
      starts.emplace_back(joined.size(), index_ + 1);
    }
    joined += piece;

    const auto lineAt = [&starts](std::size_t offset) {
      std::size_t line = starts.front().second;
      for (const auto& [start, number] : starts) {
        if (start <= offset) line = number;
      }
      return line;
    };

    if (Trim(joined).empty()) return std::nullopt;
    std::size_t start = 0;
    while (true) {
      const std::size_t comma = joined.find(',', start);
      const std::size_t end = comma == std::string::npos ? joined.size() : comma;
      const std::string_view token = Trim(std::string_view(joined).substr(start, end - start));
      if (token.size() != 2 || HexDigit(token[0]) < 0 || HexDigit(token[1]) < 0) {
        return Fail(token.empty() ? std::string("missing hex byte (stray comma?)")
                                  : "bad hex byte \"" + std::string(token) + "\": expected two hex digits",
                    lineAt(start));
      }
      value->data.push_back(static_cast<BYTE>(HexDigit(token[0]) * 16 + HexDigit(token[1])));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    return std::nullopt;
  }

  std::vector<std::string_view> lines_;
  std::size_t index_ = 0;
  std::optional<Section> section_;
  std::vector<Op> ops_;
};

struct Apply {
  SimRegistry& registry;
  void operator()(const CreateKeyOp& op) const { registry.CreateKey(op.root, op.path); }
  void operator()(const DeleteKeyOp& op) const { registry.DeleteKey(op.root, op.path); }
  void operator()(const SetValueOp& op) const {
    registry.SetValue(op.root, op.path, op.value.name, op.value.type, op.value.data);
  }
  void operator()(const DeleteValueOp& op) const { registry.DeleteValue(op.root, op.path, op.name); }
};

}  // namespace

std::string RegFormatError::ToString() const { return file + ":" + std::to_string(line) + ": " + message; }

std::string RegValueNameText(std::u16string_view name) { return name.empty() ? "@" : Quoted(name); }

std::string RegValueDataText(DWORD type, std::span<const BYTE> data) { return DataText(type, data, 0, false); }

namespace {

// Longer data is shown by its start and its size: a line holding megabytes
// tells a reader nothing more, and writing it would take longer than the
// step that stored it.
constexpr std::size_t kReadableMaxBytes = 4096;
constexpr std::size_t kReadableShownBytes = 64;
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // "…"

std::string LongDataText(DWORD type, std::span<const BYTE> data) {
  const std::string size = " (" + std::to_string(data.size()) + " bytes)";
  if (type == REG_SZ) {
    std::u16string head;
    for (std::size_t i = 0; i + 1 < kReadableShownBytes; i += 2) {
      head.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    // Never half a pair of surrogates.
    if (head.back() >= 0xD800 && head.back() <= 0xDBFF) head.pop_back();
    if (head.find(u'\0') == std::u16string::npos && PlainString(StringBytes(head))) {
      std::string text = Quoted(head);
      text.insert(text.size() - 1, kEllipsis);
      return text + size;
    }
  }
  std::string out = type == REG_BINARY ? "hex:" : "hex(" + HexNumber(type) + "):";
  AppendHexBytes(out, 0, data.first(kReadableShownBytes), false);
  return out + "," + std::string(kEllipsis) + size;
}

}  // namespace

std::string RegValueReadableText(DWORD type, std::span<const BYTE> data) {
  if (data.size() > kReadableMaxBytes) return LongDataText(type, data);
  if (type == REG_SZ) {
    // The text runs to the first whole zero code unit; zero-padded data has
    // nothing but zero bytes after it.
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
      if (data[i] != 0 || data[i + 1] != 0) continue;
      const bool padded = std::all_of(data.begin() + static_cast<std::ptrdiff_t>(i), data.end(), [](BYTE b) { return b == 0; });
      const std::vector<BYTE> plain = StringBytes(StringText(data));
      if (padded && plain.size() < data.size()) {
        return DataText(REG_SZ, plain, 0, false) + " (" + std::to_string(data.size()) + " bytes, zero-padded)";
      }
      break;
    }
  }
  return DataText(type, data, 0, false);
}

std::string RegValueHexText(DWORD type, std::span<const BYTE> data) {
  std::string out = type == REG_BINARY ? "hex:" : "hex(" + HexNumber(type) + "):";
  AppendHexBytes(out, 0, data, false);
  return out;
}

std::optional<RegValue> ParseRegValueData(std::string_view data, std::string* error) {
  // One value line under one key, read by the importer itself, so that
  // DATA means what it means in a .reg file.
  CallLedger ledger;
  SimRegistry scratch(ledger);
  const std::string text = std::string(kRegFileHeader) + "\n\n[HKEY_CURRENT_USER\\v]\n@=" + std::string(data) + "\n";
  if (const auto failed = ImportReg(scratch, text, "data")) {
    *error = failed->message;
    return std::nullopt;
  }
  auto value = scratch.GetValue(HKEY_CURRENT_USER, u"v", u"");
  if (!value) *error = "no value data";
  return value;
}

std::string ExportReg(const SimRegistry& registry, RegScope scope) { return ExportReg(registry.Image(), scope); }

std::string ExportReg(const RegistryImage& image, const RegScope& scope) {
  std::string out = std::string(kRegFileHeader) + "\n\n";
  if (scope) {
    const RegistryImage::Key* key = image.Find(scope->first, scope->second);
    if (key == nullptr) return out;
    const auto parts = SplitKeyPath(scope->second);
    // The path as stored, not as the caller spelled it.
    std::string path = Utf8(RootName(scope->first));
    const RegistryImage::Key* walk = image.Find(scope->first, u"");
    for (std::u16string_view part : *parts) {
      walk = walk->Find(part);
      path += "\\" + Utf8(walk->name);
    }
    WriteKey(*key, path, parts->empty(), out);
    return out;
  }
  for (HKEY root : kRegistryRoots) {
    if (const RegistryImage::Key* key = image.Find(root, u"")) WriteKey(*key, Utf8(RootName(root)), true, out);
  }
  return out;
}

namespace {

std::optional<std::string> UnwritableIn(const RegistryImage::Key& key, const std::string& path) {
  for (const RegValue& value : key.values) {
    if (const auto unit = UnwritableUnit(value.name)) {
      return "a value name under [" + path + "] holds " + UnitName(*unit) + ", which a .reg file cannot carry";
    }
  }
  for (const RegistryImage::Key& sub : key.subKeys) {
    if (const auto unit = UnwritableUnit(sub.name)) {
      return "a key name under [" + path + "] holds " + UnitName(*unit) + ", which a .reg file cannot carry";
    }
    if (auto problem = UnwritableIn(sub, path + "\\" + Utf8(sub.name))) return problem;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> UnwritableName(const RegistryImage& image, const RegScope& scope) {
  if (scope) {
    const RegistryImage::Key* key = image.Find(scope->first, scope->second);
    if (key == nullptr) return std::nullopt;
    if (const auto unit = UnwritableUnit(key->name)) {
      return "the key's name holds " + UnitName(*unit) + ", which a .reg file cannot carry";
    }
    return UnwritableIn(*key, Utf8(RootName(scope->first)) + (scope->second.empty() ? "" : "\\" + Utf8(scope->second)));
  }
  for (HKEY root : kRegistryRoots) {
    if (const RegistryImage::Key* key = image.Find(root, u"")) {
      if (auto problem = UnwritableIn(*key, Utf8(RootName(root)))) return problem;
    }
  }
  return std::nullopt;
}

std::optional<RegFormatError> ImportReg(SimRegistry& registry, std::string_view text, std::string_view sourceName) {
  const std::string decoded = Decode(text);
  Parser parser(decoded);
  if (auto error = parser.Parse()) return RegFormatError{std::string(sourceName), error->line, error->message};
  const Apply apply{registry};
  for (const Op& op : parser.ops()) std::visit(apply, op);
  return std::nullopt;
}

}  // namespace qx::sim
