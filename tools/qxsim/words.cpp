// The words of a scenario line, and the numbers, times and files they name.
#include "tools/qxsim/verbs.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace qx::qxsim {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return text;
}

std::optional<long long> Number(std::string_view text) {
  long long value = 0;
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return negative ? -value : value;
}

std::string Seconds(DWORD ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%03us", static_cast<unsigned>(ms / 1000), static_cast<unsigned>(ms % 1000));
  return text;
}

std::string ReadFile(const std::filesystem::path& path, bool* ok) {
  // A directory opens like a file on some systems and reads as empty.
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    *ok = false;
    return {};
  }
  std::ifstream in(path, std::ios::binary);
  *ok = static_cast<bool>(in);
  std::ostringstream text;
  if (*ok) text << in.rdbuf();
  *ok = *ok && !in.bad();
  return text.str();
}

std::vector<std::string> SplitWords(std::string_view text, std::vector<bool>* quoted, std::string* error) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ' || text[i] == '\t' || text[i] == '\r') {
      ++i;
      continue;
    }
    if (text[i] == '#') break;
    std::string word;
    if (text[i] == '"') {
      ++i;
      bool closed = false;
      while (i < text.size()) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\')) {
          word += text[i + 1];
          i += 2;
        } else if (text[i] == '"') {
          closed = true;
          ++i;
          break;
        } else {
          word += text[i++];
        }
      }
      if (!closed) {
        *error = "a quoted word is not closed";
        return {};
      }
      words.push_back(word);
      if (quoted != nullptr) quoted->push_back(true);
      continue;
    }
    while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r') word += text[i++];
    words.push_back(word);
    if (quoted != nullptr) quoted->push_back(false);
  }
  return words;
}

void VerbTable::Need(Runner& r, const Line& line, std::size_t min, std::size_t max, const std::string& usage) {
  if (line.words.size() < min || line.words.size() > max) r.Fail(line, "usage: " + usage);
}

std::string DeviceText(std::string_view typed) {
  std::string bytes;
  for (std::size_t i = 0; i < typed.size(); ++i) {
    if (typed[i] == '\\' && i + 1 < typed.size() && (typed[i + 1] == 'r' || typed[i + 1] == 'n')) {
      bytes += typed[++i] == 'r' ? '\r' : '\n';
    } else {
      bytes += typed[i];
    }
  }
  return bytes;
}

}  // namespace qx::qxsim
