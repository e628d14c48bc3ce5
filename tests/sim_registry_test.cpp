#include "platform/sim/registry.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include "platform/sim/text.h"
#include "tests/test_bytes.h"

namespace qx::sim {
namespace {

using namespace qx::testing_bytes;

const std::vector<BYTE> kDword42 = {0x2a, 0, 0, 0};

class SimRegistryTest : public ::testing::Test {
 protected:
  HKEY Create(HKEY root, std::u16string_view path) {
    HKEY key = nullptr;
    EXPECT_EQ(reg.RegCreateKeyExW(root, path, KEY_ALL_ACCESS, &key, nullptr), ERROR_SUCCESS);
    return key;
  }

  CallLedger ledger;
  SimRegistry reg{ledger};
};

TEST_F(SimRegistryTest, NamesMatchWithoutCaseAndKeepTheirFirstSpelling) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\Quorvix");
  DWORD disposition = 0;
  HKEY again = nullptr;
  ASSERT_EQ(reg.RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\quorvix", KEY_ALL_ACCESS, &again, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(reg.SubKeyNames(HKEY_LOCAL_MACHINE, u""), std::vector<std::u16string>{u"Software"});
  EXPECT_EQ(reg.OpenHandlePaths().back(), u"HKEY_LOCAL_MACHINE\\Software\\Quorvix");

  ASSERT_EQ(reg.RegSetValueExW(key, u"Port", REG_DWORD, kDword42), ERROR_SUCCESS);
  ASSERT_EQ(reg.RegSetValueExW(key, u"Host", REG_SZ, Utf16Bytes(u"a", 4)), ERROR_SUCCESS);
  ASSERT_EQ(reg.RegSetValueExW(again, u"PORT", REG_BINARY, std::vector<BYTE>{1, 2}), ERROR_SUCCESS);
  const auto values = reg.Values(HKEY_LOCAL_MACHINE, u"software\\QUORVIX");
  ASSERT_EQ(values.size(), 2u);
  // Replaced in place: the first spelling, the first position, the new type.
  EXPECT_EQ(values[0], (RegValue{u"Port", REG_BINARY, {1, 2}}));
  EXPECT_EQ(values[1].name, u"Host");
  // Hangul has no case; the comparison must not mangle it.
  ASSERT_EQ(reg.RegSetValueExW(key, u"접속", REG_DWORD, kDword42), ERROR_SUCCESS);
  EXPECT_TRUE(reg.GetValue(HKEY_LOCAL_MACHINE, u"Software\\Quorvix", u"접속").has_value());
  reg.RegCloseKey(key);
  reg.RegCloseKey(again);
}

TEST_F(SimRegistryTest, OpenAndCreateCheckThePath) {
  HKEY untouched = reinterpret_cast<HKEY>(std::uintptr_t{0x77});
  HKEY result = untouched;
  EXPECT_EQ(reg.RegOpenKeyExW(HKEY_CURRENT_USER, u"A", 0, &result), ERROR_FILE_NOT_FOUND);
  reg.CreateKey(HKEY_CURRENT_USER, u"A\\B");
  EXPECT_EQ(reg.RegOpenKeyExW(HKEY_CURRENT_USER, u"A\\X\\B", 0, &result), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(result, untouched);

  const std::u16string tooLong(256, u'k');
  const std::u16string_view badPaths[] = {u"\\A", u"A\\", u"A\\\\B", u"\\", tooLong};
  for (std::u16string_view bad : badPaths) {
    EXPECT_EQ(reg.RegOpenKeyExW(HKEY_CURRENT_USER, bad, 0, &result), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(reg.RegCreateKeyExW(HKEY_CURRENT_USER, bad, 0, &result, nullptr), ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(result, untouched);
  EXPECT_EQ(reg.SubKeyNames(HKEY_CURRENT_USER, u""), std::vector<std::u16string>{u"A"});

  DWORD disposition = 0;
  ASSERT_EQ(reg.RegCreateKeyExW(HKEY_CURRENT_USER, u"A\\B\\C\\D", 0, &result, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_TRUE(reg.KeyExists(HKEY_CURRENT_USER, u"a\\b\\c"));
  // An empty sub-key is another handle to the same key, roots included.
  HKEY same = nullptr;
  ASSERT_EQ(reg.RegOpenKeyExW(result, u"", 0, &same), ERROR_SUCCESS);
  EXPECT_NE(same, result);
  HKEY root = nullptr;
  ASSERT_EQ(reg.RegOpenKeyExW(HKEY_CURRENT_USER, u"", 0, &root), ERROR_SUCCESS);
  EXPECT_EQ(reg.OpenHandlePaths(),
            (std::vector<std::u16string>{u"HKEY_CURRENT_USER\\A\\B\\C\\D", u"HKEY_CURRENT_USER\\A\\B\\C\\D",
                                         u"HKEY_CURRENT_USER"}));
  for (HKEY key : {result, same, root}) EXPECT_EQ(reg.RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(SimRegistryTest, QueryKeepsExactBytesAndReportsSizes) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-1");
  const std::vector<BYTE> fixed = Utf16Bytes(u"abc", 260);
  ASSERT_EQ(reg.RegSetValueExW(key, u"Server", REG_SZ, fixed), ERROR_SUCCESS);
  ASSERT_EQ(reg.RegSetValueExW(key, u"", REG_SZ, Utf16Bytes(u"d", 4)), ERROR_SUCCESS);
  ASSERT_EQ(reg.RegSetValueExW(key, u"Empty", REG_BINARY, {}), ERROR_SUCCESS);

  std::vector<BYTE> buffer(300, 0xCC);
  DWORD type = 0;
  DWORD size = 0;
  ASSERT_EQ(reg.RegQueryValueExW(key, u"server", &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 260u);
  EXPECT_TRUE(std::equal(fixed.begin(), fixed.end(), buffer.begin()));
  EXPECT_EQ(buffer[260], 0xCC);

  // Too small by one byte: sizes reported, buffer not written.
  std::vector<BYTE> small(259, 0xCC);
  type = size = 0;
  EXPECT_EQ(reg.RegQueryValueExW(key, u"Server", &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 260u);
  EXPECT_EQ(std::count(small.begin(), small.end(), 0xCC), 259);

  type = size = 0;
  EXPECT_EQ(reg.RegQueryValueExW(key, u"", &type, {}, &size), ERROR_SUCCESS);  // size query, default value
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(reg.RegQueryValueExW(key, u"Server", nullptr, buffer, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(reg.RegQueryValueExW(key, u"Empty", &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 0u);

  type = size = 99;
  EXPECT_EQ(reg.RegQueryValueExW(key, u"Missing", &type, buffer, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(type, 99u);
  EXPECT_EQ(size, 99u);
  reg.RegCloseKey(key);
}

TEST_F(SimRegistryTest, EnumListsSubKeysInCreationOrder) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Comm");
  for (std::u16string_view name : {u"SOCKS-2", u"Alpha", u"socks-10"}) reg.CreateKey(HKEY_LOCAL_MACHINE, std::u16string(u"Comm\\") + std::u16string(name));

  std::vector<std::u16string> names;
  std::array<char16_t, 16> buffer{};
  DWORD length = 0;
  DWORD index = 0;
  for (; reg.RegEnumKeyExW(key, index, buffer, &length) == ERROR_SUCCESS; ++index) {
    EXPECT_EQ(buffer[length], u'\0');
    names.emplace_back(buffer.data(), length);
  }
  EXPECT_EQ(names, (std::vector<std::u16string>{u"SOCKS-2", u"Alpha", u"socks-10"}));
  EXPECT_EQ(reg.RegEnumKeyExW(key, index, buffer, &length), ERROR_NO_MORE_ITEMS);

  // "SOCKS-2" needs 8 units with its terminator.
  std::array<char16_t, 8> exact{};
  std::array<char16_t, 7> tooSmall{};
  tooSmall.fill(u'#');
  length = 55;
  EXPECT_EQ(reg.RegEnumKeyExW(key, 0, tooSmall, &length), ERROR_MORE_DATA);
  EXPECT_EQ(length, 55u);
  EXPECT_EQ(tooSmall[0], u'#');
  EXPECT_EQ(reg.RegEnumKeyExW(key, 0, exact, &length), ERROR_SUCCESS);
  EXPECT_EQ(length, 7u);
  reg.RegCloseKey(key);
}

// Lookups go through an index beside each list: after removals from the
// front, the middle and the end, every entry left must still be found as
// itself, and a name that comes back is new, last and spelled as given.
TEST_F(SimRegistryTest, LookupsFollowRemovalsAndReturns) {
  const std::u16string_view names[] = {u"V0", u"V1", u"V2", u"V3", u"V4", u"V5"};
  for (BYTE i = 0; i < 6; ++i) {
    reg.SetValue(HKEY_LOCAL_MACHINE, u"K", names[i], REG_BINARY, std::vector<BYTE>{i});
    reg.CreateKey(HKEY_LOCAL_MACHINE, std::u16string(u"K\\") + std::u16string(names[i]));
  }
  for (std::u16string_view gone : {u"v0", u"V3", u"v5"}) {
    ASSERT_TRUE(reg.DeleteValue(HKEY_LOCAL_MACHINE, u"K", gone));
    ASSERT_TRUE(reg.DeleteKey(HKEY_LOCAL_MACHINE, std::u16string(u"k\\") + std::u16string(gone)));
  }
  reg.SetValue(HKEY_LOCAL_MACHINE, u"K", u"v3", REG_BINARY, std::vector<BYTE>{33});
  reg.CreateKey(HKEY_LOCAL_MACHINE, u"K\\v3");

  const struct {
    std::u16string_view name;
    std::optional<BYTE> data;
  } expected[] = {{u"v0", {}}, {u"v1", 1}, {u"V2", 2}, {u"V3", 33}, {u"v4", 4}, {u"V5", {}}};
  for (const auto& e : expected) {
    const auto value = reg.GetValue(HKEY_LOCAL_MACHINE, u"K", e.name);
    ASSERT_EQ(value.has_value(), e.data.has_value()) << Utf8(e.name);
    if (value) {
      EXPECT_EQ(value->data, std::vector<BYTE>{*e.data}) << Utf8(e.name);
    }
    EXPECT_EQ(reg.KeyExists(HKEY_LOCAL_MACHINE, std::u16string(u"K\\") + std::u16string(e.name)),
              e.data.has_value())
        << Utf8(e.name);
  }
  std::vector<std::u16string> valueNames;
  for (const RegValue& value : reg.Values(HKEY_LOCAL_MACHINE, u"K")) valueNames.push_back(value.name);
  const std::vector<std::u16string> order = {u"V1", u"V2", u"V4", u"v3"};
  EXPECT_EQ(valueNames, order);
  EXPECT_EQ(reg.SubKeyNames(HKEY_LOCAL_MACHINE, u"K"), order);
}

TEST_F(SimRegistryTest, DeleteRemovesTheSubtreeAndLeavesStaleHandles) {
  HKEY comm = Create(HKEY_LOCAL_MACHINE, u"Comm");
  HKEY socks = Create(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-1");
  HKEY deep = Create(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-1\\Parms\\Deep");
  reg.CreateKey(HKEY_LOCAL_MACHINE, u"Comm\\Other");

  EXPECT_EQ(reg.RegDeleteKeyW(comm, u"socks-1"), ERROR_SUCCESS);
  EXPECT_FALSE(reg.KeyExists(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-1\\Parms"));
  EXPECT_EQ(reg.SubKeyNames(HKEY_LOCAL_MACHINE, u"Comm"), std::vector<std::u16string>{u"Other"});
  EXPECT_EQ(reg.RegDeleteKeyW(comm, u"SOCKS-1"), ERROR_FILE_NOT_FOUND);

  // Re-creating the path must not bring the old handles back.
  reg.CreateKey(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-1\\Parms\\Deep");
  for (HKEY stale : {socks, deep}) {
    HKEY out = nullptr;
    std::array<char16_t, 8> name{};
    BYTE byte = 0;
    EXPECT_EQ(reg.RegOpenKeyExW(stale, u"", 0, &out), ERROR_KEY_DELETED);
    EXPECT_EQ(reg.RegCreateKeyExW(stale, u"X", 0, &out, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(reg.RegQueryValueExW(stale, u"", nullptr, {}, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(reg.RegSetValueExW(stale, u"v", REG_BINARY, std::span<const BYTE>(&byte, 1)), ERROR_KEY_DELETED);
    EXPECT_EQ(reg.RegEnumKeyExW(stale, 0, name, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(reg.RegDeleteKeyW(stale, u""), ERROR_KEY_DELETED);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_TRUE(reg.Values(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-1").empty());
  EXPECT_EQ(reg.OpenHandleCount(), 3u);
  EXPECT_EQ(reg.RegCloseKey(socks), ERROR_SUCCESS);
  EXPECT_EQ(reg.RegCloseKey(deep), ERROR_SUCCESS);

  // A handle may delete its own key; roots cannot go, however they are named.
  EXPECT_EQ(reg.RegDeleteKeyW(comm, u""), ERROR_SUCCESS);
  EXPECT_FALSE(reg.KeyExists(HKEY_LOCAL_MACHINE, u"Comm"));
  HKEY rootHandle = Create(HKEY_LOCAL_MACHINE, u"");
  EXPECT_EQ(reg.RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(reg.RegDeleteKeyW(rootHandle, u""), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(reg.DeleteKey(HKEY_LOCAL_MACHINE, u""));
  for (HKEY key : {comm, rootHandle}) EXPECT_EQ(reg.RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(reg.OpenHandleCount(), 0u);
}

TEST_F(SimRegistryTest, HandlesAreTrackedAndCheckedLikeWin32) {
  HKEY a = Create(HKEY_CURRENT_USER, u"A");
  HKEY b = Create(HKEY_CURRENT_USER, u"A");
  const std::set<HKEY> distinct{a, b, HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, nullptr};
  EXPECT_EQ(distinct.size(), 6u);
  EXPECT_EQ(reg.OpenHandleCount(), 2u);

  EXPECT_EQ(reg.RegCloseKey(a), ERROR_SUCCESS);
  EXPECT_EQ(reg.RegCloseKey(a), ERROR_INVALID_HANDLE);
  HKEY out = nullptr;
  EXPECT_EQ(reg.RegOpenKeyExW(a, u"", 0, &out), ERROR_INVALID_HANDLE);
  EXPECT_EQ(reg.RegOpenKeyExW(nullptr, u"", 0, &out), ERROR_INVALID_HANDLE);
  EXPECT_EQ(reg.RegSetValueExW(reinterpret_cast<HKEY>(std::uintptr_t{12345}), u"", REG_NONE, {}),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(reg.RegOpenKeyExW(HKEY_CURRENT_USER, u"A", 0, nullptr), ERROR_INVALID_PARAMETER);
  for (HKEY root : kRegistryRoots) EXPECT_EQ(reg.RegCloseKey(root), ERROR_SUCCESS);
  EXPECT_EQ(reg.OpenHandlePaths(), std::vector<std::u16string>{u"HKEY_CURRENT_USER\\A"});
  EXPECT_EQ(reg.RegCloseKey(b), ERROR_SUCCESS);
  EXPECT_EQ(reg.OpenHandleCount(), 0u);
}

TEST_F(SimRegistryTest, PlannedFaultFailsTheCallAndChangesNothing) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-1");
  reg.SetValue(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-1", u"Port", REG_DWORD, kDword42);
  struct Case {
    Call call;
    std::function<LONG(HKEY*, DWORD*, BYTE*)> run;
  };
  const Case cases[] = {
      {Call::RegOpenKeyExW, [&](HKEY* h, DWORD*, BYTE*) { return reg.RegOpenKeyExW(key, u"", 0, h); }},
      {Call::RegCreateKeyExW, [&](HKEY* h, DWORD* d, BYTE*) { return reg.RegCreateKeyExW(key, u"New", 0, h, d); }},
      {Call::RegQueryValueExW,
       [&](HKEY*, DWORD* d, BYTE* b) { return reg.RegQueryValueExW(key, u"Port", d, std::span<BYTE>(b, 4), d); }},
      {Call::RegSetValueExW, [&](HKEY*, DWORD*, BYTE*) { return reg.RegSetValueExW(key, u"Port", REG_NONE, {}); }},
      {Call::RegEnumKeyExW,
       [&](HKEY*, DWORD* d, BYTE*) {
         std::array<char16_t, 4> name{};
         return reg.RegEnumKeyExW(HKEY_LOCAL_MACHINE, 0, name, d);
       }},
      {Call::RegDeleteKeyW, [&](HKEY*, DWORD*, BYTE*) { return reg.RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Comm"); }},
      {Call::RegCloseKey, [&](HKEY*, DWORD*, BYTE*) { return reg.RegCloseKey(key); }},
  };
  for (const Case& c : cases) {
    const RegistryImage before = reg.Image();
    const std::size_t count = ledger.Count(c.call);
    ledger.Plan({c.call, 1, 1, ERROR_NOT_ENOUGH_MEMORY});
    HKEY handle = nullptr;
    DWORD dword = 7;
    BYTE bytes[4] = {9, 9, 9, 9};
    EXPECT_EQ(c.run(&handle, &dword, bytes), ERROR_NOT_ENOUGH_MEMORY) << CallName(c.call);
    EXPECT_EQ(ledger.Count(c.call), count + 1) << CallName(c.call);
    EXPECT_EQ(reg.Image(), before) << CallName(c.call);
    EXPECT_EQ(reg.OpenHandleCount(), 1u) << CallName(c.call);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(dword, 7u);
    EXPECT_EQ(bytes[0], 9);
  }
  EXPECT_EQ(reg.RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(SimRegistryTest, DiffNamesEachChangeOnce) {
  reg.SetValue(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-1", u"Port", REG_DWORD, kDword42);
  reg.SetValue(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-1", u"Old", REG_BINARY, std::vector<BYTE>{1});
  reg.SetValue(HKEY_LOCAL_MACHINE, u"Comm\\Gone\\Child", u"x", REG_NONE, {});
  const RegistryImage before = reg.Image();
  const std::size_t calls = ledger.Total();

  reg.SetValue(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-1", u"Port", REG_DWORD, std::vector<BYTE>{0x2b, 0, 0, 0});
  reg.DeleteValue(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-1", u"Old");
  reg.SetValue(HKEY_LOCAL_MACHINE, u"Comm\\SOCKS-1", u"", REG_SZ, Utf16Bytes(u"abc", 10));
  reg.DeleteKey(HKEY_LOCAL_MACHINE, u"Comm\\Gone");
  reg.SetValue(HKEY_CURRENT_USER, u"Q\\R", u"Name", REG_SZ, Utf16Bytes(u"접속", 6));

  EXPECT_EQ(Diff(before, reg.Image()),
            (std::vector<std::string>{
                "+ [HKEY_CURRENT_USER\\Q]",
                "+ [HKEY_CURRENT_USER\\Q\\R]",
                "+ [HKEY_CURRENT_USER\\Q\\R] \"Name\" = \"접속\"",
                "~ [HKEY_LOCAL_MACHINE\\Comm\\SOCKS-1] \"Port\" = dword:0000002b (was dword:0000002a)",
                "- [HKEY_LOCAL_MACHINE\\Comm\\SOCKS-1] \"Old\" = hex:01",
                "+ [HKEY_LOCAL_MACHINE\\Comm\\SOCKS-1] @ = hex(1):61,00,62,00,63,00,00,00,00,00",
                "- [HKEY_LOCAL_MACHINE\\Comm\\Gone]",
            }));
  EXPECT_TRUE(Diff(before, before).empty());
  EXPECT_EQ(ledger.Total(), calls);  // the direct accessors are not service calls
}

TEST_F(SimRegistryTest, DirectAccessorsRefuseWhatTheServicesRefuse) {
  const HKEY notRoot = reinterpret_cast<HKEY>(std::uintptr_t{0x1000});
  EXPECT_FALSE(reg.SetValue(notRoot, u"A", u"v", REG_NONE, {}));
  EXPECT_FALSE(reg.SetValue(HKEY_CURRENT_USER, u"A\\\\B", u"v", REG_NONE, {}));
  EXPECT_FALSE(reg.CreateKey(HKEY_CURRENT_USER, u"A\\"));
  EXPECT_FALSE(reg.KeyExists(notRoot, u""));
  EXPECT_FALSE(reg.DeleteValue(HKEY_CURRENT_USER, u"A", u"v"));
  EXPECT_EQ(reg.Image(), SimRegistry(ledger).Image());
  EXPECT_TRUE(reg.SetValue(HKEY_CURRENT_USER, u"", u"OnRoot", REG_DWORD, kDword42));
  EXPECT_TRUE(reg.GetValue(HKEY_CURRENT_USER, u"", u"onroot").has_value());
  EXPECT_FALSE(reg.GetValue(HKEY_CURRENT_USER, u"", u"other").has_value());
}

// A reader keeps an image while the generation stands still, so every
// change must move it, and a refused or failed one must not pretend to.
TEST_F(SimRegistryTest, EveryChangeMovesTheGenerationAndNothingElseDoes) {
  reg.SetValue(HKEY_CURRENT_USER, u"A\\B", u"v", REG_DWORD, kDword42);
  HKEY a = nullptr;
  ASSERT_EQ(reg.RegOpenKeyExW(HKEY_CURRENT_USER, u"A", KEY_ALL_ACCESS, &a), ERROR_SUCCESS);
  struct Case {
    const char* what;
    std::function<void()> act;
    bool changes;
  };
  const Case cases[] = {
      {"service: a new key", [&] { reg.RegCloseKey(Create(a, u"New")); }, true},
      {"service: an existing key opened by create", [&] { reg.RegCloseKey(Create(a, u"New")); }, false},
      {"service: a value set", [&] { (void)reg.RegSetValueExW(a, u"w", REG_DWORD, kDword42); }, true},
      {"service: a key deleted", [&] { (void)reg.RegDeleteKeyW(a, u"New"); }, true},
      {"service: a missing key deleted", [&] { (void)reg.RegDeleteKeyW(a, u"New"); }, false},
      {"service: a value read", [&] {
         DWORD size = 0;
         (void)reg.RegQueryValueExW(a, u"w", nullptr, {}, &size);
       }, false},
      {"service: a failed set", [&] {
         ledger.Plan({Call::RegSetValueExW, 1, 1, ERROR_NOT_ENOUGH_MEMORY});
         (void)reg.RegSetValueExW(a, u"x", REG_DWORD, kDword42);
       }, false},
      {"direct: a value set", [&] { reg.SetValue(HKEY_CURRENT_USER, u"A", u"y", REG_NONE, {}); }, true},
      {"direct: a new key", [&] { reg.CreateKey(HKEY_CURRENT_USER, u"A\\C\\D"); }, true},
      {"direct: an existing key", [&] { reg.CreateKey(HKEY_CURRENT_USER, u"A\\C"); }, false},
      {"direct: a value deleted", [&] { reg.DeleteValue(HKEY_CURRENT_USER, u"A", u"y"); }, true},
      {"direct: a missing value deleted", [&] { reg.DeleteValue(HKEY_CURRENT_USER, u"A", u"y"); }, false},
      {"direct: a key deleted", [&] { reg.DeleteKey(HKEY_CURRENT_USER, u"A\\C"); }, true},
      {"direct: a refused set", [&] { reg.SetValue(HKEY_CURRENT_USER, u"A\\\\", u"z", REG_NONE, {}); }, false},
      {"an image taken", [&] { (void)reg.Image(); }, false},
  };
  for (const Case& c : cases) {
    const std::uint64_t before = reg.Generation();
    c.act();
    EXPECT_EQ(reg.Generation() != before, c.changes) << c.what;
  }
  reg.RegCloseKey(a);
}

}  // namespace
}  // namespace qx::sim
