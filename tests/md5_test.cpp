#include "client/md5.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string_view>
#include <vector>

namespace {

std::span<const std::uint8_t> BytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

struct Known {
  std::string_view input;
  std::string_view hex;
};

TEST(Md5, ReferenceSuite) {
  const Known cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Known& c : cases) EXPECT_EQ(qx::Md5Hex(BytesOf(c.input)), c.hex) << '"' << c.input << '"';
}

// Byte i is (37 i + 11) mod 256: every byte value turns up, the high ones
// included, so a sign slip when assembling words would show.
std::vector<std::uint8_t> Pattern(std::size_t length) {
  std::vector<std::uint8_t> bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>((i * 37 + 11) % 256);
  return bytes;
}

// Lengths either side of the points where the padding needs a second block
// (56 mod 64) and where whole blocks end.
TEST(Md5, PaddingBoundaries) {
  const struct {
    std::size_t length;
    std::string_view hex;
  } cases[] = {
      {1, "13c8ffd977013703a701cf8e11deac65"},   {54, "5e5534f470ef1d65657807ed96610693"},
      {55, "d872aa0473a24da995ce4ac518ade767"},  {56, "e23567645846677c205de80f9779081b"},
      {57, "1fe5e4a27e12484d7203d0b60c21c51f"},  {63, "4775b66278a8fc132ff80923378216cd"},
      {64, "71e123b70c7aa64826fcfe472694cd1c"},  {65, "5949948f26e35203661075214faa3966"},
      {119, "87f72c7241c5fe218bb4df8c0aba3232"}, {120, "bf240b8b7407fba3805adeec63a03b77"},
      {127, "520bdc2dbab7c25d64263ffb242d9e98"}, {128, "3e93b378458b77da96b2357c3bda8cc2"},
      {129, "d1ae06bbf9128955a34bedb6231eee62"}, {1000, "c3cb8ae118768782aa1896d7fb2827ef"},
  };
  for (const auto& c : cases) EXPECT_EQ(qx::Md5Hex(Pattern(c.length)), c.hex) << "length " << c.length;
}

TEST(Md5, HexSpellsTheRawDigest) {
  const std::array<std::uint8_t, 16> raw = qx::Md5(BytesOf("abc"));
  const std::array<std::uint8_t, 16> expected = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                                 0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
  EXPECT_EQ(raw, expected);
}

}  // namespace
