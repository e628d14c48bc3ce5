// How the password is kept on the device and how it travels to the gateway.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace qx {

// The stored form of the password: code unit i XOR (i mod 10). It only keeps
// the password from being read at a glance in the registry; applying it again
// gives the password back.
std::u16string ScramblePassword(std::u16string_view text);

// What the gateway receives for a password: the MD5 of its code page 949
// bytes (up to the first zero byte; characters the code page lacks count as
// '?'), as 32 lower-case hex digits. The server keeps the same digest of the
// same bytes, so the code page must be the one the server assumes.
std::u16string PasswordDigest(ICodePage& codePage, std::u16string_view plain);

}  // namespace qx
