// MD5 over a whole message held in memory: the inputs here are passwords, so
// there is no need for an incremental interface.
//
// The 64 steps are written out with their constants folded in, whole blocks
// are read straight from the message, and each round's function is in the
// form that leaves the fewest operations on the chain from one step to the
// next (the only thing that limits the speed of this algorithm).
#include "client/md5.h"

#include <bit>
#include <cstddef>
#include <cstring>

namespace qx {

namespace {

struct State {
  std::uint32_t a, b, c, d;
};

// The 16 little-endian words of a block.
struct Words {
  std::uint32_t x[16];
};

Words LoadWords(const std::uint8_t* block) {
  Words w;
  std::memcpy(w.x, block, sizeof w.x);
  if constexpr (std::endian::native == std::endian::big) {
    for (std::uint32_t& word : w.x) {
      word = (word >> 24) | ((word >> 8) & 0xFF00) | ((word << 8) & 0xFF0000) | (word << 24);
    }
  }
  return w;
}

constexpr std::uint32_t Rotl(std::uint32_t value, int count) {
  return (value << count) | (value >> (32 - count));
}

// F(b, c, d) = (b & c) | (~b & d): select c or d by b; c ^ d is ready
// before b is.
inline void F(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x, std::uint32_t k,
              int s) {
  a += x + k + (d ^ (b & (c ^ d)));
  a = Rotl(a, s) + b;
}

// G(b, c, d) = (b & d) | (c & ~d): the two halves never share a bit, so they
// can be added one after the other, and the half without b goes in first.
inline void G(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x, std::uint32_t k,
              int s) {
  a += x + k + (c & ~d);
  a += b & d;
  a = Rotl(a, s) + b;
}

inline void H(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x, std::uint32_t k,
              int s) {
  a += x + k + (b ^ (c ^ d));
  a = Rotl(a, s) + b;
}

// I(b, c, d) = c ^ (b | ~d).
inline void I(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x, std::uint32_t k,
              int s) {
  a += x + k + (c ^ (b | ~d));
  a = Rotl(a, s) + b;
}

// The constants are floor(abs(sin(i + 1)) * 2^32), written out so that the
// digest does not depend on the floating-point library.
void Transform(State& state, const std::uint8_t* block) {
  const Words w = LoadWords(block);
  const std::uint32_t* x = w.x;
  std::uint32_t a = state.a;
  std::uint32_t b = state.b;
  std::uint32_t c = state.c;
  std::uint32_t d = state.d;

  F(a, b, c, d, x[0], 0xd76aa478, 7);
  F(d, a, b, c, x[1], 0xe8c7b756, 12);
  F(c, d, a, b, x[2], 0x242070db, 17);
  F(b, c, d, a, x[3], 0xc1bdceee, 22);
  F(a, b, c, d, x[4], 0xf57c0faf, 7);
  F(d, a, b, c, x[5], 0x4787c62a, 12);
  F(c, d, a, b, x[6], 0xa8304613, 17);
  F(b, c, d, a, x[7], 0xfd469501, 22);
  F(a, b, c, d, x[8], 0x698098d8, 7);
  F(d, a, b, c, x[9], 0x8b44f7af, 12);
  F(c, d, a, b, x[10], 0xffff5bb1, 17);
  F(b, c, d, a, x[11], 0x895cd7be, 22);
  F(a, b, c, d, x[12], 0x6b901122, 7);
  F(d, a, b, c, x[13], 0xfd987193, 12);
  F(c, d, a, b, x[14], 0xa679438e, 17);
  F(b, c, d, a, x[15], 0x49b40821, 22);

  G(a, b, c, d, x[1], 0xf61e2562, 5);
  G(d, a, b, c, x[6], 0xc040b340, 9);
  G(c, d, a, b, x[11], 0x265e5a51, 14);
  G(b, c, d, a, x[0], 0xe9b6c7aa, 20);
  G(a, b, c, d, x[5], 0xd62f105d, 5);
  G(d, a, b, c, x[10], 0x02441453, 9);
  G(c, d, a, b, x[15], 0xd8a1e681, 14);
  G(b, c, d, a, x[4], 0xe7d3fbc8, 20);
  G(a, b, c, d, x[9], 0x21e1cde6, 5);
  G(d, a, b, c, x[14], 0xc33707d6, 9);
  G(c, d, a, b, x[3], 0xf4d50d87, 14);
  G(b, c, d, a, x[8], 0x455a14ed, 20);
  G(a, b, c, d, x[13], 0xa9e3e905, 5);
  G(d, a, b, c, x[2], 0xfcefa3f8, 9);
  G(c, d, a, b, x[7], 0x676f02d9, 14);
  G(b, c, d, a, x[12], 0x8d2a4c8a, 20);

  H(a, b, c, d, x[5], 0xfffa3942, 4);
  H(d, a, b, c, x[8], 0x8771f681, 11);
  H(c, d, a, b, x[11], 0x6d9d6122, 16);
  H(b, c, d, a, x[14], 0xfde5380c, 23);
  H(a, b, c, d, x[1], 0xa4beea44, 4);
  H(d, a, b, c, x[4], 0x4bdecfa9, 11);
  H(c, d, a, b, x[7], 0xf6bb4b60, 16);
  H(b, c, d, a, x[10], 0xbebfbc70, 23);
  H(a, b, c, d, x[13], 0x289b7ec6, 4);
  H(d, a, b, c, x[0], 0xeaa127fa, 11);
  H(c, d, a, b, x[3], 0xd4ef3085, 16);
  H(b, c, d, a, x[6], 0x04881d05, 23);
  H(a, b, c, d, x[9], 0xd9d4d039, 4);
  H(d, a, b, c, x[12], 0xe6db99e5, 11);
  H(c, d, a, b, x[15], 0x1fa27cf8, 16);
  H(b, c, d, a, x[2], 0xc4ac5665, 23);

  I(a, b, c, d, x[0], 0xf4292244, 6);
  I(d, a, b, c, x[7], 0x432aff97, 10);
  I(c, d, a, b, x[14], 0xab9423a7, 15);
  I(b, c, d, a, x[5], 0xfc93a039, 21);
  I(a, b, c, d, x[12], 0x655b59c3, 6);
  I(d, a, b, c, x[3], 0x8f0ccc92, 10);
  I(c, d, a, b, x[10], 0xffeff47d, 15);
  I(b, c, d, a, x[1], 0x85845dd1, 21);
  I(a, b, c, d, x[8], 0x6fa87e4f, 6);
  I(d, a, b, c, x[15], 0xfe2ce6e0, 10);
  I(c, d, a, b, x[6], 0xa3014314, 15);
  I(b, c, d, a, x[13], 0x4e0811a1, 21);
  I(a, b, c, d, x[4], 0xf7537e82, 6);
  I(d, a, b, c, x[11], 0xbd3af235, 10);
  I(c, d, a, b, x[2], 0x2ad7d2bb, 15);
  I(b, c, d, a, x[9], 0xeb86d391, 21);

  state.a += a;
  state.b += b;
  state.c += c;
  state.d += d;
}

}  // namespace

std::array<std::uint8_t, 16> Md5(std::span<const std::uint8_t> bytes) {
  State state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

  const std::size_t whole = bytes.size() / 64 * 64;
  for (std::size_t offset = 0; offset < whole; offset += 64) Transform(state, bytes.data() + offset);

  // The tail, the 0x80 marker, zero padding to 56 mod 64 and the bit length:
  // one block when the tail leaves room for the nine bytes, two otherwise.
  std::uint8_t tail[128];
  const std::size_t rest = bytes.size() - whole;
  const std::size_t tailSize = rest < 56 ? 64 : 128;
  if (rest != 0) std::memcpy(tail, bytes.data() + whole, rest);
  tail[rest] = 0x80;
  std::memset(tail + rest + 1, 0, tailSize - 8 - rest - 1);
  const std::uint64_t bits = static_cast<std::uint64_t>(bytes.size()) * 8;
  for (std::size_t i = 0; i < 8; ++i) tail[tailSize - 8 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
  Transform(state, tail);
  if (tailSize == 128) Transform(state, tail + 64);

  std::array<std::uint8_t, 16> digest{};
  const std::uint32_t words[4] = {state.a, state.b, state.c, state.d};
  for (std::size_t i = 0; i < 16; ++i) digest[i] = static_cast<std::uint8_t>(words[i / 4] >> (8 * (i % 4)));
  return digest;
}

std::string Md5Hex(std::span<const std::uint8_t> bytes) {
  constexpr char kDigits[] = "0123456789abcdef";
  const std::array<std::uint8_t, 16> digest = Md5(bytes);
  std::string hex(32, '\0');
  for (std::size_t i = 0; i < 16; ++i) {
    hex[2 * i] = kDigits[digest[i] >> 4];
    hex[2 * i + 1] = kDigits[digest[i] & 0x0F];
  }
  return hex;
}

}  // namespace qx
