// The observed platform's core: what it knows of the program and its
// handles, its start and end, and the services other than the windows.
#include <algorithm>
#include <array>
#include <cstdio>

#include "platform/observed/observed_internal.h"
#include "platform/observed/world_link.h"

namespace qx::observed {

namespace {

constexpr std::array<std::string_view, 16> kRecordNames = {
    "set",    "create",    "delete",     "start",   "terminated", "closed",  "box",     "answered",
    "menu",   "menu-ended", "hang-up",   "soft-reset", "written", "cut",     "left-open", "ended",
};

std::u16string RootName(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return u"HKEY_CLASSES_ROOT";
  if (key == HKEY_CURRENT_USER) return u"HKEY_CURRENT_USER";
  if (key == HKEY_LOCAL_MACHINE) return u"HKEY_LOCAL_MACHINE";
  return {};
}

std::string FileBaseName(std::u16string_view path) {
  const auto slash = path.find_last_of(u"\\/");
  std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  const auto dot = name.rfind(u'.');
  if (dot != std::u16string_view::npos && dot > 0) name = name.substr(0, dot);
  return Utf8(name) + ".exe";
}

}  // namespace

std::string_view RecordName(Record record) { return kRecordNames[static_cast<std::size_t>(record)]; }

std::optional<Record> RecordFromName(std::string_view name) {
  const auto it = std::find(kRecordNames.begin(), kRecordNames.end(), name);
  if (it == kRecordNames.end()) return std::nullopt;
  return static_cast<Record>(it - kRecordNames.begin());
}

std::string_view HeldName(Held kind) {
  static constexpr std::array<std::string_view, 9> kNames = {
      "registry key", "file", "process", "snapshot", "window", "menu", "icon", "timer", "library",
  };
  return kNames[static_cast<std::size_t>(kind)];
}

std::string HexBytes(std::span<const BYTE> data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(data.size() * 2);
  for (BYTE b : data) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
  }
  return out;
}

std::string Decimal(long long value) { return std::to_string(value); }

// ---- What the program holds and knows --------------------------------------------

bool ObservedPlatform::State::Fails(Call call, LONG* error) {
  const auto fault = observer.Enter(call);
  if (!fault) return false;
  observer.SetLastError(static_cast<DWORD>(*fault));
  if (error != nullptr) *error = *fault;
  return true;
}

void ObservedPlatform::State::Opened(Held kind, std::uintptr_t value, std::string what, HWND window) {
  held[{kind, value}] = Handle{std::move(what), false, window};
}

void ObservedPlatform::State::Closed(Held kind, std::uintptr_t value) { held.erase({kind, value}); }

void ObservedPlatform::State::Refused(Held kind, std::uintptr_t value) {
  if (const auto it = held.find({kind, value}); it != held.end()) it->second.refused = true;
}

std::u16string ObservedPlatform::State::KeyPath(HKEY key, std::u16string_view subKey) const {
  std::u16string path = RootName(key);
  if (path.empty()) {
    const auto it = keyPaths.find(Value(key));
    if (it == keyPaths.end()) return {};
    path = it->second;
  }
  if (!subKey.empty()) path += u"\\" + std::u16string(subKey);
  return path;
}

std::string ObservedPlatform::State::BaseName(DWORD processId) {
  if (const auto it = images.find(processId); it != images.end()) return FileBaseName(it->second);
  return {};
}

std::string ObservedPlatform::State::Label(HWND hwnd) {
  IWindows& windows = inner.windows;
  std::array<char16_t, 256> buffer{};
  const int classLength = windows.GetClassNameW(hwnd, buffer);
  const std::u16string className(buffer.data(), static_cast<std::size_t>(std::max(classLength, 0)));
  const int titleLength = windows.GetWindowTextW(hwnd, buffer);
  const std::u16string title(buffer.data(), static_cast<std::size_t>(std::max(titleLength, 0)));
  const bool child = (static_cast<DWORD>(windows.GetWindowStyle(hwnd)) & WS_CHILD) != 0;
  std::string label;
  if (child) {
    label = Utf8(className) + " " + std::to_string(windows.GetDlgCtrlID(hwnd));
    if (!title.empty()) label += " \"" + Utf8(title) + "\"";
    label += " (";
  } else {
    label = "\"" + Utf8(title) + "\" (" + Utf8(className) + " ";
  }
  // The program's own windows, which are all the decorator labels.
  return label + "of " + FileBaseName(image) + ")";
}

