// The registry with its exact bytes and types: trees read depth first,
// values set, keys made and deleted (with everything below, as on the
// device). No text format in between, so nothing is lost or added.
#include <algorithm>

#include "tools/qxagent/agent.h"
#include "tools/qxagent/wire.h"

namespace qx::agent {
namespace {

HKEY Root(const std::wstring& name) {
  if (name == L"HKEY_CLASSES_ROOT") return HKEY_CLASSES_ROOT;
  if (name == L"HKEY_CURRENT_USER") return HKEY_CURRENT_USER;
  if (name == L"HKEY_LOCAL_MACHINE") return HKEY_LOCAL_MACHINE;
  Fail(L"a root is HKEY_CLASSES_ROOT, HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE, not \"" + name + L"\"");
}

[[noreturn]] void FailRegistry(const wchar_t* call, LSTATUS status, const std::wstring& path = L"") {
  Fail(std::wstring(call) + L" failed" + (path.empty() ? L"" : L" at " + path) + L": error " + std::to_wstring(status));
}

// Closes a key when it goes out of scope.
class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (hkey_ != nullptr) RegCloseKey(hkey_);
  }
  HKEY* Out() { return &hkey_; }
  HKEY Get() const { return hkey_; }

 private:
  HKEY hkey_ = nullptr;
};

std::wstring Bytes(const std::vector<BYTE>& data, DWORD size) {
  const std::string hex = wire::Hex(std::string_view(reinterpret_cast<const char*>(data.data()), size));
  return std::wstring(hex.begin(), hex.end());
}

// A key's values in RegEnumValue order; false for a key that has none to
// give: Win32 opens "...\Perflib\009" (and its like) as a performance data
// handle, which no key call but RegQueryValueEx takes (ERROR_INVALID_HANDLE).
// A value that grows while it is read is read again with room for its new
// size.
bool Values(HKEY key, const std::wstring& path, Reply& reply) {
  DWORD longestName = 0;
  DWORD longestData = 0;
  LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName,
                                    &longestData, nullptr, nullptr);
  if (status == ERROR_INVALID_HANDLE) return false;
  if (status != ERROR_SUCCESS) FailRegistry(L"RegQueryInfoKeyW", status, path);
  std::wstring name(longestName + 1, L'\0');
  std::vector<BYTE> data(longestData + 1);
  for (DWORD index = 0, retries = 0;;) {
    DWORD nameSize = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    status = RegEnumValueW(key, index, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) return true;
    if (status == ERROR_MORE_DATA && ++retries < 8) {
      name.resize(std::max<std::size_t>(name.size() * 2, 16384 + 1));
      data.resize(std::max<std::size_t>(data.size() * 2, dataSize));
      continue;
    }
    if (status != ERROR_SUCCESS) FailRegistry(L"RegEnumValueW", status, path);
    reply.Line({L"v", path, name.substr(0, nameSize), Decimal(type), Bytes(data, dataSize)});
    ++index;
    retries = 0;
  }
}

std::wstring Below(const std::wstring& path, const std::wstring& name) { return path.empty() ? name : path + L"\\" + name; }

void Tree(HKEY key, const std::wstring& path, int depth, Reply& reply) {
  // Win32 nests keys at most 512 deep.
  if (depth > 512) Fail(L"the registry is deeper than 512 keys at " + path);
  reply.Line({L"k", path});
  if (!Values(key, path, reply)) return;
  std::vector<std::wstring> names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];  // a key's name is at most 255 characters
    DWORD size = 256;
    const LSTATUS status = RegEnumKeyExW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) FailRegistry(L"RegEnumKeyExW", status, path);
    names.emplace_back(name, size);
  }
  for (const auto& name : names) {
    Key sub;
    const LSTATUS status = RegOpenKeyExW(key, name.c_str(), 0, KEY_READ, sub.Out());
    // Deleted meanwhile by a program: as if it had not been there.
    if (status == ERROR_FILE_NOT_FOUND) continue;
    if (status != ERROR_SUCCESS) FailRegistry(L"RegOpenKeyExW", status, Below(path, name));
    Tree(sub.Get(), Below(path, name), depth + 1, reply);
  }
}

