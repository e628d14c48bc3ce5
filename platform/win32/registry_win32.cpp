// The registry over Win32's, with the handheld's meaning where the two part.
#include "platform/win32/win32_internal.h"

#include <algorithm>
#include <vector>

namespace qx::win32 {

namespace {

// The platform names the predefined roots by their 32-bit values; 64-bit
// Win32 sign-extends them, so the two never compare equal as pointers.
::HKEY W(qx::HKEY key) {
  const auto value = reinterpret_cast<std::uintptr_t>(key);
  if (value == 0x80000000u) return kWin32ClassesRoot;
  if (value == 0x80000001u) return kWin32CurrentUser;
  if (value == 0x80000002u) return kWin32LocalMachine;
  return reinterpret_cast<::HKEY>(key);
}

qx::HKEY Q(::HKEY key) { return reinterpret_cast<qx::HKEY>(key); }

}  // namespace

LONG Registry::RegOpenKeyExW(qx::HKEY key, std::u16string_view subKey, REGSAM access, qx::HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  ::HKEY opened = nullptr;
  const LONG status = ::RegOpenKeyExW(W(key), Wz(subKey).c_str(), 0, access, &opened);
  if (status == ERROR_SUCCESS) *result = Q(opened);
  return status;
}

LONG Registry::RegCreateKeyExW(qx::HKEY key, std::u16string_view subKey, REGSAM access, qx::HKEY* result,
                               DWORD* disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  ::HKEY opened = nullptr;
  ::DWORD how = 0;
  const LONG status = ::RegCreateKeyExW(W(key), Wz(subKey).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                        nullptr, &opened, &how);
  if (status == ERROR_SUCCESS) {
    *result = Q(opened);
    if (disposition != nullptr) *disposition = how;
  }
  return status;
}

LONG Registry::RegQueryValueExW(qx::HKEY key, std::u16string_view name, DWORD* type, std::span<BYTE> data,
                                DWORD* size) {
  const std::wstring valueName = Wz(name);
  ::DWORD valueType = 0;
  ::DWORD needed = 0;
  LONG status = ::RegQueryValueExW(W(key), valueName.c_str(), nullptr, &valueType, nullptr, &needed);
  if (status != ERROR_SUCCESS) return status;
  if (type != nullptr) *type = valueType;
  if (size != nullptr) *size = needed;
  if (data.data() == nullptr) return ERROR_SUCCESS;
  if (data.size() < needed) return ERROR_MORE_DATA;
  // Read through a buffer of exactly the value's size: Win32 may write a
  // terminator past a string's stored bytes, and the platform promises
  // exactly the stored bytes.
  std::vector<BYTE> bytes(needed);
  ::DWORD got = needed;
  status = ::RegQueryValueExW(W(key), valueName.c_str(), nullptr, &valueType, bytes.data(), &got);
  if (status != ERROR_SUCCESS) return status;  // changed between the two reads
  std::copy_n(bytes.begin(), got, data.begin());
  if (type != nullptr) *type = valueType;
  if (size != nullptr) *size = got;
  return ERROR_SUCCESS;
}

LONG Registry::RegSetValueExW(qx::HKEY key, std::u16string_view name, DWORD type, std::span<const BYTE> data) {
  return ::RegSetValueExW(W(key), Wz(name).c_str(), 0, type, data.data(), static_cast<::DWORD>(data.size()));
}

LONG Registry::RegEnumKeyExW(qx::HKEY key, DWORD index, std::span<char16_t> name, DWORD* length) {
  if (name.empty()) return ERROR_MORE_DATA;
  ::DWORD chars = static_cast<::DWORD>(name.size());
  const LONG status =
      ::RegEnumKeyExW(W(key), index, Wp(name.data()), &chars, nullptr, nullptr, nullptr, nullptr);
  if (status == ERROR_SUCCESS && length != nullptr) *length = chars;
  return status;
}

LONG Registry::RegDeleteKeyW(qx::HKEY key, std::u16string_view subKey) {
  // The handheld deletes the key with everything below it; desktop
  // RegDeleteKeyW refuses a key that has sub-keys. RegDeleteTreeW with a
  // sub-key name removes the key itself as well.
  if (subKey.empty()) return ERROR_INVALID_PARAMETER;  // would empty the open key, not delete one
  return ::RegDeleteTreeW(W(key), Wz(subKey).c_str());
}

LONG Registry::RegCloseKey(qx::HKEY key) { return ::RegCloseKey(W(key)); }

}  // namespace qx::win32