// ---- Start and end ------------------------------------------------------------------

ObservedPlatform::ObservedPlatform(Platform& inner, Observer& observer)
    : state_(std::make_unique<State>(inner, observer)),
      registry_(std::make_unique<Registry>(*state_)),
      windows_(std::make_unique<Windows>(*state_)),
      processes_(std::make_unique<Processes>(*state_)),
      dialUp_(std::make_unique<DialUp>(*state_)),
      files_(std::make_unique<Files>(*state_)),
      codePage_(std::make_unique<CodePage>(*state_)),
      power_(std::make_unique<Power>(*state_)),
      platform_{*registry_, *windows_, *processes_, *dialUp_, *files_, *codePage_, *power_} {
  state_->image = inner.processes.GetModuleFileNameW();
}

ObservedPlatform::~ObservedPlatform() {
  // A soft reset ends every program at once, this one too: no end of its own.
  if (state_->resetting) return;
  IWindows& windows = state_->inner.windows;
  for (const auto& [key, handle] : state_->held) {
    // Windows and timers go with a window the system has already taken.
    if (key.first == Held::Window && !windows.IsWindow(reinterpret_cast<HWND>(key.second))) continue;
    if (key.first == Held::Timer && !windows.IsWindow(handle.window)) continue;
    state_->Write(Record::LeftOpen, {std::string(HeldName(key.first)), handle.what, handle.refused ? "1" : "0"});
  }
  state_->Write(Record::Ended, {});
}

// ---- Registry ---------------------------------------------------------------------------

LONG ObservedPlatform::Registry::RegOpenKeyExW(HKEY key, std::u16string_view subKey, REGSAM access, HKEY* result) {
  LONG error = ERROR_SUCCESS;
  if (state_.Fails(Call::RegOpenKeyExW, &error)) return error;
  const LONG status = state_.inner.registry.RegOpenKeyExW(key, subKey, access, result);
  if (status == ERROR_SUCCESS && result != nullptr) {
    const std::u16string path = state_.KeyPath(key, subKey);
    state_.keyPaths[Value(*result)] = path;
    state_.Opened(Held::RegistryKey, Value(*result), Utf8(path));
  }
  return status;
}

LONG ObservedPlatform::Registry::RegCreateKeyExW(HKEY key, std::u16string_view subKey, REGSAM access, HKEY* result,
                                                 DWORD* disposition) {
  LONG error = ERROR_SUCCESS;
  if (state_.Fails(Call::RegCreateKeyExW, &error)) return error;
  DWORD made = 0;
  const LONG status = state_.inner.registry.RegCreateKeyExW(key, subKey, access, result, &made);
  if (disposition != nullptr) *disposition = made;
  if (status == ERROR_SUCCESS && result != nullptr) {
    const std::u16string path = state_.KeyPath(key, subKey);
    state_.keyPaths[Value(*result)] = path;
    state_.Opened(Held::RegistryKey, Value(*result), Utf8(path));
    if (made == REG_CREATED_NEW_KEY) state_.Write(Record::Create, {Utf8(path)});
  }
  return status;
}

LONG ObservedPlatform::Registry::RegQueryValueExW(HKEY key, std::u16string_view name, DWORD* type,
                                                  std::span<BYTE> data, DWORD* size) {
  LONG error = ERROR_SUCCESS;
  if (state_.Fails(Call::RegQueryValueExW, &error)) return error;
  return state_.inner.registry.RegQueryValueExW(key, name, type, data, size);
}

LONG ObservedPlatform::Registry::RegSetValueExW(HKEY key, std::u16string_view name, DWORD type,
                                                std::span<const BYTE> data) {
  LONG error = ERROR_SUCCESS;
  if (state_.Fails(Call::RegSetValueExW, &error)) return error;
  // The planted fault: a string's terminator left out, as a careless
  // backend would.
  if (type == REG_SZ && data.size() >= 2 && data[data.size() - 1] == 0 && data[data.size() - 2] == 0 &&
      (state_.observer.Plants() & kPlantUnterminatedStrings) != 0) {
    data = data.first(data.size() - 2);
  }
  const LONG status = state_.inner.registry.RegSetValueExW(key, name, type, data);
  if (status == ERROR_SUCCESS) {
    state_.Write(Record::Set, {Utf8(state_.KeyPath(key, {})), Utf8(name), Decimal(type), HexBytes(data)});
  }
  return status;
}

