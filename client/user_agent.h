// What the browser tells the gateway about this device: the gateway token
// carried in the "UA-Language" user-agent value.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace qx {

// The settings the token is made of, as the client keeps them.
struct GatewayOptions {
  std::u16string id;
  std::u16string scrambledPassword;  // ScramblePassword form, as stored
  int doc = 1;
  int useImage = 1;
  int useNavi = 1;
  int imageBooster = 0;
  int imageLevel = 2;  // 0 low, 1 medium, anything else high
  int useGateway = 0;
};

// The browser's user-agent settings; the key belongs to the browser, so it is
// only ever opened, never created.
inline constexpr std::u16string_view kUserAgentKey =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\User Agent";
inline constexpr std::u16string_view kUaLanguageName = u"UA-Language";

// The browser has always composed this value in 512-character buffers, so the
// value never grows past 511 characters. A longer value is brought within
// that bound by shortening the ID (the token's first field) from its end, and
// only the ID: the seven fields after it and the closing parenthesis are what
// the gateway parses, so they always arrive whole.
inline constexpr std::size_t kMaxUaValueChars = 511;

// The image-quality code the gateway expects: 0 without images, otherwise 10
// (low), 20 (medium) or 90 (high, also for any level it does not know).
int ImageLevelCode(int useImage, int imageLevel);

// "id;digest;1;doc;imageBooster;level;useNavi;0": the ID as stored (up to a
// zero unit, if any), the digest of the unscrambled password, the level as
// two digits at least. The ID is already shortened here as far as
// kMaxUaValueChars requires.
std::u16string BuildGatewayToken(ICodePage& codePage, const GatewayOptions& options);

// "JavaScript(token)" with the gateway on, "JavaScript" with it off; never
// longer than kMaxUaValueChars.
std::u16string UaLanguageValue(bool gatewayOn, std::u16string_view token);

// Writes UaLanguageValue to the browser's settings when its key exists;
// otherwise leaves the registry alone.
void SetUaLanguage(IRegistry& registry, bool gatewayOn, std::u16string_view token);
// The same under another edition's User Agent key.
void SetUaLanguage(IRegistry& registry, std::u16string_view userAgentKey, bool gatewayOn, std::u16string_view token);

}  // namespace qx
