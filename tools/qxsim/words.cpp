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

std::string DeviceBytes(const Line& line, std::size_t first) {
  std::string bytes;
  for (std::size_t i = first; i < line.words.size(); ++i) {
    const std::string& word = line.words[i];
    if (line.quoted[i]) {
      bytes += word;
    } else if (word == "CR") {
      bytes += '\r';
    } else if (word == "LF") {
      bytes += '\n';
    } else if (word == "TAB") {
      bytes += '\t';
    } else if (word == "NUL") {
      bytes += '\0';
    } else if (const auto n = Number(word); n && word.size() == 4 && word.starts_with("0x") && *n >= 0) {
      bytes += static_cast<char>(*n);
    } else {
      bytes += word;
    }
  }
  return bytes;
}

}  // namespace qx::qxsim
