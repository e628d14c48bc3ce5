// The digest against OpenSSL's MD5 over random messages of every length up
// to 4 KiB, each read from every offset of a word: lengths cover every
// padding case, and the offsets unaligned reads.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <random>
#include <vector>

#include "client/md5.h"

namespace {

std::array<std::uint8_t, 16> OpenSslMd5(std::span<const std::uint8_t> bytes) {
  std::array<std::uint8_t, 16> digest{};
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_md5(), nullptr);
  return digest;
}

TEST(Md5AgainstOpenSsl, EveryLengthUpTo4KiBAtEveryAlignment) {
  constexpr std::size_t kLongest = 4096;
  std::mt19937 random(1321);
  std::vector<std::uint8_t> buffer(kLongest + 4);
  for (auto& byte : buffer) byte = static_cast<std::uint8_t>(random());
  int mismatches = 0;
  for (std::size_t length = 0; length <= kLongest; ++length) {
    for (std::size_t offset = 0; offset < 4; ++offset) {
      const std::span<const std::uint8_t> message(buffer.data() + offset, length);
      if (qx::Md5(message) != OpenSslMd5(message) && ++mismatches <= 5) {
        ADD_FAILURE() << "length " << length << " at offset " << offset;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
