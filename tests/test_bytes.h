// Registry value data as tests write it down.
#pragma once

#include <algorithm>
#include <vector>

#include "platform/sim/registry.h"

namespace qx::testing_bytes {

// A string value: text, terminator, zero bytes up to `bytes`.
inline std::vector<BYTE> Sz(std::u16string_view text, std::size_t bytes = 0) { return sim::StringBytes(text, bytes); }
inline std::vector<BYTE> Dword(DWORD value) { return sim::DwordBytes(value); }
// Exactly totalBytes bytes of text, cut or zero-padded: values that may
// lack their terminator.
inline std::vector<BYTE> Utf16Bytes(std::u16string_view text, std::size_t totalBytes) {
  std::vector<BYTE> bytes = sim::StringBytes(text);
  bytes.resize(totalBytes, 0);
  return bytes;
}

}  // namespace qx::testing_bytes
