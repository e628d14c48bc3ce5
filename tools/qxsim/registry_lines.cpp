#include "tools/qxsim/registry_lines.h"

#include <algorithm>

#include "platform/sim/reg_format.h"
#include "platform/sim/text.h"

namespace qx::qxsim {

namespace {

// Shared runs shorter than this are shown again: eliding them saves little
// and makes the old value harder to read.
constexpr std::size_t kElideAtLeast = 16;
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // "…"

bool Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// True when a cut before position `at` of quoted text would split a
// character or separate a backslash from what it escapes.
bool BadCut(const std::string& text, std::size_t at) {
  if (at < text.size() && Continuation(text[at])) return true;
  std::size_t slashes = 0;
  while (slashes < at && text[at - 1 - slashes] == '\\') ++slashes;
  return slashes % 2 == 1;
}

}  // namespace

std::string ReadableWas(const sim::RegValue& was, const sim::RegValue& now) {
  std::string old = sim::RegValueReadableText(was.type, was.data);
  const std::string current = sim::RegValueReadableText(now.type, now.data);
  // Only quoted text is shortened: hex bytes and numbers are shown whole.
  if (old.empty() || old[0] != '"' || current.empty() || current[0] != '"') return old;
  const std::size_t oldClose = old.rfind('"');
  const std::size_t nowClose = current.rfind('"');
  // Inside the quotes: [1, close).
  std::size_t prefix = 1;
  while (prefix < oldClose && prefix < nowClose && old[prefix] == current[prefix]) ++prefix;
  while (prefix > 1 && BadCut(old, prefix)) --prefix;
  std::size_t suffix = 0;
  while (oldClose - suffix > prefix && nowClose - suffix > prefix && old[oldClose - 1 - suffix] == current[nowClose - 1 - suffix]) {
    ++suffix;
  }
  while (suffix > 0 && BadCut(old, oldClose - suffix)) --suffix;
  std::string out = old.substr(0, 1);
  if (prefix - 1 >= kElideAtLeast) {
    out += kEllipsis;
  } else {
    out += old.substr(1, prefix - 1);
  }
  out += old.substr(prefix, oldClose - suffix - prefix);
  if (suffix >= kElideAtLeast) {
    out += kEllipsis;
  } else {
    out += old.substr(oldClose - suffix, suffix);
  }
  return out + old.substr(oldClose);
}

std::vector<RegistryLine> RegistryLines(const sim::RegistryImage& before, const sim::RegistryImage& after) {
  using Kind = sim::RegChange::Kind;
  std::vector<RegistryLine> lines;
  std::string lastKey;
  for (const sim::RegChange& change : sim::Changes(before, after)) {
    const std::string key = "[" + change.key + "]";
    if (change.kind == Kind::KeyCreated || change.kind == Kind::KeyDeleted) {
      const bool created = change.kind == Kind::KeyCreated;
      lines.push_back({created ? RegistryLine::Kind::Added : RegistryLine::Kind::Removed, false,
                       (created ? "+ " : "- ") + key});
      lastKey = created ? key : std::string();
      continue;
    }
    if (key != lastKey) lines.push_back({RegistryLine::Kind::Key, false, key});
    lastKey = key;
    const std::string shown = sim::RegValueNameText(change.value.name) + " = " +
                              sim::RegValueReadableText(change.value.type, change.value.data);
    switch (change.kind) {
      case Kind::ValueAdded: lines.push_back({RegistryLine::Kind::Added, true, "+ " + shown}); break;
      case Kind::ValueRemoved: lines.push_back({RegistryLine::Kind::Removed, true, "- " + shown}); break;
      default: {
        // A name whose case changed shows the old name too.
        const std::string was = (change.was.name == change.value.name ? std::string()
                                                                       : sim::RegValueNameText(change.was.name) + " = ") +
                                ReadableWas(change.was, change.value);
        lines.push_back({RegistryLine::Kind::Changed, true, "~ " + shown + " (was " + was + ")"});
        break;
      }
    }
  }
  return lines;
}

}  // namespace qx::qxsim
