// What the server sends the page: the story and the device's screen as
// JSON, and the registry view as text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tools/qxsim/serve/session.h"

namespace qx::qxsim {

// Well-formed UTF-8: no stray or missing continuation bytes, overlong
// forms, surrogates or values past U+10FFFF.
bool ValidUtf8(std::string_view text);

// A JSON string; each ill-formed UTF-8 sequence becomes U+FFFD.
std::string JsonString(std::string_view text);

// The whole story: its name, every kept line with what it showed, the
// current step, and the screen.
std::string StoryJson(Session& session);
// After a step: the line it kept and the screen.
std::string StepJson(Session& session);
// After a rewind: where the story is, and the screen.
std::string PlaceJson(Session& session);

// A key and everything below it as people read it: each key's path, then
// its values as a step's registry changes show them ("text" (260 bytes,
// zero-padded)). The whole registry for an empty path; nullopt when there
// is no such key (`why` says so).
std::optional<std::string> RegistryView(const sim::SimRegistry& registry, std::string_view keyPath, std::string* why);

}  // namespace qx::qxsim
