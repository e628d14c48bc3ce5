// Processes, dial-up, files, code pages and power over Win32, and the
// assembly of the services.
#include "platform/win32/win32_internal.h"

#include <ras.h>
#include <shellapi.h>
#include <tlhelp32.h>
// ras.h names the record after the character width; the platform's own
// RASCONN is meant below.
#undef RASCONN

#include <algorithm>
#include <vector>

#include "platform/win32/win32.h"

namespace qx::win32 {

// ---- Processes -------------------------------------------------------------------

// The handheld keeps its process list in a library of its own,
// "toolhelp.dll", and the programs look for it by that name. It is loaded
// by name here too, and the snapshot calls go through its exports, so a
// system without the file behaves as a handheld without it. (Desktop
// Windows has no such file; the Windows builds ship a small one that
// forwards to the system's own calls.)
struct Processes::Toolhelp {
  ::HMODULE module = nullptr;
  using Create = ::HANDLE(WINAPI*)(::DWORD, ::DWORD);
  using Walk = ::BOOL(WINAPI*)(::HANDLE, ::PROCESSENTRY32W*);
  using Close = ::BOOL(WINAPI*)(::HANDLE);
  Create create = nullptr;
  Walk first = nullptr;
  Walk next = nullptr;
  Close close = nullptr;
};

Processes::~Processes() {
  if (toolhelp_ != nullptr) ::FreeLibrary(toolhelp_->module);
}

Processes::Toolhelp* Processes::LoadToolhelp() {
  if (toolhelp_ != nullptr) return toolhelp_.get();
  const ::HMODULE module = ::LoadLibraryW(L"toolhelp.dll");
  if (module == nullptr) return nullptr;
  auto loaded = std::make_unique<Toolhelp>();
  loaded->module = module;
  loaded->create = reinterpret_cast<Toolhelp::Create>(
      reinterpret_cast<void*>(::GetProcAddress(module, "CreateToolhelp32Snapshot")));
  loaded->first =
      reinterpret_cast<Toolhelp::Walk>(reinterpret_cast<void*>(::GetProcAddress(module, "Process32FirstW")));
  loaded->next = reinterpret_cast<Toolhelp::Walk>(reinterpret_cast<void*>(::GetProcAddress(module, "Process32NextW")));
  loaded->close = reinterpret_cast<Toolhelp::Close>(
      reinterpret_cast<void*>(::GetProcAddress(module, "CloseToolhelp32Snapshot")));
  if (loaded->create == nullptr || loaded->first == nullptr || loaded->next == nullptr || loaded->close == nullptr) {
    ::FreeLibrary(module);
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  toolhelp_ = std::move(loaded);
  return toolhelp_.get();
}

qx::HMODULE Processes::LoadLibraryW(std::u16string_view name) {
  return reinterpret_cast<qx::HMODULE>(::LoadLibraryW(Wz(name).c_str()));
}

BOOL Processes::FreeLibrary(qx::HMODULE module) {
  return ::FreeLibrary(reinterpret_cast<::HMODULE>(module));
}

qx::HANDLE Processes::CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
  Toolhelp* toolhelp = LoadToolhelp();
  if (toolhelp == nullptr) return kInvalidHandle;
  const ::HANDLE snapshot = toolhelp->create(flags, processId);
  if (snapshot != INVALID_HANDLE_VALUE) ++openSnapshots_;
  return snapshot;
}

namespace {
BOOL CopyEntry(BOOL got, const ::PROCESSENTRY32W& from, qx::PROCESSENTRY32W* to) {
  if (!got) return FALSE;
  to->th32ProcessID = from.th32ProcessID;
  to->cntThreads = from.cntThreads;
  to->th32ParentProcessID = from.th32ParentProcessID;
  to->szExeFile.fill(u'\0');
  const std::size_t length = std::min(::wcsnlen(from.szExeFile, MAX_PATH), to->szExeFile.size() - 1);
  std::copy_n(from.szExeFile, length, to->szExeFile.begin());
  return TRUE;
}
}  // namespace

BOOL Processes::Process32FirstW(qx::HANDLE snapshot, qx::PROCESSENTRY32W* entry) {
  if (toolhelp_ == nullptr || entry == nullptr || entry->dwSize < sizeof(qx::PROCESSENTRY32W)) return FALSE;
  ::PROCESSENTRY32W desktop{};
  desktop.dwSize = sizeof desktop;
  return CopyEntry(toolhelp_->first(snapshot, &desktop), desktop, entry);
}

BOOL Processes::Process32NextW(qx::HANDLE snapshot, qx::PROCESSENTRY32W* entry) {
  if (toolhelp_ == nullptr || entry == nullptr || entry->dwSize < sizeof(qx::PROCESSENTRY32W)) return FALSE;
  ::PROCESSENTRY32W desktop{};
  desktop.dwSize = sizeof desktop;
  return CopyEntry(toolhelp_->next(snapshot, &desktop), desktop, entry);
}

BOOL Processes::CloseToolhelp32Snapshot(qx::HANDLE snapshot) {
  if (toolhelp_ == nullptr) return FALSE;
  const BOOL closed = toolhelp_->close(snapshot);
  if (closed && --openSnapshots_ == 0) {
    // The library goes with the last snapshot, as the program's own
    // reference on it does.
    ::FreeLibrary(toolhelp_->module);
    toolhelp_.reset();
  }
  return closed;
}

qx::HANDLE Processes::OpenProcess(DWORD access, BOOL inherit, DWORD processId) {
  return ::OpenProcess(access, inherit, processId);
}

BOOL Processes::TerminateProcess(qx::HANDLE process, qx::UINT exitCode) {
  return ::TerminateProcess(process, exitCode);
}

BOOL Processes::CloseHandle(qx::HANDLE handle) { return ::CloseHandle(handle); }

namespace {

// Starts a program file directly. The handheld's shell does so for
// programs; desktop ShellExecuteEx may go through COM, which Windows
// refuses while the caller answers a message another program sent (the
// tray client restarts the Connection Manager and the browser while
// answering message 1124). False when the file is not a program found on
// the search path, so the shell gets it.
bool StartExecutableFile(const qx::SHELLEXECUTEINFOW& info, ::HANDLE* process) {
  if (!info.lpVerb.empty() && info.lpVerb != u"open") return false;
  wchar_t path[MAX_PATH] = {};
  const std::wstring file = Wz(info.lpFile);
  const ::DWORD length = ::SearchPathW(nullptr, file.c_str(), L".exe", MAX_PATH, path, nullptr);
  if (length == 0 || length >= MAX_PATH) return false;
  const std::wstring found(path, length);
  if (found.size() < 4 || ::lstrcmpiW(found.c_str() + found.size() - 4, L".exe") != 0) return false;
  std::wstring commandLine = L"\"" + found + L"\"";
  if (!info.lpParameters.empty()) commandLine += L" " + Wz(info.lpParameters);
  ::STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(info.nShow);
  ::PROCESS_INFORMATION started{};
  const std::wstring directory = Wz(info.lpDirectory);
  if (!::CreateProcessW(found.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        info.lpDirectory.empty() ? nullptr : directory.c_str(), &startup, &started)) {
    return false;
  }
  ::CloseHandle(started.hThread);
  *process = started.hProcess;
  return true;
}

}  // namespace

bool Processes::StartExecutable(qx::SHELLEXECUTEINFOW* info) {
  ::HANDLE process = nullptr;
  if (!StartExecutableFile(*info, &process)) return false;
  if ((info->fMask & SEE_MASK_NOCLOSEPROCESS) != 0) {
    info->hProcess = process;
  } else {
    ::CloseHandle(process);
  }
  return true;
}

BOOL Processes::ShellExecuteExW(qx::SHELLEXECUTEINFOW* info) {
  // The handheld's record is 60 bytes; anything else is refused as there.
  if (info == nullptr || info->cbSize != 60) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  info->hProcess = nullptr;
  if (StartExecutable(info)) return TRUE;
  const std::wstring verb = Wz(info->lpVerb);
  const std::wstring file = Wz(info->lpFile);
  const std::wstring parameters = Wz(info->lpParameters);
  const std::wstring directory = Wz(info->lpDirectory);
  ::SHELLEXECUTEINFOW desktop{};
  desktop.cbSize = sizeof desktop;
  // Failures are the caller's to report, as on the handheld: no error box.
  desktop.fMask = info->fMask | SEE_MASK_FLAG_NO_UI;
  desktop.hwnd = W(info->hwnd);
  desktop.lpVerb = info->lpVerb.empty() ? nullptr : verb.c_str();
  desktop.lpFile = file.c_str();
  desktop.lpParameters = info->lpParameters.empty() ? nullptr : parameters.c_str();
  desktop.lpDirectory = info->lpDirectory.empty() ? nullptr : directory.c_str();
  desktop.nShow = info->nShow;
  const BOOL started = ::ShellExecuteExW(&desktop);
  info->hProcess = started ? desktop.hProcess : nullptr;
  return started;
}

void Processes::Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }
DWORD Processes::GetLastError() { return ::GetLastError(); }