LONG ObservedPlatform::Registry::RegEnumKeyExW(HKEY key, DWORD index, std::span<char16_t> name, DWORD* length) {
  LONG error = ERROR_SUCCESS;
  if (state_.Fails(Call::RegEnumKeyExW, &error)) return error;
  return state_.inner.registry.RegEnumKeyExW(key, index, name, length);
}

LONG ObservedPlatform::Registry::RegDeleteKeyW(HKEY key, std::u16string_view subKey) {
  LONG error = ERROR_SUCCESS;
  if (state_.Fails(Call::RegDeleteKeyW, &error)) return error;
  const LONG status = state_.inner.registry.RegDeleteKeyW(key, subKey);
  if (status == ERROR_SUCCESS) state_.Write(Record::Delete, {Utf8(state_.KeyPath(key, subKey))});
  return status;
}

LONG ObservedPlatform::Registry::RegCloseKey(HKEY key) {
  LONG error = ERROR_SUCCESS;
  if (state_.Fails(Call::RegCloseKey, &error)) {
    state_.Refused(Held::RegistryKey, Value(key));
    return error;
  }
  const LONG status = state_.inner.registry.RegCloseKey(key);
  if (status == ERROR_SUCCESS) {
    state_.Closed(Held::RegistryKey, Value(key));
    state_.keyPaths.erase(Value(key));
  }
  return status;
}

// ---- Processes --------------------------------------------------------------------------

HMODULE ObservedPlatform::Processes::LoadLibraryW(std::u16string_view name) {
  QX_OBSERVED(LoadLibraryW, nullptr)
  const HMODULE module = state_.inner.processes.LoadLibraryW(name);
  if (module != nullptr && state_.libraries[Value(module)]++ == 0) {
    state_.Opened(Held::Library, Value(module), "\"" + Utf8(name) + "\"");
  }
  return module;
}

BOOL ObservedPlatform::Processes::FreeLibrary(HMODULE module) {
  if (state_.Fails(Call::FreeLibrary)) {
    state_.Refused(Held::Library, Value(module));
    return FALSE;
  }
  const BOOL freed = state_.inner.processes.FreeLibrary(module);
  if (freed) {
    const auto it = state_.libraries.find(Value(module));
    if (it != state_.libraries.end() && --it->second == 0) {
      state_.libraries.erase(it);
      state_.Closed(Held::Library, Value(module));
    }
  }
  return freed;
}

HANDLE ObservedPlatform::Processes::CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
  QX_OBSERVED(CreateToolhelp32Snapshot, INVALID_HANDLE_VALUE)
  const HANDLE snapshot = state_.inner.processes.CreateToolhelp32Snapshot(flags, processId);
  if (snapshot != INVALID_HANDLE_VALUE && snapshot != nullptr) state_.Opened(Held::Snapshot, Value(snapshot), "");
  return snapshot;
}

BOOL ObservedPlatform::Processes::Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry) {
  QX_OBSERVED(Process32FirstW, FALSE)
  const BOOL got = state_.inner.processes.Process32FirstW(snapshot, entry);
  if (got && entry != nullptr) state_.images[entry->th32ProcessID] = entry->szExeFile.data();
  return got;
}

BOOL ObservedPlatform::Processes::Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry) {
  QX_OBSERVED(Process32NextW, FALSE)
  const BOOL got = state_.inner.processes.Process32NextW(snapshot, entry);
  if (got && entry != nullptr) state_.images[entry->th32ProcessID] = entry->szExeFile.data();
  return got;
}

BOOL ObservedPlatform::Processes::CloseToolhelp32Snapshot(HANDLE snapshot) {
  if (state_.Fails(Call::CloseToolhelp32Snapshot)) {
    state_.Refused(Held::Snapshot, Value(snapshot));
    return FALSE;
  }
  const BOOL closed = state_.inner.processes.CloseToolhelp32Snapshot(snapshot);
  if (closed) state_.Closed(Held::Snapshot, Value(snapshot));
  return closed;
}

