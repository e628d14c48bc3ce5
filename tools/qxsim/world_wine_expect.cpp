// The expectations on Wine: each check of the language asked of the Wine
// world, with the meaning it has on the simulated device, so that a check
// that holds on one world and not on the other is a difference.
#include <algorithm>

#include "platform/sim/effect_text.h"
#include "platform/sim/reg_format.h"
#include "tools/qxsim/verbs.h"
#include "tools/qxsim/world_wine.h"

namespace qx::qxsim {

namespace {

std::optional<sim::RegValue> FindValue(const sim::RegistryImage::Key& key, std::u16string_view name) {
  for (const sim::RegValue& value : key.values) {
    if (sim::NamesEqual(value.name, name)) return value;
  }
  return std::nullopt;
}

}  // namespace

void WineWorld::Expect(const Line& line, Step& step) {
  std::vector<std::string> words(line.words.begin() + 1, line.words.end());
  const bool negated = !words.empty() && Lower(words[0]) == "no";
  if (negated) words.erase(words.begin());
  const std::string what = Lower(words[0]);
  bool holds = false;
  std::string actual;
  const auto keyOf = [&](const std::string& text, std::u16string* rest) {
    const std::u16string path = sim::Utf16(text);
    const auto slash = path.find(u'\\');
    const auto root = sim::RootFromName(path.substr(0, slash));
    if (!root) Fail(line, "\"" + text + "\" does not start with HKEY_CLASSES_ROOT, HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE");
    *rest = slash == std::u16string::npos ? std::u16string() : path.substr(slash + 1);
    return *root;
  };
  if (what == "value" || what == "text") {
    std::u16string path;
    const HKEY root = keyOf(words[1], &path);
    const auto key = Key(line, root, path, false);
    const auto value = key ? FindValue(*key, VerbTable::ValueName(line, negated ? 4 : 3)) : std::nullopt;
    holds = value.has_value();
    if (what == "value" && value && words.size() == 4) {
      const bool text = line.quoted.back();
      std::string error;
      const auto expected = text ? std::optional<sim::RegValue>({{}, REG_SZ, sim::StringBytes(sim::Utf16(words[3]))})
                                 : sim::ParseRegValueData(words[3], &error);
      holds = expected && value->type == expected->type && value->data == expected->data;
      actual = sim::RegValueReadableText(value->type, value->data);
    } else if (what == "text") {
      holds = value && (value->type == REG_SZ || value->type == REG_EXPAND_SZ) &&
              sim::Utf8(sim::StringText(value->data)) == words[3];
      if (value) actual = sim::RegValueReadableText(value->type, value->data);
    }
  } else if (what == "key") {
    std::u16string path;
    const HKEY root = keyOf(words[1], &path);
    holds = Key(line, root, path, false).has_value();
  } else if (what == "process") {
    const std::u16string wanted = sim::Utf16(words[1]);
    for (const auto& fields : Ask(line, {"processes"}).lines) {
      if (fields.size() < 3 || fields[0] != "p") continue;
      // The device names its own programs by their path, the world's by
      // their file; Wine's list has files.
      const std::u16string image = names.images.count(static_cast<DWORD>(std::stoul(fields[1]))) != 0
                                       ? names.images.at(static_cast<DWORD>(std::stoul(fields[1])))
                                       : sim::Utf16(fields[2]);
      // Wine's process list names a process by its file alone: a path is
      // then matched by its file (the prefix holds one program of a name).
      const std::u16string file = wanted.substr(wanted.find_last_of(u'\\') == std::u16string::npos ? 0 : wanted.find_last_of(u'\\') + 1);
      holds = holds || sim::NamesEqual(image, wanted) || sim::NamesEqual(sim::Utf16(fields[2]), file);
    }
  } else if (what == "window") {
    std::string ambiguous;
    holds = WindowNamed(line, words[1], &ambiguous).has_value();
    if (!ambiguous.empty()) Fail(line, ambiguous);
  } else if (what == "dialog") {
    bool box = false;
    const auto front = FrontDialog(line, &box);
    holds = front.has_value();
    if (front) actual = (box ? "message box \"" : "dialog \"") + sim::Utf8(front->title) + "\"";
    if (words.size() == 2) {
      holds = false;
      for (const WineWindow& window : Windows(line)) {
        holds = holds || (window.visible && sim::Utf8(window.title) == words[1] &&
                          (window.className == u"#32770" || window.className == kDialogClass));
      }
    }
  } else if (what == "order") {
    const std::size_t first = negated ? 3 : 2;
    std::vector<std::string> parts;
    for (std::size_t i = 1; i < words.size(); ++i) {
      if (Lower(words[i]) == "then" && !line.quoted[first + i - 1]) continue;
      parts.push_back(words[i]);
    }
    std::size_t next = 0;
    holds = true;
    for (const std::string& part : parts) {
      while (next < lastEffects.size() && TraceLine(lastEffects[next]).find(part) == std::string::npos) ++next;
      if (next == lastEffects.size()) {
        holds = false;
        break;
      }
      ++next;
    }
  } else if (what == "file") {
    bool ok = false;
    const std::string bytes = ReadFile(HostPath(sim::Utf16(words[1])), &ok);
    holds = ok && (words.size() == 2 || bytes == DeviceBytes(line, 3));
    if (ok) actual = std::to_string(bytes.size()) + " bytes";
  } else if (what == "started") {
    for (const TraceRecord& record : sinceReset) {
      holds = holds || (record.kind == observed::Record::Start && record.fields.size() >= 2 &&
                        record.fields[0] == words[1] && record.fields[1] == words[2]);
    }
  } else if (what == "leaks") {
    for (const TraceRecord& record : all) {
      if (record.kind != observed::Record::LeftOpen || record.fields.size() < 3 || record.fields[2] == "1" || holds) continue;
      holds = true;
      actual = "\"" + sim::Utf8(names.DevicePath(sim::Utf16(record.image))) + "\" left " + record.fields[0] +
               (record.fields[1].empty() ? "" : " " + record.fields[1]) + " open";
    }
  }
  step.held = holds != negated;
  if (holds == negated) {
    std::string message = line.file.string() + ":" + std::to_string(line.number) + ": expectation failed: " +
                          line.text.substr(line.text.find_first_not_of(" \t"));
    if (!actual.empty()) message += " (found " + actual + ")";
    out << "    " << message << "\n";
  } else {
    out << "    ok\n";
  }
}

}  // namespace qx::qxsim
