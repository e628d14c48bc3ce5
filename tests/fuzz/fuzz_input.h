// What every fuzz target shares: the entry point libFuzzer calls, a reader
// that turns the input's bytes into choices, and the check that stops a run
// when a property does not hold (libFuzzer then keeps the input as a crash;
// the corpus replay under ctest fails).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace qx::fuzz {

[[noreturn]] inline void Violated(const char* property, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, property);
  std::abort();
}

}  // namespace qx::fuzz

#define QX_FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::qx::fuzz::Violated(#condition, __FILE__, __LINE__))

namespace qx::fuzz {

// Hands out the input's bytes as choices, front to back; an exhausted input
// answers zeros, so every input decodes to something.
class Input {
 public:
  explicit Input(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  [[nodiscard]] bool Empty() const { return bytes_.empty(); }

  std::uint8_t Byte() {
    if (bytes_.empty()) return 0;
    const std::uint8_t byte = bytes_.front();
    bytes_ = bytes_.subspan(1);
    return byte;
  }
  std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | (Byte() << 8)); }
  std::uint32_t Dword() { return static_cast<std::uint32_t>(Word() | (static_cast<std::uint32_t>(Word()) << 16)); }

  // Up to `count` bytes (fewer when the input ends).
  std::vector<std::uint8_t> Bytes(std::size_t count) {
    const std::size_t taken = count < bytes_.size() ? count : bytes_.size();
    std::vector<std::uint8_t> out(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(taken));
    bytes_ = bytes_.subspan(taken);
    return out;
  }
  // A length byte, then that many UTF-16 code units: any units at all,
  // zeros and lone surrogates included.
  std::u16string Text() {
    const std::size_t units = Byte();
    std::u16string text;
    for (std::size_t i = 0; i < units && !bytes_.empty(); ++i) text.push_back(static_cast<char16_t>(Word()));
    return text;
  }
  // Whatever is left, as UTF-16 code units (an odd last byte is dropped).
  std::u16string RestAsText() {
    std::u16string text;
    while (bytes_.size() >= 2) text.push_back(static_cast<char16_t>(Word()));
    bytes_ = {};
    return text;
  }
  std::vector<std::uint8_t> Rest() { return Bytes(bytes_.size()); }

 private:
  std::span<const std::uint8_t> bytes_;
};

}  // namespace qx::fuzz
