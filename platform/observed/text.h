// UTF-8 <-> UTF-16. The programs speak UTF-16; files, transcripts, traces
// and test output are UTF-8. Neither direction ever fails: what
// cannot be carried over becomes U+FFFD, so bad input still gives text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qx::observed {

// An unpaired surrogate becomes U+FFFD.
std::string Utf8(std::u16string_view text);
// Each ill-formed sequence (stray continuation byte, truncated sequence,
// overlong form, encoded surrogate, value past U+10FFFF) becomes one U+FFFD.
std::u16string Utf16(std::string_view text);
// Where the first ill-formed sequence of a UTF-8 text starts (its byte
// offset); nothing when the whole text is well formed.
std::optional<std::size_t> InvalidUtf8At(std::string_view text);
// A byte as the errors name it: "0xC3".
std::string ByteText(char byte);

}  // namespace qx::observed
