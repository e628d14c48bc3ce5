#include "tools/qxsim/world_trace.h"

#include <charconv>

#include "platform/framework/framework.h"
#include "platform/sim/effect_text.h"
#include "platform/sim/reg_format.h"
#include "tools/qxsim/writer.h"

namespace qx::qxsim {

namespace {

std::string Unescape(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      out.push_back(field[i]);
      continue;
    }
    const char next = field[++i];
    out.push_back(next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next);
  }
  return out;
}

long long Integer(const std::string& text) {
  long long value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::vector<BYTE> Bytes(const std::string& hex) {
  std::vector<BYTE> bytes;
  const auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<BYTE>(digit(hex[i]) * 16 + digit(hex[i + 1])));
  }
  return bytes;
}

const std::string& Field(const TraceRecord& record, std::size_t index) {
  static const std::string kNone;
  return index < record.fields.size() ? record.fields[index] : kNone;
}

std::string BaseName(std::u16string_view image) { return sim::Utf8(ProgramBaseName(image)) + ".exe"; }

}  // namespace

std::vector<TraceRecord> ReadTrace(const std::string& text, std::size_t* offset) {
  std::vector<TraceRecord> records;
  while (*offset < text.size()) {
    const std::size_t end = text.find('\n', *offset);
    if (end == std::string::npos) break;  // a record still being written
    const std::string_view line(text.data() + *offset, end - *offset);
    *offset = end + 1;
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
      const std::size_t tab = line.find('\t', start);
      fields.push_back(Unescape(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start)));
      if (tab == std::string_view::npos) break;
      start = tab + 1;
    }
    if (fields.size() < 2) continue;
    const auto kind = observed::RecordFromName(fields[1]);
    if (!kind) continue;
    records.push_back({fields[0], *kind, std::vector<std::string>(fields.begin() + 2, fields.end())});
  }
  return records;
}

std::u16string WorldNames::DevicePath(std::u16string_view windowsPath) const {
  std::u16string path(windowsPath);
  if (path.size() >= 2 && (path[0] == u'C' || path[0] == u'c') && path[1] == u':') path.erase(0, 2);
  // The end-to-end installer driver plays the device's installer.
  if (sim::NamesEqual(path, u"\\qx\\qxinstall.exe")) return u"\\Windows\\installer.exe";
  // The stand-ins for the device's own programs live where Wine keeps its
  // own, and the device names them by their files.
  for (std::u16string_view folder : {u"\\windows\\system32\\", u"\\windows\\"}) {
    if (path.size() > folder.size() && sim::NamesEqual(path.substr(0, folder.size()), folder) &&
        path.find(u'\\', folder.size()) == std::u16string::npos) {
      return path.substr(folder.size());
    }
  }
  return path;
}

