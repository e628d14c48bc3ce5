// The message digest the gateway uses to carry the password: the server
// compares digests, so the device never sends the password itself.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace qx {

// The 16-byte MD5 digest of the bytes.
std::array<std::uint8_t, 16> Md5(std::span<const std::uint8_t> bytes);

// The same digest as 32 lower-case hexadecimal digits.
std::string Md5Hex(std::span<const std::uint8_t> bytes);

}  // namespace qx
