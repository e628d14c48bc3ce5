#include "tools/qxsim/serve/wire.h"

#include <cstdio>

#include "platform/sim/reg_format.h"
#include "platform/sim/text.h"
#include "tools/qxsim/screen.h"
#include "tools/qxsim/serve/taps.h"

namespace qx::qxsim {

namespace {

const char* KindName(RegistryLine::Kind kind) {
  switch (kind) {
    case RegistryLine::Kind::Added: return "add";
    case RegistryLine::Kind::Changed: return "change";
    case RegistryLine::Kind::Removed: return "remove";
    default: return "key";
  }
}

std::string Rect(const RECT& r) {
  return "\"x\":" + std::to_string(r.left) + ",\"y\":" + std::to_string(r.top) + ",\"w\":" +
         std::to_string(r.right - r.left) + ",\"h\":" + std::to_string(r.bottom - r.top);
}

template <typename T, typename F>
std::string List(const std::vector<T>& items, F each) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) out += (i == 0 ? "" : ",") + each(items[i]);
  return out + "]";
}

std::string StepRecordJson(const StepRecord& step) {
  return "{\"time\":" + JsonString(Seconds(step.time)) + ",\"command\":" + JsonString(step.command) +
         ",\"output\":" + JsonString(step.output) + ",\"effects\":" +
         List(step.effects,
              [&](const sim::Effect& e) { return JsonString(step.traced ? TraceLine(e) : e.text); }) +
         ",\"registry\":" + List(step.registry, [](const RegistryLine& line) {
           return "{\"kind\":\"" + std::string(KindName(line.kind)) + "\",\"value\":" + (line.value ? "true" : "false") +
                  ",\"text\":" + JsonString(line.text) + "}";
         }) +
         "}";
}

std::string LineJson(const SessionLine& line, std::size_t number) {
  return "{\"number\":" + std::to_string(number) + ",\"text\":" + JsonString(line.text) +
         ",\"transcript\":" + JsonString(line.transcript) +
         ",\"notes\":" + List(line.notes, [](const std::string& note) { return JsonString(note); }) +
         ",\"steps\":" + List(line.steps, StepRecordJson) + "}";
}

std::string RegionJson(const TapRegion& region) {
  static constexpr const char* kKinds[] = {"step", "field", "list", "window"};
  std::string out = "{\"kind\":\"" + std::string(kKinds[static_cast<int>(region.kind)]) + "\"," + Rect(region.rect);
  if (!region.step.empty()) out += ",\"step\":" + JsonString(region.step);
  if (region.kind == TapRegion::Kind::Field) {
    out += ",\"text\":" + JsonString(region.text) + ",\"password\":" + (region.password ? "true" : "false");
  }
  if (region.kind == TapRegion::Kind::List) {
    out += ",\"items\":" + List(region.items, [](const std::string& item) { return JsonString(item); }) +
           ",\"selection\":" + std::to_string(region.selection);
  }
  return out + "}";
}

// Where the story is, and the screen with what a tap does where.
std::string Place(Session& session) {
  ScreenPlaces places;
  const std::string screen = DrawScreen(session.kernel(), &places);
  return "\"name\":" + JsonString(session.Name()) + ",\"position\":" + std::to_string(session.position()) +
         ",\"count\":" + std::to_string(session.lines().size()) +
         ",\"stopped\":" + (session.Stopped() ? "true" : "false") + ",\"screen\":" + JsonString(screen) +
         ",\"regions\":" + List(TapRegions(session.kernel(), session.runner().TrayWindow(), places), RegionJson);
}

void AddKey(std::string& out, const std::string& path, const sim::RegistryImage::Key& key) {
  out += "[" + path + "]\n";
  for (const sim::RegValue& value : key.values) {
    out += sim::RegValueNameText(value.name) + " = " + sim::RegValueReadableText(value.type, value.data) + "\n";
  }
  for (const sim::RegistryImage::Key& sub : key.subKeys) AddKey(out, path + "\\" + sim::Utf8(sub.name), sub);
}

}  // namespace

bool ValidUtf8(std::string_view text) {
  // The device's own conversion marks every ill-formed sequence with
  // U+FFFD: well-formed text is what comes back unchanged.
  return sim::Utf8(sim::Utf16(text)) == text;
}

std::string JsonString(std::string_view text) {
  const std::string clean = sim::Utf8(sim::Utf16(text));
  std::string out = "\"";
  for (char c : clean) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string StoryJson(Session& session) {
  std::string lines = "[";
  for (std::size_t i = 0; i < session.lines().size(); ++i) {
    lines += (i == 0 ? "" : ",") + LineJson(session.lines()[i], i + 1);
  }
  return "{" + Place(session) + ",\"lines\":" + lines + "]}";
}

std::string StepJson(Session& session) {
  const std::size_t number = session.position();
  return "{" + Place(session) + ",\"line\":" + LineJson(session.lines()[number - 1], number) + "}";
}

std::string PlaceJson(Session& session) { return "{" + Place(session) + "}"; }

std::optional<std::string> RegistryView(const sim::SimRegistry& registry, std::string_view keyPath,
                                        std::string* why) {
  const sim::RegistryImage image = registry.Image();
  std::string out;
  if (keyPath.empty()) {
    for (const sim::RegistryImage::Key& root : image.roots) AddKey(out, sim::Utf8(root.name), root);
    return out;
  }
  const std::u16string path = sim::Utf16(keyPath);
  const std::size_t slash = path.find(u'\\');
  const auto root = sim::RootFromName(path.substr(0, slash));
  const std::u16string rest = slash == std::u16string::npos ? std::u16string() : path.substr(slash + 1);
  const auto parts = sim::SplitKeyPath(rest);
  const sim::RegistryImage::Key* key = root && parts ? image.Find(*root, u"") : nullptr;
  // Named as the registry spells it, whatever case the request used.
  std::string spelled = root ? sim::Utf8(sim::RootName(*root)) : std::string();
  for (std::size_t i = 0; key != nullptr && parts && i < parts->size(); ++i) {
    key = key->Find((*parts)[i]);
    if (key != nullptr) spelled += "\\" + sim::Utf8(key->name);
  }
  if (key == nullptr) {
    *why = "there is no key \"" + std::string(keyPath) + "\"";
    return std::nullopt;
  }
  AddKey(out, spelled, *key);
  return out;
}

}  // namespace qx::qxsim