std::u16string Processes::GetModuleFileNameW() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const ::DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<::DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) return std::u16string(path.begin(), path.begin() + length);
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

// ---- Dial-up ---------------------------------------------------------------------------

DWORD DialUp::RasEnumConnectionsW(std::span<qx::RASCONN> records, DWORD* bytes, DWORD* count) {
  if (bytes == nullptr || count == nullptr) return ERROR_INVALID_PARAMETER;
  if (records.empty() || records[0].dwSize != kRasConnRecordSize) return 632;  // ERROR_INVALID_SIZE
  // The handheld's 52-byte records become desktop RASCONNW records for the
  // call and are filled back from them (handle and entry name; the name cut
  // to the handheld's 20 characters). Wine's RasEnumConnectionsW reports no
  // connections at all, so under Wine nothing is ever hung up.
  const std::size_t capacity = std::min<std::size_t>(records.size(), *bytes / kRasConnRecordSize);
  std::vector<RASCONNW> desktop(std::max<std::size_t>(capacity, 1));
  for (auto& record : desktop) record.dwSize = sizeof(RASCONNW);
  ::DWORD desktopBytes = static_cast<::DWORD>(capacity * sizeof(RASCONNW));
  ::DWORD found = 0;
  const ::DWORD status = ::RasEnumConnectionsW(desktop.data(), &desktopBytes, &found);
  if (status == ERROR_BUFFER_TOO_SMALL) {
    *bytes = static_cast<DWORD>(desktopBytes / sizeof(RASCONNW) * kRasConnRecordSize);
    return status;
  }
  if (status != 0) return status;
  const std::size_t copied = std::min<std::size_t>(found, capacity);
  for (std::size_t i = 0; i < copied; ++i) {
    qx::RASCONN& record = records[i];
    record.dwSize = kRasConnRecordSize;
    record.hrasconn = reinterpret_cast<qx::HRASCONN>(desktop[i].hrasconn);
    record.szEntryName.fill(u'\0');
    const std::size_t length = std::min(::wcsnlen(desktop[i].szEntryName, RAS_MaxEntryName + 1),
                                        record.szEntryName.size() - 1);
    std::copy_n(desktop[i].szEntryName, length, record.szEntryName.begin());
  }
  *bytes = static_cast<DWORD>(copied * kRasConnRecordSize);
  *count = static_cast<DWORD>(copied);
  return 0;
}