HANDLE ObservedPlatform::Processes::OpenProcess(DWORD access, BOOL inherit, DWORD processId) {
  QX_OBSERVED(OpenProcess, nullptr)
  const HANDLE process = state_.inner.processes.OpenProcess(access, inherit, processId);
  if (process != nullptr) {
    state_.processes[Value(process)] = processId;
    const auto image = state_.images.find(processId);
    state_.Opened(Held::Process, Value(process),
                  "\"" + (image != state_.images.end() ? Utf8(image->second) : std::string()) + "\"");
  }
  return process;
}

BOOL ObservedPlatform::Processes::TerminateProcess(HANDLE process, UINT exitCode) {
  QX_OBSERVED(TerminateProcess, FALSE)
  const auto it = state_.processes.find(Value(process));
  const DWORD pid = it != state_.processes.end() ? it->second : 0;
  // Named while it still runs: by its file as the system knows it, else as
  // its snapshot entry named it.
  std::u16string image = state_.observer.ProcessImage(pid);
  if (image.empty()) {
    if (const auto listed = state_.images.find(pid); listed != state_.images.end()) image = listed->second;
  }
  const BOOL ended = state_.inner.processes.TerminateProcess(process, exitCode);
  if (ended) state_.Write(Record::Terminated, {Decimal(pid), Decimal(static_cast<int>(exitCode)), Utf8(image)});
  return ended;
}

BOOL ObservedPlatform::Processes::CloseHandle(HANDLE handle) {
  if (state_.Fails(Call::CloseHandle)) {
    for (Held kind : {Held::Process, Held::Snapshot}) state_.Refused(kind, Value(handle));
    return FALSE;
  }
  const BOOL closed = state_.inner.processes.CloseHandle(handle);
  if (closed) {
    state_.Closed(Held::Process, Value(handle));
    state_.Closed(Held::Snapshot, Value(handle));
    state_.processes.erase(Value(handle));
  }
  return closed;
}

BOOL ObservedPlatform::Processes::ShellExecuteExW(SHELLEXECUTEINFOW* info) {
  QX_OBSERVED(ShellExecuteExW, FALSE)
  if (info != nullptr) {
    state_.Write(Record::Start, {Utf8(info->lpFile), Utf8(info->lpParameters), Utf8(info->lpVerb),
                                 Utf8(info->lpDirectory), Decimal(info->nShow)});
  }
  const BOOL started = state_.inner.processes.ShellExecuteExW(info);
  if (started && info != nullptr && info->hProcess != nullptr) {
    state_.Opened(Held::Process, Value(info->hProcess), "\"" + Utf8(info->lpFile) + "\"");
  }
  return started;
}

void ObservedPlatform::Processes::Sleep(DWORD milliseconds) {
  if (state_.Fails(Call::Sleep)) return;
  state_.inner.processes.Sleep(milliseconds);
}

DWORD ObservedPlatform::Processes::GetLastError() {
  if (state_.observer.Enter(Call::GetLastError)) return 0;
  return state_.inner.processes.GetLastError();
}

std::u16string ObservedPlatform::Processes::GetModuleFileNameW() {
  QX_OBSERVED(GetModuleFileNameW, {})
  return state_.inner.processes.GetModuleFileNameW();
}

// ---- Dial-up, files, text, power ------------------------------------------------------------

DWORD ObservedPlatform::DialUp::RasEnumConnectionsW(std::span<RASCONN> records, DWORD* bytes, DWORD* count) {
  LONG error = ERROR_SUCCESS;
  if (state_.Fails(Call::RasEnumConnectionsW, &error)) return static_cast<DWORD>(error);
  const DWORD status = state_.inner.dialUp.RasEnumConnectionsW(records, bytes, count);
  if (status == 0 && count != nullptr) {
    for (std::size_t i = 0; i < std::min<std::size_t>(*count, records.size()); ++i) {
      const auto& name = records[i].szEntryName;
      state_.connections[Value(records[i].hrasconn)] =
          std::u16string(name.data(), std::find(name.begin(), name.end(), u'\0') - name.begin());
    }
  }
  return status;
}

DWORD ObservedPlatform::DialUp::RasHangUpW(HRASCONN connection) {
  LONG error = ERROR_SUCCESS;
  if (state_.Fails(Call::RasHangUpW, &error)) return static_cast<DWORD>(error);
  const DWORD status = state_.inner.dialUp.RasHangUpW(connection);
  if (status == 0) {
    const auto it = state_.connections.find(Value(connection));
    state_.Write(Record::HangUp, {it != state_.connections.end() ? Utf8(it->second) : std::string()});
  }
  return status;
}