void RegTree(const Fields& f, Reply& reply) {
  Key key;
  const LSTATUS status = RegOpenKeyExW(Root(f[0]), f[1].c_str(), 0, KEY_READ, key.Out());
  if (status == ERROR_FILE_NOT_FOUND) return reply.Line({L"missing"});
  if (status != ERROR_SUCCESS) FailRegistry(L"RegOpenKeyExW", status);
  Tree(key.Get(), f[1], 0, reply);
}

void RegSet(const Fields& f, Reply&) {
  const HKEY root = Root(f[0]);
  const auto type = static_cast<DWORD>(Unsigned(f[3], L"a value type", UINT32_MAX));
  const std::string hex(f[4].begin(), f[4].end());
  const bool ascii = std::all_of(f[4].begin(), f[4].end(), [](wchar_t c) { return c < 0x80; });
  const auto data = ascii ? wire::Unhex(hex) : std::nullopt;
  if (!data) Fail(L"data is hex digits, two a byte");
  Key key;
  LSTATUS status = RegCreateKeyExW(root, f[1].c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Out(), nullptr);
  if (status != ERROR_SUCCESS) FailRegistry(L"RegCreateKeyExW", status);
  // Win32 (Wine as Windows NT) counts a string's terminator in when the
  // caller left it out and a zero character follows the data in memory:
  // what follows here is never zero, so the bytes stored are the bytes given.
  std::string buffer = *data + std::string(4, '\xff');
  status = RegSetValueExW(key.Get(), f[2].c_str(), 0, type, reinterpret_cast<const BYTE*>(buffer.data()),
                          static_cast<DWORD>(data->size()));
  if (status != ERROR_SUCCESS) FailRegistry(L"RegSetValueExW", status);
}

void RegCreate(const Fields& f, Reply&) {
  Key key;
  const LSTATUS status =
      RegCreateKeyExW(Root(f[0]), f[1].c_str(), 0, nullptr, 0, KEY_READ, nullptr, key.Out(), nullptr);
  if (status != ERROR_SUCCESS) FailRegistry(L"RegCreateKeyExW", status);
}

void RegDeleteKey(const Fields& f, Reply&) {
  const HKEY root = Root(f[0]);
  if (f[1].empty()) Fail(L"a root is not deleted");
  const LSTATUS status = RegDeleteTreeW(root, f[1].c_str());
  if (status != ERROR_SUCCESS) FailRegistry(L"RegDeleteTreeW", status);
}

void RegDeleteValue(const Fields& f, Reply&) {
  Key key;
  LSTATUS status = RegOpenKeyExW(Root(f[0]), f[1].c_str(), 0, KEY_SET_VALUE, key.Out());
  if (status != ERROR_SUCCESS) FailRegistry(L"RegOpenKeyExW", status);
  status = RegDeleteValueW(key.Get(), f[2].c_str());
  if (status != ERROR_SUCCESS) FailRegistry(L"RegDeleteValueW", status);
}

}  // namespace

void AddRegistryRequests(Requests& requests) {
  requests.push_back({"reg-tree", "reg-tree ROOT PATH", 2, RegTree});
  requests.push_back({"reg-set", "reg-set ROOT PATH NAME TYPE HEX", 5, RegSet});
  requests.push_back({"reg-create", "reg-create ROOT PATH", 2, RegCreate});
  requests.push_back({"reg-delete-key", "reg-delete-key ROOT PATH", 2, RegDeleteKey});
  requests.push_back({"reg-delete-value", "reg-delete-value ROOT PATH NAME", 3, RegDeleteValue});
}

}  // namespace qx::agent
