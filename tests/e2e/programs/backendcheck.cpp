// The platform's contracts checked on real Win32 under Wine: the registry
// semantics, the code page, the files and the ending of message boxes that
// the programs rely on and the simulated device reproduces. Prints one line per check and a closing
// "backend: N passed, M failed".
#include "platform/platform.h"
#include "platform/win32/win32.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/box_endings.h"

// A shown window of the program's own to own boxes (owner_window.cpp: a
// plain Win32 window, as this program has no dialog resources).
qx::HWND OwnerWindow();

namespace {

int g_passed = 0;
int g_failed = 0;

void Check(bool holds, const char* what) {
  std::printf("%s  %s\n", holds ? "pass" : "FAIL", what);
  (holds ? g_passed : g_failed) += 1;
}

std::vector<qx::BYTE> Sz(std::u16string_view text, std::size_t bytes = 0) {
  std::vector<qx::BYTE> data;
  for (char16_t c : text) {
    data.push_back(static_cast<qx::BYTE>(c & 0xFF));
    data.push_back(static_cast<qx::BYTE>(c >> 8));
  }
  data.resize(std::max(bytes, data.size() + 2), 0);
  return data;
}

constexpr std::u16string_view kKey = u"Software\\Quorvix Backend Check";

void Registry(qx::IRegistry& registry) {
  using namespace qx;
  HKEY key = nullptr;
  Check(registry.RegOpenKeyExW(HKEY_CURRENT_USER, kKey, KEY_ALL_ACCESS, &key) == ERROR_FILE_NOT_FOUND,
        "opening a missing key fails with ERROR_FILE_NOT_FOUND");
  DWORD disposition = 0;
  Check(registry.RegCreateKeyExW(HKEY_CURRENT_USER, std::u16string(kKey) + u"\\A\\B", KEY_ALL_ACCESS, &key,
                                 &disposition) == ERROR_SUCCESS &&
            disposition == REG_CREATED_NEW_KEY,
        "creating a key makes the whole path");
  registry.RegCloseKey(key);

  RegKey a(registry);
  Check(a.Open(HKEY_CURRENT_USER, std::u16string(kKey) + u"\\a") == ERROR_SUCCESS,
        "key names compare without regard to case");
  const auto fixed = Sz(u"abc", 260);
  Check(registry.RegSetValueExW(a.Handle(), u"Path", REG_SZ, fixed) == ERROR_SUCCESS, "a 260-byte string is stored");
  std::vector<BYTE> back(300);
  DWORD type = 0;
  DWORD size = 0;
  Check(registry.RegQueryValueExW(a.Handle(), u"PATH", &type, back, &size) == ERROR_SUCCESS && size == 260 &&
            type == REG_SZ && std::equal(fixed.begin(), fixed.end(), back.begin()),
        "a 260-byte string reads back as the same 260 bytes");
  std::vector<BYTE> small(8, 0xEE);
  Check(registry.RegQueryValueExW(a.Handle(), u"Path", &type, small, &size) == ERROR_MORE_DATA && size == 260,
        "a smaller buffer gives ERROR_MORE_DATA and the full size");
  std::u16string text;
  Check(a.ReadString(u"Path", 260, &text) == ERROR_SUCCESS && text == u"abc",
        "a string's text ends at its first terminator");
  Check(a.ReadString(u"Missing", 260, &text) == ERROR_FILE_NOT_FOUND, "a missing value is ERROR_FILE_NOT_FOUND");
  Check(a.WriteFixedString(u"Long", std::u16string(200, u'x'), 260) == ERROR_SUCCESS &&
            a.ReadString(u"Long", 260, &text) == ERROR_SUCCESS && text.size() == 129,
        "a fixed-width write keeps its terminator: 129 characters in 260 bytes");

  RegKey parent(registry);
  parent.Open(HKEY_CURRENT_USER, kKey);
  std::vector<char16_t> name(64);
  DWORD length = static_cast<DWORD>(name.size());
  Check(registry.RegEnumKeyExW(parent.Handle(), 0, name, &length) == ERROR_SUCCESS &&
            std::u16string(name.data(), length) == u"A",
        "sub-keys are enumerated by index");
  length = static_cast<DWORD>(name.size());
  Check(registry.RegEnumKeyExW(parent.Handle(), 1, name, &length) == ERROR_NO_MORE_ITEMS,
        "enumeration ends with ERROR_NO_MORE_ITEMS");
  a.Close();
  parent.Close();
  Check(registry.RegDeleteKeyW(HKEY_CURRENT_USER, kKey) == ERROR_SUCCESS &&
            registry.RegOpenKeyExW(HKEY_CURRENT_USER, std::u16string(kKey) + u"\\A\\B", KEY_READ, &key) ==
                ERROR_FILE_NOT_FOUND,
        "deleting a key takes everything below it, as on the handheld");
}

void CodePage(qx::ICodePage& codePage) {
  using namespace qx;
  Check(codePage.WideCharToMultiByte(CP_KOREAN, u"\uD55C\uAE00") == "\xC7\xD1\xB1\xDB",
        "Hangul becomes its two-byte code page 949 form");
  Check(codePage.WideCharToMultiByte(CP_KOREAN, u"e\u00E9\u20A9") == "e??",
        "characters the code page lacks become \"?\", with no best fit");
  Check(codePage.MultiByteToWideChar(CP_KOREAN, "d41d8cd98f00b204") == u"d41d8cd98f00b204",
        "hex digits come back unchanged");
}

void Files(qx::IFiles& files) {
  using namespace qx;
  Check(files.CreateFileW(u"C:\\qx-backend-none.asx", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING) ==
            INVALID_HANDLE_VALUE,
        "a missing file is not created");
  if (std::FILE* made = std::fopen("C:\\qx-backend.asx", "wb")) {
    std::fputs("0123456789", made);
    std::fclose(made);
  }
  const HANDLE file = files.CreateFileW(u"C:\\qx-backend.asx", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
  Check(file != INVALID_HANDLE_VALUE, "an existing file opens for reading and writing");
  if (file == INVALID_HANDLE_VALUE) return;
  std::vector<BYTE> buffer(32);
  DWORD read = 0;
  Check(files.ReadFile(file, buffer, &read) && read == 10, "a read returns what the file holds");
  DWORD written = 0;
  const BYTE data[] = {'a', 'b'};
  Check(files.SetFilePointer(file, 0, FILE_BEGIN) == 0 && files.WriteFile(file, data, &written) && written == 2 &&
            files.SetEndOfFile(file),
        "writing from the start and cutting the file there");
  files.CloseHandle(file);
  if (std::FILE* back = std::fopen("C:\\qx-backend.asx", "rb")) {
    char text[16] = {};
    const std::size_t n = std::fread(text, 1, sizeof text, back);
    std::fclose(back);
    Check(n == 2 && text[0] == 'a' && text[1] == 'b', "the file holds exactly what was written");
  }
  std::remove("C:\\qx-backend.asx");
}

// Every kind of box that its program ends returns IDCANCEL, whatever buttons
// it shows, and 0 when destroyed (the simulated device's boxes are checked
// against the same).
void Boxes(qx::IWindows& windows) {
  const char* kinds[] = {"MB_OK", "MB_OKCANCEL", "?", "?", "MB_YESNO"};
  const qx::HWND owner = OwnerWindow();
  const auto endings = qx::boxes::EndEveryKind(windows, owner);
  windows.DestroyWindow(owner);
  Check(endings.size() == 24, "twenty-four boxes were opened and ended");
  for (const auto& ending : endings) {
    const int expected = ending.how == "DestroyWindow" ? 0 : qx::IDCANCEL;
    const std::string what = "a box ended by " + ending.how + " (" + kinds[ending.type] +
                             (ending.owned ? ", owned" : ", no owner") + ") returns " + std::to_string(expected) +
                             ": " + std::to_string(ending.result);
    Check(ending.result == expected, what.c_str());
  }
}

}  // namespace

int main() {
  qx::Win32Platform win32;
  qx::Platform& platform = win32.platform();
  Registry(platform.registry);
  CodePage(platform.codePage);
  Files(platform.files);
  Boxes(platform.windows);
  std::printf("backend: %d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