HANDLE ObservedPlatform::Files::CreateFileW(std::u16string_view path, DWORD access, DWORD share, DWORD disposition) {
  QX_OBSERVED(CreateFileW, INVALID_HANDLE_VALUE)
  const HANDLE file = state_.inner.files.CreateFileW(path, access, share, disposition);
  if (file != INVALID_HANDLE_VALUE && file != nullptr) {
    state_.Opened(Held::File, Value(file), "\"" + Utf8(path) + "\"");
    state_.files[Value(file)] = std::u16string(path);
    state_.positions[Value(file)] = 0;
  }
  return file;
}

BOOL ObservedPlatform::Files::ReadFile(HANDLE file, std::span<BYTE> buffer, DWORD* read) {
  QX_OBSERVED(ReadFile, FALSE)
  DWORD got = 0;
  const BOOL done = state_.inner.files.ReadFile(file, buffer, &got);
  if (read != nullptr) *read = got;
  if (done) state_.positions[Value(file)] += got;
  return done;
}

BOOL ObservedPlatform::Files::WriteFile(HANDLE file, std::span<const BYTE> data, DWORD* written) {
  QX_OBSERVED(WriteFile, FALSE)
  DWORD put = 0;
  const BOOL done = state_.inner.files.WriteFile(file, data, &put);
  if (written != nullptr) *written = put;
  if (done) {
    std::uint64_t& position = state_.positions[Value(file)];
    state_.Write(Record::Written, {Decimal(put), Decimal(static_cast<long long>(position)), Utf8(state_.files[Value(file)])});
    position += put;
  }
  return done;
}

DWORD ObservedPlatform::Files::SetFilePointer(HANDLE file, LONG distance, DWORD method) {
  QX_OBSERVED(SetFilePointer, INVALID_SET_FILE_POINTER)
  const DWORD position = state_.inner.files.SetFilePointer(file, distance, method);
  if (position != INVALID_SET_FILE_POINTER) state_.positions[Value(file)] = position;
  return position;
}

BOOL ObservedPlatform::Files::SetEndOfFile(HANDLE file) {
  QX_OBSERVED(SetEndOfFile, FALSE)
  const auto before = state_.observer.FileSize(file);
  const BOOL done = state_.inner.files.SetEndOfFile(file);
  const std::uint64_t position = state_.positions[Value(file)];
  if (done && before && *before != position) {
    state_.Write(Record::Cut, {Decimal(static_cast<long long>(position)), Utf8(state_.files[Value(file)])});
  }
  return done;
}

BOOL ObservedPlatform::Files::CloseHandle(HANDLE file) {
  // The simulated device has one CloseHandle for processes and files.
  if (state_.Fails(Call::CloseHandle)) {
    state_.Refused(Held::File, Value(file));
    return FALSE;
  }
  const BOOL closed = state_.inner.files.CloseHandle(file);
  if (closed) {
    state_.Closed(Held::File, Value(file));
    state_.files.erase(Value(file));
    state_.positions.erase(Value(file));
  }
  return closed;
}

std::string ObservedPlatform::CodePage::WideCharToMultiByte(UINT codePage, std::u16string_view text) {
  QX_OBSERVED(WideCharToMultiByte, {})
  return state_.inner.codePage.WideCharToMultiByte(codePage, text);
}

std::u16string ObservedPlatform::CodePage::MultiByteToWideChar(UINT codePage, std::string_view bytes) {
  QX_OBSERVED(MultiByteToWideChar, {})
  return state_.inner.codePage.MultiByteToWideChar(codePage, bytes);
}

BOOL ObservedPlatform::Power::KernelIoControl(DWORD code, std::span<const BYTE> in, std::span<BYTE> out,
                                              DWORD* returned) {
  QX_OBSERVED(KernelIoControl, FALSE)
  // Told before it happens: on success the call does not come back.
  if (code == IOCTL_HAL_REBOOT) {
    state_.Write(Record::SoftReset, {});
    state_.resetting = true;
  }
  return state_.inner.power.KernelIoControl(code, in, out, returned);
}

}  // namespace qx::observed
