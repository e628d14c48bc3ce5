#include "client/password.h"

#include <algorithm>
#include <cstdint>
#include <span>

#include "client/md5.h"

namespace qx {

std::u16string ScramblePassword(std::u16string_view text) {
  std::u16string scrambled(text);
  for (std::size_t i = 0; i < scrambled.size(); ++i) {
    scrambled[i] = static_cast<char16_t>(scrambled[i] ^ static_cast<char16_t>(i % 10));
  }
  return scrambled;
}

std::u16string PasswordDigest(ICodePage& codePage, std::u16string_view plain) {
  std::string bytes = codePage.WideCharToMultiByte(CP_KOREAN, plain);
  // The digest has always been taken over a terminated string.
  bytes.resize(std::min(bytes.size(), bytes.find('\0')));
  const std::string hex =
      Md5Hex(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  return codePage.MultiByteToWideChar(CP_KOREAN, hex);
}

}  // namespace qx
