// The User-Agent value composed from a profile whose values may be of any
// type and size, or missing, with the browser's key present or not.
// Properties: the value is written only under an existing key, as a string
// of at most 511 characters with exactly one terminator; with the switch
// stored as 1 it is "JavaScript(" + the account ID (whole when it fits,
// otherwise shortened from its end, never inside a surrogate pair) + the
// seven fields the gateway parses + ")"; otherwise exactly "JavaScript".
#include <algorithm>
#include <string>

#include "client/md5.h"
#include "client/profile.h"
#include "platform/sim/sim.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

using namespace qx;

constexpr std::u16string_view kProfileKey = u"Software\\Brennic Inc\\Quorvix\\Quorvix";
constexpr std::size_t kMaxValueChars = 511;

class ProfileApp : public CWinApp {
 public:
  explicit ProfileApp(Platform& platform) : CWinApp(platform, u"Quorvix") { SetRegistryKey(u"Brennic Inc"); }
  BOOL InitInstance() override { return FALSE; }
};

struct Stored {
  bool present = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// One profile value as the input chooses it: missing, a number, a proper
// string, or any type with any bytes.
Stored Choose(fuzz::Input& input) {
  Stored stored;
  switch (input.Byte() % 5) {
    case 0:
      return stored;
    case 1:
      stored.type = REG_DWORD;
      stored.data = sim::DwordBytes(input.Dword());
      break;
    case 2: {
      std::u16string text;
      for (std::size_t units = input.Word() % 1200; units > 0 && !input.Empty(); --units) {
        text.push_back(static_cast<char16_t>(input.Word()));
      }
      stored.type = REG_SZ;
      stored.data = sim::StringBytes(text);
      break;
    }
    case 3:
      stored.type = REG_SZ;
      stored.data = input.Bytes(input.Word() % 2600);
      break;
    default:
      stored.type = input.Byte() % 12;
      stored.data = input.Bytes(input.Word() % 64);
      break;
  }
  stored.present = true;
  return stored;
}

// What a profile number reads as: a four-byte REG_DWORD, else the default.
int Number(const Stored& stored, int fallback) {
  if (!stored.present || stored.type != REG_DWORD || stored.data.size() != 4) return fallback;
  const DWORD value = static_cast<DWORD>(stored.data[0]) | static_cast<DWORD>(stored.data[1]) << 8 |
                      static_cast<DWORD>(stored.data[2]) << 16 | static_cast<DWORD>(stored.data[3]) << 24;
  return static_cast<int>(value);
}

// What a profile string reads as: a string value's text up to its first zero.
std::u16string Text(const Stored& stored) {
  if (!stored.present || (stored.type != REG_SZ && stored.type != REG_EXPAND_SZ)) return {};
  return sim::StringText(stored.data);
}

std::u16string Decimal(int value, std::size_t width = 0) {
  std::string digits = std::to_string(value < 0 ? -static_cast<long long>(value) : value);
  if (digits.size() + (value < 0 ? 1 : 0) < width) digits.insert(0, width - digits.size() - (value < 0 ? 1 : 0), '0');
  if (value < 0) digits.insert(0, 1, '-');
  return sim::Utf16(digits);
}

bool IsHigh(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLow(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(std::span<const std::uint8_t>(data, size));
  sim::SimDevice device;
  const bool browserKey = (input.Byte() & 1) == 0;
  if (browserKey) device.registry().CreateKey(HKEY_LOCAL_MACHINE, kUserAgentKey);
  // In the order of the table: the switch, the ID, the password, the options.
  const std::u16string_view names[] = {u"USEQUORVIX", u"ID",      u"PWD",        u"DOC",
                                       u"USEIMG",     u"USENAVI", u"IMGBOOSTER", u"IMGLEVEL"};
  Stored stored[std::size(names)];
  for (std::size_t i = 0; i < std::size(names); ++i) {
    stored[i] = Choose(input);
    if (stored[i].present) {
      device.registry().SetValue(HKEY_CURRENT_USER, kProfileKey, names[i], stored[i].type, stored[i].data);
    }
  }
  ProfileApp app(device.platform());
  UpdateUserAgent(app, kUserAgentKey);
  QX_FUZZ_CHECK(device.OpenHandles() == 0);

  const auto written = device.registry().GetValue(HKEY_LOCAL_MACHINE, kUserAgentKey, u"UA-Language");
  QX_FUZZ_CHECK(written.has_value() == browserKey);
  QX_FUZZ_CHECK(!device.registry().KeyExists(HKEY_LOCAL_MACHINE, kUserAgentKey) || browserKey);
  if (!written) return 0;
  QX_FUZZ_CHECK(written->type == REG_SZ);
  const std::u16string value = sim::StringText(written->data);
  QX_FUZZ_CHECK(written->data == sim::StringBytes(value));  // exactly one terminator
  QX_FUZZ_CHECK(value.size() <= kMaxValueChars);
  if (Number(stored[0], 0) != 1) {
    QX_FUZZ_CHECK(value == u"JavaScript");
    return 0;
  }
  const int useImage = Number(stored[4], 1);
  const int level = Number(stored[7], 2);
  const std::u16string code = useImage == 0 ? u"00" : level == 0 ? u"10" : level == 1 ? u"20" : u"90";
  const std::u16string tail = u";1;" + Decimal(Number(stored[3], 1)) + u";" + Decimal(Number(stored[6], 0)) +
                              u";" + code + u";" + Decimal(Number(stored[5], 1)) + u";0)";
  const std::u16string head = u"JavaScript(";
  // ID ; 32 digits tail
  QX_FUZZ_CHECK(value.starts_with(head) && value.ends_with(tail));
  QX_FUZZ_CHECK(value.size() >= head.size() + 1 + 32 + tail.size());
  const std::u16string digest = value.substr(value.size() - tail.size() - 32, 32);
  for (char16_t unit : digest) QX_FUZZ_CHECK((unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'f'));
  QX_FUZZ_CHECK(value[value.size() - tail.size() - 33] == u';');
  const std::u16string id = value.substr(head.size(), value.size() - head.size() - tail.size() - 33);
  const std::u16string storedId = Text(stored[1]);
  QX_FUZZ_CHECK(storedId.starts_with(id));
  const std::size_t room = kMaxValueChars - (value.size() - id.size());
  // Whole when it fits; otherwise cut to the room left, one unit shorter
  // only where the cut would part a surrogate pair.
  const bool whole = id.size() == storedId.size() && storedId.size() <= room;
  const bool pairAtCut = storedId.size() > room && room > 0 && IsHigh(storedId[room - 1]) && IsLow(storedId[room]);
  const bool cut = storedId.size() > room && id.size() == (pairAtCut ? room - 1 : room);
  QX_FUZZ_CHECK(whole || cut);
  // A plain ASCII password is digested over its own bytes.
  const std::u16string password = Text(stored[2]);
  std::vector<std::uint8_t> plain;
  for (std::size_t i = 0; i < password.size(); ++i) plain.push_back(static_cast<std::uint8_t>(password[i] ^ (i % 10)));
  if (std::all_of(password.begin(), password.end(), [](char16_t unit) { return unit < 0x80; }) &&
      std::find(plain.begin(), plain.end(), 0) == plain.end()) {
    QX_FUZZ_CHECK(digest == sim::Utf16(Md5Hex(plain)));
  }
  return 0;
}
