// RegKey: the registry calls every deliverable makes, with the byte counts
// and the failure contracts in one place.
#include "platform/platform.h"

#include <algorithm>
#include <vector>

namespace qx {

LONG RegKey::Open(HKEY root, std::u16string_view path, REGSAM access) {
  Close();
  HKEY key = nullptr;
  const LONG result = registry_.RegOpenKeyExW(root, path, access, &key);
  if (result == ERROR_SUCCESS) key_ = key;
  return result;
}

LONG RegKey::Create(HKEY root, std::u16string_view path, REGSAM access) {
  Close();
  HKEY key = nullptr;
  DWORD disposition = 0;
  const LONG result = registry_.RegCreateKeyExW(root, path, access, &key, &disposition);
  if (result == ERROR_SUCCESS) key_ = key;
  return result;
}

void RegKey::Close() {
  if (key_ != nullptr) {
    registry_.RegCloseKey(key_);
    key_ = nullptr;
  }
}

namespace {
std::span<const BYTE> BytesOf(const std::u16string& text, std::size_t bytes) {
  return {reinterpret_cast<const BYTE*>(text.data()), bytes};
}
}  // namespace

LONG RegKey::WriteString(std::u16string_view name, std::u16string_view text) {
  if (!Valid()) return ERROR_INVALID_HANDLE;
  // Text ends at its first zero code unit, as every reader takes it.
  const std::u16string value(text.substr(0, std::min(text.size(), text.find(u'\0'))));
  return registry_.RegSetValueExW(key_, name, REG_SZ, BytesOf(value, (value.size() + 1) * 2));
}

LONG RegKey::WriteFixedString(std::u16string_view name, std::u16string_view text, DWORD bytes) {
  if (!Valid()) return ERROR_INVALID_HANDLE;
  std::u16string value(text.substr(0, std::min({text.size(), text.find(u'\0'), FixedStringCapacity(bytes)})));
  value.resize((bytes + 1) / 2, u'\0');
  return registry_.RegSetValueExW(key_, name, REG_SZ, BytesOf(value, bytes));
}

LONG RegKey::WriteDword(std::u16string_view name, DWORD value) {
  if (!Valid()) return ERROR_INVALID_HANDLE;
  BYTE data[4];
  for (int i = 0; i < 4; ++i) data[i] = static_cast<BYTE>(value >> (8 * i));
  return registry_.RegSetValueExW(key_, name, REG_DWORD, data);
}

LONG RegKey::ReadString(std::u16string_view name, std::size_t maxBytes, std::u16string* text) {
  if (!Valid()) return ERROR_INVALID_HANDLE;
  std::vector<BYTE> buffer(maxBytes);
  DWORD type = REG_NONE;
  DWORD size = 0;
  // A zero-sized reader still passes a buffer, so it learns ERROR_MORE_DATA
  // for any non-empty value rather than the size.
  BYTE probe = 0;
  std::span<BYTE> data = maxBytes == 0 ? std::span<BYTE>(&probe, 0) : std::span<BYTE>(buffer);
  const LONG result = registry_.RegQueryValueExW(key_, name, &type, data, &size);
  if (result != ERROR_SUCCESS) return result;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_PARAMETER;
  std::u16string value;
  for (std::size_t i = 0; i + 1 < static_cast<std::size_t>(size); i += 2) {
    const char16_t unit = static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8));
    if (unit == u'\0') break;
    value.push_back(unit);
  }
  *text = std::move(value);
  return ERROR_SUCCESS;
}

LONG RegKey::ReadDword(std::u16string_view name, DWORD* value) {
  if (!Valid()) return ERROR_INVALID_HANDLE;
  BYTE data[4] = {};
  DWORD type = REG_NONE;
  DWORD size = 0;
  const LONG result = registry_.RegQueryValueExW(key_, name, &type, data, &size);
  if (result != ERROR_SUCCESS) return result;
  if (type != REG_DWORD || size != 4) return ERROR_INVALID_PARAMETER;
  *value = static_cast<DWORD>(data[0]) | (static_cast<DWORD>(data[1]) << 8) |
           (static_cast<DWORD>(data[2]) << 16) | (static_cast<DWORD>(data[3]) << 24);
  return ERROR_SUCCESS;
}

}  // namespace qx