sim::Effect EffectOf(const TraceRecord& record, const WorldNames& names) {
  using observed::Record;
  using Kind = sim::Effect::Kind;
  const std::u16string image = names.DevicePath(sim::Utf16(record.image));
  const auto field16 = [&](std::size_t i) { return sim::Utf16(Field(record, i)); };
  sim::Effect effect{Kind::Note, {}, BaseName(image)};
  switch (record.kind) {
    case Record::Set: {
      const std::vector<BYTE> data = Bytes(Field(record, 3));
      effect = {Kind::Registry,
                "set [" + Field(record, 0) + "] " + sim::RegValueNameText(field16(1)) + "=" +
                    sim::RegValueReadableText(static_cast<DWORD>(Integer(Field(record, 2))), data),
                effect.program};
      break;
    }
    case Record::Create: effect = {Kind::Registry, "create [" + Field(record, 0) + "]", effect.program}; break;
    case Record::Delete: effect = {Kind::Registry, "delete [" + Field(record, 0) + "]", effect.program}; break;
    case Record::Start:
      effect.kind = Kind::ProgramStart;
      effect.text = sim::StartText(field16(0), field16(1), field16(2), field16(3), static_cast<int>(Integer(Field(record, 4))));
      break;
    case Record::Terminated: {
      const UINT code = static_cast<UINT>(Integer(Field(record, 1)));
      effect.kind = Kind::ProcessKilled;
      effect.text = sim::EndText(true, names.DevicePath(field16(2)), static_cast<DWORD>(Integer(Field(record, 0))), &code);
      break;
    }
    case Record::Closed:
      effect.kind = Kind::WindowDestroyed;
      effect.text = "window closed: " + sim::TopLevelLabel(field16(0), field16(1), names.DevicePath(field16(2)));
      break;
    case Record::Box:
      effect.kind = Kind::MessageBox;
      effect.text = sim::BoxText(field16(0), field16(1), static_cast<UINT>(Integer(Field(record, 2))), Field(record, 3) == "1");
      break;
    case Record::Answered:
      effect.kind = Kind::BoxAnswered;
      effect.text = "answered " + sim::AnswerName(static_cast<int>(Integer(Field(record, 0)))) +
                    (Field(record, 1) == "1" ? " (ended by its program)" : "");
      break;
    case Record::Menu: {
      std::vector<sim::MenuItemInfo> items;
      for (std::size_t i = 3; i < record.fields.size(); ++i) {
        // "id|checked|separator|text"
        const std::string& item = record.fields[i];
        const std::size_t a = item.find('|');
        const std::size_t b = item.find('|', a + 1);
        const std::size_t c = item.find('|', b + 1);
        if (c == std::string::npos) continue;
        items.push_back({static_cast<UINT>(Integer(item.substr(0, a))), sim::Utf16(item.substr(c + 1)),
                         item.substr(a + 1, b - a - 1) == "1", item.substr(b + 1, c - b - 1) == "1"});
      }
      effect.kind = Kind::Menu;
      effect.text = sim::MenuText(static_cast<int>(Integer(Field(record, 0))), static_cast<int>(Integer(Field(record, 1))),
                                  static_cast<UINT>(Integer(Field(record, 2))), items);
      break;
    }
    case Record::MenuEnded: effect = {Kind::MenuChoice, std::string(sim::kMenuEndedText), effect.program}; break;
    case Record::HangUp: effect = {Kind::HangUp, sim::HangUpText(field16(0)), effect.program}; break;
    case Record::SoftReset: effect = {Kind::SoftReset, std::string(sim::kSoftResetText), effect.program}; break;
    case Record::Written:
      effect = {Kind::File,
                sim::WrittenText(static_cast<std::size_t>(Integer(Field(record, 0))),
                                 static_cast<std::size_t>(Integer(Field(record, 1))), field16(2)),
                effect.program};
      break;
    case Record::Cut:
      effect = {Kind::File, sim::CutText(static_cast<std::size_t>(Integer(Field(record, 0))), field16(1)), effect.program};
      break;
    case Record::LeftOpen:
      effect = {Kind::HandleLeft, sim::LeftOpenText(image, Field(record, 0), Field(record, 1), Field(record, 2) == "1"),
                effect.program};
      break;
    case Record::Ended: effect = {Kind::ProgramEnd, sim::EndText(false, image, 0, nullptr), effect.program}; break;
  }
  return effect;
}

bool ComparedEffect(const sim::Effect& effect) {
  using Kind = sim::Effect::Kind;
  if (effect.program.empty()) return false;
  switch (effect.kind) {
    case Kind::Registry:
    case Kind::ProcessKilled:
    case Kind::WindowDestroyed:
    case Kind::MessageBox:
    case Kind::BoxAnswered:
    case Kind::Menu:
    case Kind::HangUp:
    case Kind::SoftReset:
    case Kind::HandleLeft:
    case Kind::File:
      return true;
    case Kind::ProgramStart: return effect.text.starts_with("start ");
    case Kind::MenuChoice: return effect.text == sim::kMenuEndedText;
    // A program's own end, not the ends it brings about in others.
    case Kind::ProgramEnd: {
      const std::string prefix = "program ended: \"";
      const std::size_t close = effect.text.find('"', prefix.size());
      if (!effect.text.starts_with(prefix) || close == std::string::npos) return false;
      return BaseName(sim::Utf16(effect.text.substr(prefix.size(), close - prefix.size()))) == effect.program;
    }
    default: return false;
  }
}

std::string ComparedText(const sim::Effect& effect) {
  std::string text = TraceLine(effect);
  const std::size_t at = text.rfind(" (process ");
  if (at == std::string::npos) return text;
  const std::size_t end = text.find_first_of(",)", at + 10);
  if (end != std::string::npos) text.erase(at + 9, end - at - 9);
  return text;
}

}  // namespace qx::qxsim
