// The registry as text: "Windows Registry Editor Version 5.00" files, the form
// in which scenarios describe a device's starting registry and in which a run
// shows what it left behind. We write UTF-8 with "\n" line ends; reading also
// takes a UTF-8 byte order mark, UTF-16LE with its mark, and "\r\n".
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "platform/platform.h"
#include "platform/sim/registry.h"

namespace qx::sim {

inline constexpr std::string_view kRegFileHeader = "Windows Registry Editor Version 5.00";

struct RegFormatError {
  std::string file;
  std::size_t line = 0;  // 1-based
  std::string message;
  // "file:line: message"
  [[nodiscard]] std::string ToString() const;
};

// Which part of the registry to write: one key with everything below it.
using RegScope = std::optional<std::pair<HKEY, std::u16string>>;

// The whole registry (all three roots, keys depth-first in creation order) or
// just the scope. Every key is written, empty ones too; a root itself only
// when it holds values. A scope naming a missing key gives the header alone.
std::string ExportReg(const SimRegistry& registry, RegScope scope = std::nullopt);
std::string ExportReg(const RegistryImage& image, const RegScope& scope = std::nullopt);

// Why ExportReg cannot write the registry (or the scope) so that it reads
// back the same: a key or value name holding a control character other than
// tab (a line feed would end the line) or a lone surrogate (UTF-8 has no
// form for it). Nothing when every name can be written.
std::optional<std::string> UnwritableName(const RegistryImage& image, const RegScope& scope = std::nullopt);

// Reads the whole text before changing anything: a malformed file leaves the
// registry as it was and says which line is wrong. Changes go straight to the
// data, not through the ledger, and open handles on deleted keys go stale.
std::optional<RegFormatError> ImportReg(SimRegistry& registry, std::string_view text, std::string_view sourceName);

// Pieces of a value line, on one line however long: "\"Name\"" or "@", and
// the data after '=' ("\"text\"", "dword:0000002a", "hex(1):61,00,...").
std::string RegValueNameText(std::u16string_view name);
std::string RegValueDataText(DWORD type, std::span<const BYTE> data);
// The data as people read it: as RegValueDataText, except that a REG_SZ whose
// data is its text, a terminator and zero bytes up to a fixed width shows as
// "text" (260 bytes, zero-padded) rather than as hex(1): bytes, and data
// over 4096 bytes shows only its start and its size: "text…" (N bytes) or
// hex:xx,…,xx,… (N bytes).
std::string RegValueReadableText(DWORD type, std::span<const BYTE> data);
// The data as bytes whatever its type: "hex(1):61,00,00,00", "hex:01".
std::string RegValueHexText(DWORD type, std::span<const BYTE> data);
// The data of a value line ("\"text\"", "dword:0000002a", "hex(1):61,00")
// as its type and bytes, read as ImportReg reads it; nothing, with *error
// set, when it is malformed.
std::optional<RegValue> ParseRegValueData(std::string_view data, std::string* error);

}  // namespace qx::sim
