// UTF-8 <-> UTF-16 for the simulated device. The device speaks UTF-16; files,
// transcripts and test output are UTF-8. Neither direction ever fails: what
// cannot be carried over becomes U+FFFD, so bad input still gives text.
#pragma once

#include <string>
#include <string_view>

namespace qx::sim {

// An unpaired surrogate becomes U+FFFD.
std::string Utf8(std::u16string_view text);
// Each ill-formed sequence (stray continuation byte, truncated sequence,
// overlong form, encoded surrogate, value past U+10FFFF) becomes one U+FFFD.
std::u16string Utf16(std::string_view text);

}  // namespace qx::sim
