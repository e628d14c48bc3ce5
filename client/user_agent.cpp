#include "client/user_agent.h"

#include <algorithm>
#include <charconv>

#include "client/password.h"

namespace qx {

namespace {

constexpr std::u16string_view kScriptOff = u"JavaScript";
constexpr std::u16string_view kScriptOpen = u"JavaScript(";
constexpr std::u16string_view kScriptClose = u")";
// The longest token that still fits the value with its wrapping.
constexpr std::size_t kMaxTokenChars = kMaxUaValueChars - kScriptOpen.size() - kScriptClose.size();
// The fields after the ID; none of them can contain a ';'.
constexpr std::size_t kFieldsAfterId = 7;

// Signed decimal with zero padding after the sign up to minWidth characters
// in all, as "%0<minWidth>d" prints it.
void AppendDecimal(std::u16string& out, int value, std::size_t minWidth = 0) {
  char digits[16];
  const long long wide = value;
  const auto result = std::to_chars(digits, digits + sizeof digits, wide < 0 ? -wide : wide);
  const std::size_t count = static_cast<std::size_t>(result.ptr - digits);
  const std::size_t sign = value < 0 ? 1 : 0;
  if (sign != 0) out.push_back(u'-');
  for (std::size_t width = sign + count; width < minWidth; ++width) out.push_back(u'0');
  for (std::size_t i = 0; i < count; ++i) out.push_back(static_cast<char16_t>(digits[i]));
}

// The first `length` units of text, one fewer when the cut would leave half
// of a surrogate pair.
std::u16string_view CutAt(std::u16string_view text, std::size_t length) {
  if (length >= text.size()) return text;
  if (length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF && text[length] >= 0xDC00 &&
      text[length] <= 0xDFFF) {
    --length;
  }
  return text.substr(0, length);
}

// The token brought within kMaxTokenChars by shortening its ID. The ID may
// itself hold ';', so it is found from the other end: everything before the
// last seven fields.
std::u16string FitToken(std::u16string_view token) {
  if (token.size() <= kMaxTokenChars) return std::u16string(token);
  std::size_t idEnd = token.size();
  for (std::size_t seen = 0; seen < kFieldsAfterId && idEnd != std::u16string_view::npos; ++seen) {
    idEnd = idEnd == 0 ? std::u16string_view::npos : token.rfind(u';', idEnd - 1);
  }
  const std::size_t rest = idEnd == std::u16string_view::npos ? 0 : token.size() - idEnd;
  if (rest > kMaxTokenChars) {
    // Not one of ours: nothing can be kept whole, so keep the bound.
    return std::u16string(CutAt(token, kMaxTokenChars));
  }
  const std::u16string_view id = token.substr(0, token.size() - rest);
  std::u16string fitted(CutAt(id, kMaxTokenChars - rest));
  fitted.append(token.substr(token.size() - rest));
  return fitted;
}

}  // namespace

int ImageLevelCode(int useImage, int imageLevel) {
  if (useImage == 0) return 0;
  switch (imageLevel) {
    case 0:
      return 10;
    case 1:
      return 20;
    default:
      return 90;
  }
}

std::u16string BuildGatewayToken(ICodePage& codePage, const GatewayOptions& options) {
  // The ID goes in as it is stored, ';' and ')' included; like any string
  // composed from it, it ends at a zero unit.
  const std::u16string_view storedId = options.id;
  const std::u16string_view id = storedId.substr(0, std::min(storedId.size(), storedId.find(u'\0')));
  const std::u16string digest = PasswordDigest(codePage, ScramblePassword(options.scrambledPassword));

  std::u16string token(id);
  token.push_back(u';');
  token += digest;
  token += u";1;";
  AppendDecimal(token, options.doc);
  token.push_back(u';');
  AppendDecimal(token, options.imageBooster);
  token.push_back(u';');
  AppendDecimal(token, ImageLevelCode(options.useImage, options.imageLevel), 2);
  token.push_back(u';');
  AppendDecimal(token, options.useNavi);
  token += u";0";
  return FitToken(token);
}

std::u16string UaLanguageValue(bool gatewayOn, std::u16string_view token) {
  if (!gatewayOn) return std::u16string(kScriptOff);
  std::u16string value(kScriptOpen);
  value += FitToken(token);
  value += kScriptClose;
  return value;
}

void SetUaLanguage(IRegistry& registry, bool gatewayOn, std::u16string_view token) {
  SetUaLanguage(registry, kUserAgentKey, gatewayOn, token);
}

void SetUaLanguage(IRegistry& registry, std::u16string_view userAgentKey, bool gatewayOn,
                   std::u16string_view token) {
  RegKey key(registry);
  if (key.Open(HKEY_LOCAL_MACHINE, userAgentKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) return;
  key.WriteString(kUaLanguageName, UaLanguageValue(gatewayOn, token));
  key.Close();
}

}  // namespace qx
