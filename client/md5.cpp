// MD5 over a whole message held in memory: the inputs here are passwords, so
// there is no need for an incremental interface.
#include "client/md5.h"

#include <cstddef>

namespace qx {

namespace {

// Per-step left rotations, four per round.
constexpr std::array<std::uint32_t, 16> kShift = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};

// floor(abs(sin(i + 1)) * 2^32), written out so that the digest does not
// depend on the floating-point library.
constexpr std::array<std::uint32_t, 64> kSine = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

constexpr std::uint32_t RotateLeft(std::uint32_t value, std::uint32_t count) {
  return (value << count) | (value >> (32 - count));
}

using State = std::array<std::uint32_t, 4>;

void Transform(State& state, const std::uint8_t* block) {
  std::array<std::uint32_t, 16> words{};
  for (std::size_t i = 0; i < 16; ++i) {
    words[i] = static_cast<std::uint32_t>(block[i * 4]) | (static_cast<std::uint32_t>(block[i * 4 + 1]) << 8) |
               (static_cast<std::uint32_t>(block[i * 4 + 2]) << 16) |
               (static_cast<std::uint32_t>(block[i * 4 + 3]) << 24);
  }
  std::uint32_t a = state[0];
  std::uint32_t b = state[1];
  std::uint32_t c = state[2];
  std::uint32_t d = state[3];
  for (std::uint32_t i = 0; i < 64; ++i) {
    std::uint32_t mix = 0;
    std::uint32_t word = 0;
    switch (i / 16) {
      case 0:
        mix = (b & c) | (~b & d);
        word = i;
        break;
      case 1:
        mix = (d & b) | (~d & c);
        word = (5 * i + 1) % 16;
        break;
      case 2:
        mix = b ^ c ^ d;
        word = (3 * i + 5) % 16;
        break;
      default:
        mix = c ^ (b | ~d);
        word = (7 * i) % 16;
        break;
    }
    const std::uint32_t rotated = RotateLeft(a + mix + kSine[i] + words[word], kShift[(i / 16) * 4 + i % 4]);
    a = d;
    d = c;
    c = b;
    b = b + rotated;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

std::array<std::uint8_t, 16> Md5(std::span<const std::uint8_t> bytes) {
  State state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

  std::size_t offset = 0;
  for (; bytes.size() - offset >= 64; offset += 64) Transform(state, bytes.data() + offset);

  // The tail, the 0x80 marker, zero padding to 56 mod 64 and the bit length:
  // one block when the tail leaves room for the nine bytes, two otherwise.
  std::array<std::uint8_t, 128> tail{};
  const std::size_t rest = bytes.size() - offset;
  for (std::size_t i = 0; i < rest; ++i) tail[i] = bytes[offset + i];
  tail[rest] = 0x80;
  const std::size_t tailSize = rest < 56 ? 64 : 128;
  const std::uint64_t bits = static_cast<std::uint64_t>(bytes.size()) * 8;
  for (std::size_t i = 0; i < 8; ++i) tail[tailSize - 8 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
  for (std::size_t block = 0; block < tailSize; block += 64) Transform(state, tail.data() + block);

  std::array<std::uint8_t, 16> digest{};
  for (std::size_t i = 0; i < 16; ++i) digest[i] = static_cast<std::uint8_t>(state[i / 4] >> (8 * (i % 4)));
  return digest;
}

std::string Md5Hex(std::span<const std::uint8_t> bytes) {
  constexpr char kDigits[] = "0123456789abcdef";
  const std::array<std::uint8_t, 16> digest = Md5(bytes);
  std::string hex;
  hex.reserve(32);
  for (const std::uint8_t byte : digest) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0x0F]);
  }
  return hex;
}

}  // namespace qx
