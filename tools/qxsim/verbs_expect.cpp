// The expect verb: checks of registry values, keys, processes and windows.
#include "tools/qxsim/verbs.h"

#include <algorithm>
#include <iostream>

namespace qx::qxsim {

std::u16string VerbTable::ValueName(const Line& line, std::size_t index) {
  // @ names the default value, as the transcript and .reg files show it;
  // quoted, it is a value named "@".
  if (line.words[index] == "@" && !line.quoted[index]) return {};
  return sim::Utf16(line.words[index]);
}

void VerbTable::Expect(Runner& r, const Line& line) {
  std::vector<std::string> words(line.words.begin() + 1, line.words.end());
  const bool negated = !words.empty() && Lower(words[0]) == "no";
  if (negated) words.erase(words.begin());
  const std::string usage =
      "usage: expect [no] value KEY NAME [DATA] | text KEY NAME TEXT | [no] key KEY | [no] process IMAGE | "
      "[no] window WINDOW | [no] dialog [TITLE] | order PART [then] PART... | no order PART [[then] PART...] | "
      "[no] file PATH [TEXT...] | "
      "[no] started PROGRAM PARAMETERS | no leaks";
  if (words.empty()) r.Fail(line, usage);
  const std::string what = Lower(words[0]);
  bool holds = false;
  std::string actual;
  if (what == "value" && (words.size() == 3 || words.size() == 4)) {
    if (negated && words.size() == 4) r.Fail(line, "\"expect no value\" takes no data");
    std::u16string path;
    const HKEY root = r.RootOf(line, words[1], &path);
    const auto value = r.device_.registry().GetValue(root, path, ValueName(line, negated ? 4 : 3));
    holds = value.has_value();
    if (value && words.size() == 4) {
      // DATA is a type and bytes however it is written: a quoted word is a
      // string, anything else reads as in a .reg file ("dword:…", "hex(1):…").
      const bool text = line.quoted.back();
      std::string error;
      const auto expected = text ? std::optional<sim::RegValue>({{}, REG_SZ, sim::StringBytes(sim::Utf16(words[3]))})
                                 : sim::ParseRegValueData(words[3], &error);
      if (!expected) r.Fail(line, "cannot read the data \"" + words[3] + "\": " + error);
      holds = value->type == expected->type && value->data == expected->data;
      // What was found, told as the check tells it.
      const bool hex = !text && Lower(words[3]).starts_with("hex");
      actual = hex ? sim::RegValueHexText(value->type, value->data)
                   : text ? sim::RegValueReadableText(value->type, value->data)
                          : sim::RegValueDataText(value->type, value->data);
    }
  } else if (what == "text" && words.size() == 4 && !negated) {
    // The text of a string value up to its terminator, whatever zero bytes
    // pad the value after it.
    std::u16string path;
    const HKEY root = r.RootOf(line, words[1], &path);
    const auto value = r.device_.registry().GetValue(root, path, ValueName(line, 3));
    if (value && (value->type == REG_SZ || value->type == REG_EXPAND_SZ)) {
      const std::u16string text = sim::StringText(value->data);
      actual = "\"" + sim::Utf8(text) + "\"";
      holds = sim::Utf8(text) == words[3];
    } else if (value) {
      actual = sim::RegValueDataText(value->type, value->data);
    }
  } else if (what == "order" && words.size() >= 2) {
    // "then" between parts is for the reader; quoted, it is a part.
    const std::size_t first = negated ? 3 : 2;  // the first part's word in the line
    std::vector<std::string> parts;
    for (std::size_t i = 1; i < words.size(); ++i) {
      if (Lower(words[i]) == "then" && !line.quoted[first + i - 1]) continue;
      parts.push_back(words[i]);
    }
    // One part alone is a check that it happened at all (or, negated, not).
    if (parts.empty() || (parts.size() < 2 && !negated)) r.Fail(line, usage);
    holds = EffectsInOrder(r, parts, &actual);
    if (negated && holds) actual = "them in this order";
  } else if (what == "key" && words.size() == 2) {
    std::u16string path;
    const HKEY root = r.RootOf(line, words[1], &path);
    holds = r.device_.registry().KeyExists(root, path);
  } else if (what == "process" && words.size() == 2) {
    for (const auto& process : r.device_.kernel().Processes()) {
      holds = holds || sim::Utf8(process.image) == words[1];
    }
  } else if (what == "window" && words.size() == 2) {
    std::string ambiguous;
    holds = r.FindWindowNamed(words[1], &ambiguous) != nullptr;
    if (!ambiguous.empty()) r.Fail(line, ambiguous);
  } else if (what == "dialog" && words.size() <= 2) {
    // Any dialog or message box of any program, or one with this title.
    const auto open = OpenDialog(r);
    if (open) actual = (open->messageBox ? "message box \"" : "dialog \"") + sim::Utf8(open->title) + "\"";
    holds = open.has_value();
    if (words.size() == 2) {
      holds = false;
      for (const auto& window : r.device_.kernel().TopLevelWindows()) {
        if (window.visible && window.className == kDialogClass && window.hwnd != r.ClientWindow() &&
            sim::Utf8(window.title) == words[1]) {
          holds = true;
        }
      }
    }
  } else if (what == "file" && words.size() >= 2) {
    // The file's bytes, written as for "file put".
    const auto bytes = r.device_.kernel().GetFile(sim::Utf16(words[1]));
    if (bytes) actual = std::to_string(bytes->size()) + " bytes";
    const std::string expected = words.size() >= 3 ? DeviceBytes(line, 3) : std::string();
    holds = bytes.has_value() &&
            (words.size() == 2 || std::equal(bytes->begin(), bytes->end(), expected.begin(), expected.end(),
                                             [](BYTE a, char b) { return a == static_cast<BYTE>(b); }));
    if (negated && words.size() >= 3) r.Fail(line, "\"expect no file\" takes no text");
  } else if (what == "started" && words.size() == 3) {
    // A start that one of the device's programs made, with exactly these
    // parameters, since the last reset; the runner's own starts for the
    // user (start client, launch, shell open, browser open) are not theirs.
    sim::Kernel& kernel = r.device_.kernel();
    for (const sim::ShellStart& started : kernel.ShellRequests()) {
      holds = holds || (started.caller != 0 && started.boot == kernel.Boots() && sim::Utf8(started.file) == words[1] &&
                        sim::Utf8(started.parameters) == words[2]);
    }
  } else if (what == "leaks" && words.size() == 1 && negated) {
    // Handles whose close the device refused were given back as far as the
    // program could: they are not its leaks.
    for (const sim::HandlesLeft& left : r.device_.kernel().LeftOpen()) {
      for (const sim::OpenHandle& handle : left.handles) {
        if (handle.closeRefused || holds) continue;
        holds = true;
        actual = "\"" + sim::Utf8(left.image) + "\" left " + std::string(sim::HandleKindName(handle.kind)) +
                 (handle.what.empty() ? "" : " " + handle.what) + " open";
      }
    }
  } else {
    r.Fail(line, usage);
  }
  if (holds == negated) {
    r.failed_ = true;
    std::string message = line.file.string() + ":" + std::to_string(line.number) + ": expectation failed: " +
                          line.text.substr(line.text.find_first_not_of(" \t"));
    if (!actual.empty()) message += " (found " + actual + ")";
    r.out_ << "    " << message << "\n";
    *r.errors_ << message << "\n";
  } else {
    r.out_ << "    ok\n";
  }
}

bool VerbTable::EffectsInOrder(Runner& r, const std::vector<std::string>& parts, std::string* actual) {
  // Each part is looked for after the effect the part before it matched,
  // in the effect as a trace shows it, so a part may name the program.
  std::size_t next = 0;
  for (std::size_t p = 0; p < parts.size(); ++p) {
    while (next < r.lastEffects_.size() && TraceLine(r.lastEffects_[next]).find(parts[p]) == std::string::npos) ++next;
    if (next == r.lastEffects_.size()) {
      *actual = p == 0 ? "no effect with \"" + parts[p] + "\""
                       : "no effect with \"" + parts[p] + "\" after \"" + parts[p - 1] + "\"";
      return false;
    }
    ++next;
  }
  return true;
}

void VerbTable::AddExpectVerbs(std::vector<Runner::Verb>& verbs) {
  verbs.push_back({"expect",
                   "expect [no] value KEY NAME [DATA] | [no] key KEY | [no] process IMAGE | [no] window WINDOW | "
                   "order PART [then] PART... | [no] file PATH [TEXT...] | [no] started PROGRAM PARAMETERS | "
                   "no leaks",
                   [](Runner& r, const Line& line) { Expect(r, line); }});
}

}  // namespace qx::qxsim
