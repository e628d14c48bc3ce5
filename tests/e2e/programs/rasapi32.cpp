// Stand-in for the system's dial-up library in the end-to-end tests: Wine's
// own reports no connections ever, so a hang-up could never be seen there.
// The prefix carries this one in its place ("rasapi32" loaded native).
//
// The open connections are the lines of %WINDIR%\qx-dialup.txt (UTF-8, one
// entry name a line), written by the test; a connection's handle is its line
// number. A hang-up blanks the line, so the connection is gone from the next
// enumeration, and appends "hang-up NAME" to %WINDIR%\qx-hangups.log. A line
// "!NAME" is a connection named NAME whose hang-up fails ("hang-up failed
// NAME" in the log; the connection stays); a line "=NAME" is a connection
// named NAME whatever NAME starts with, so a name may begin with "!" or "=".
#include <windows.h>
#include <ras.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kBufferTooSmall = 603;   // ERROR_BUFFER_TOO_SMALL
constexpr DWORD kInvalidSize = 632;      // ERROR_INVALID_SIZE
constexpr char kFailsMark = '!';
constexpr char kLiteralMark = '=';

std::wstring InWindows(const wchar_t* name) {
  wchar_t directory[MAX_PATH] = {};
  GetWindowsDirectoryW(directory, MAX_PATH);
  return std::wstring(directory) + L"\\" + name;
}

std::string ReadAll(const std::wstring& path) {
  std::string bytes;
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
  CloseHandle(file);
  return bytes;
}

void WriteAll(const std::wstring& path, const std::string& bytes, bool append) {
  const HANDLE file = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::wstring Wide(const std::string& utf8) {
  std::wstring out(utf8.size(), L'\0');
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(),
                                         static_cast<int>(out.size()));
  out.resize(static_cast<std::size_t>(length > 0 ? length : 0));
  return out;
}

// The list file's lines, blank ones (hung up) included, without line ends.
std::vector<std::string> Lines() {
  std::vector<std::string> lines;
  std::string text = ReadAll(InWindows(L"qx-dialup.txt"));
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::string NameOf(const std::string& line) {
  return !line.empty() && (line[0] == kFailsMark || line[0] == kLiteralMark) ? line.substr(1) : line;
}

}  // namespace

extern "C" DWORD WINAPI RasEnumConnectionsW(LPRASCONNW connections, LPDWORD bytes, LPDWORD count) {
  if (bytes == nullptr || count == nullptr) return ERROR_INVALID_PARAMETER;
  if (connections == nullptr || connections->dwSize != sizeof(RASCONNW)) return kInvalidSize;
  const std::vector<std::string> lines = Lines();
  std::vector<std::size_t> open;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!lines[i].empty()) open.push_back(i);
  }
  const DWORD needed = static_cast<DWORD>(open.size() * sizeof(RASCONNW));
  *count = static_cast<DWORD>(open.size());
  if (*bytes < needed) {
    *bytes = needed;
    return kBufferTooSmall;
  }
  for (std::size_t i = 0; i < open.size(); ++i) {
    RASCONNW& record = connections[i];
    std::memset(&record, 0, sizeof record);
    record.dwSize = sizeof(RASCONNW);
    record.hrasconn = reinterpret_cast<HRASCONN>(open[i] + 1);
    const std::wstring name = Wide(NameOf(lines[open[i]]));
    wcsncpy(record.szEntryName, name.c_str(), RAS_MaxEntryName);
  }
  *bytes = needed;
  return 0;
}

extern "C" DWORD WINAPI RasHangUpW(HRASCONN connection) {
  std::vector<std::string> lines = Lines();
  const std::size_t index = reinterpret_cast<std::size_t>(connection) - 1;
  if (index >= lines.size() || lines[index].empty()) return ERROR_INVALID_HANDLE;
  const std::string name = NameOf(lines[index]);
  const bool fails = lines[index][0] == kFailsMark;
  WriteAll(InWindows(L"qx-hangups.log"), (fails ? "hang-up failed " : "hang-up ") + name + "\r\n", true);
  if (fails) return ERROR_INVALID_HANDLE;
  lines[index].clear();
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  WriteAll(InWindows(L"qx-dialup.txt"), text, false);
  return 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