DWORD DialUp::RasHangUpW(qx::HRASCONN connection) {
  return ::RasHangUpW(reinterpret_cast<::HRASCONN>(connection));
}

// ---- Files ---------------------------------------------------------------------------------

qx::HANDLE Files::CreateFileW(std::u16string_view path, DWORD access, DWORD share, DWORD disposition) {
  if (disposition != OPEN_EXISTING) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return kInvalidHandle;
  }
  return ::CreateFileW(Wz(path).c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

BOOL Files::ReadFile(qx::HANDLE file, std::span<BYTE> buffer, DWORD* read) {
  ::DWORD got = 0;
  const BOOL ok = ::ReadFile(file, buffer.data(), static_cast<::DWORD>(buffer.size()), &got, nullptr);
  if (read != nullptr) *read = got;
  return ok;
}

BOOL Files::WriteFile(qx::HANDLE file, std::span<const BYTE> data, DWORD* written) {
  ::DWORD put = 0;
  const BOOL ok = ::WriteFile(file, data.data(), static_cast<::DWORD>(data.size()), &put, nullptr);
  if (written != nullptr) *written = put;
  return ok;
}

DWORD Files::SetFilePointer(qx::HANDLE file, LONG distance, DWORD method) {
  return ::SetFilePointer(file, distance, nullptr, method);
}

BOOL Files::SetEndOfFile(qx::HANDLE file) { return ::SetEndOfFile(file); }
BOOL Files::CloseHandle(qx::HANDLE file) { return ::CloseHandle(file); }

// ---- Code pages ------------------------------------------------------------------------------

std::string CodePage::WideCharToMultiByte(qx::UINT codePage, std::u16string_view text) {
  if (text.empty()) return {};
  // No best-fit mapping: a character the code page lacks becomes "?", as on
  // the handheld (Win32 would otherwise turn "é" into "e").
  const ::DWORD flags = WC_NO_BEST_FIT_CHARS;
  const auto* source = Wp(text.data());
  const int length = static_cast<int>(text.size());
  const int needed = ::WideCharToMultiByte(codePage, flags, source, length, nullptr, 0, "?", nullptr);
  if (needed <= 0) return {};
  std::string out(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(codePage, flags, source, length, out.data(), needed, "?", nullptr);
  return out;
}

std::u16string CodePage::MultiByteToWideChar(qx::UINT codePage, std::string_view bytes) {
  if (bytes.empty()) return {};
  const int length = static_cast<int>(bytes.size());
  const int needed = ::MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::u16string out(static_cast<std::size_t>(needed), u'\0');
  ::MultiByteToWideChar(codePage, 0, bytes.data(), length, Wp(out.data()), needed);
  return out;
}

// ---- Power --------------------------------------------------------------------------------

BOOL Power::KernelIoControl(DWORD code, std::span<const BYTE> in, std::span<BYTE> out, DWORD* returned) {
  (void)in;
  (void)out;
  if (returned != nullptr) *returned = 0;
  if (code != IOCTL_HAL_REBOOT) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  // Desktop Windows has no soft reset a program may ask for. The stand-in
  // keeps what a reset means to the caller: the request is recorded where a
  // test can see it (a line in "%WINDIR%\qx-soft-reset.log"; the registry
  // and files stay, as after a reset), and the calling process ends at
  // once, since on the handheld the call never comes back.
  wchar_t directory[MAX_PATH] = {};
  const ::UINT length = ::GetWindowsDirectoryW(directory, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    const std::wstring path = std::wstring(directory) + L"\\qx-soft-reset.log";
    const ::HANDLE log = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
      static constexpr char kLine[] = "soft reset\r\n";
      ::DWORD written = 0;
      ::WriteFile(log, kLine, sizeof kLine - 1, &written, nullptr);
      ::CloseHandle(log);
    }
  }
  ::ExitProcess(0);
}

}  // namespace qx::win32

// ---- The services of one process ------------------------------------------------------------

namespace qx {

struct Win32Platform::Services {
  win32::Registry registry;
  win32::Windows windows;
  win32::Processes processes;
  win32::DialUp dialUp;
  win32::Files files;
  win32::CodePage codePage;
  win32::Power power;
  Platform platform{registry, windows, processes, dialUp, files, codePage, power};
  // Under the scenario runner, the program sees the services through the
  // observed platform (platform/observed); otherwise as they are.
  std::unique_ptr<win32::Observation> observed = win32::ObserveFromEnvironment(platform);
};

Win32Platform::Win32Platform() : services_(std::make_unique<Services>()) {}
Win32Platform::~Win32Platform() = default;
Platform& Win32Platform::platform() { return services_->observed ? services_->observed->platform() : services_->platform; }

}  // namespace qx
