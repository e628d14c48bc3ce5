// Processes, dial-up, files and power of the simulated device, and the
// world around the programs: the device's own programs (stood in for by
// small models), the user's taps and the passing of time.
#include <algorithm>
#include <cstdio>

#include "platform/sim/effect_text.h"
#include "platform/sim/kernel_internal.h"
#include "platform/sim/text.h"

namespace qx::sim {

namespace {

std::u16string FileName(std::u16string_view path) {
  const auto slash = path.find_last_of(u"\\/");
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

std::string Quoted(std::u16string_view text) { return "\"" + Utf8(text) + "\""; }

// Win32's answer to a verb the file's type does not have.
constexpr DWORD kErrorNoAssociation = 1155;


// The device's own programs that the world stands in for.
enum class WorldProgram { None, ConnectionManager, Browser, Player };

WorldProgram Recognise(std::u16string_view file) {
  const std::u16string name = Lower(FileName(file));
  if (name == u"connmgr.exe") return WorldProgram::ConnectionManager;
  if (name == u"iexplore.exe") return WorldProgram::Browser;
  if (name == u"wmplayer.exe" || name == u"player.exe") return WorldProgram::Player;
  return WorldProgram::None;
}

constexpr std::u16string_view kBrowserClass = u"IExplore";
constexpr std::u16string_view kBrowserTitle = u"Internet Explorer";
constexpr std::u16string_view kBrowserViewClass = u"BrowserView";
constexpr std::u16string_view kPlayerClass = u"WMP";
constexpr std::u16string_view kPlayerTitle = u"Windows Media";

}  // namespace

Kernel::Kernel(CallLedger& ledger) : ledger_(ledger) {
  ledger_.handles().SetCaller([this] {
    const Program* self = Current();
    return self != nullptr ? self->pid : DWORD{0};
  });
  Boot();
}

Kernel::~Kernel() {
  KillAll();
  for (auto& [pid, program] : programs_) {
    if (program->thread.joinable()) program->thread.join();
  }
}

void Kernel::Boot() {
  // What runs on a handheld that has just started: the kernel, the shell
  // with its Today screen, and the Connection Manager.
  AddWorldProcess(u"nk.exe");
  const DWORD shell = AddWorldProcess(u"shell32.exe");
  Window& desktop = CreateWindowObject(shell, u"DesktopExplorerWindow", u"Desktop", {0, 0, kScreenWidth, kScreenHeight},
                                       nullptr);
  desktop.visible = true;
  desktop_ = desktop.hwnd;
  zOrder_.push_back(desktop_);
  foreground_ = desktop_;
  AddWorldProcess(u"connmgr.exe");
}

// ---- Processes ---------------------------------------------------------------------

DWORD Kernel::NewProcessId() { return nextProcessId_ += 0x10; }

DWORD Kernel::AddWorldProcess(std::u16string_view image) { return Spawn(image, {}, nullptr); }

void Kernel::InstallProgram(std::u16string_view path, ProgramImage image) {
  images_[Lower(path)] = std::move(image);
}

std::u16string Kernel::ProcessImage(DWORD processId) const {
  const auto it = processes_.find(processId);
  return it == processes_.end() ? std::u16string() : it->second->image;
}

void Kernel::SetLastError(DWORD error) {
  if (Program* self = Current()) {
    self->lastError = error;
  } else {
    worldLastError_ = error;
  }
}

DWORD Kernel::GetLastError() {
  const CallScope qx_scope;
  if (ledger_.Enter(Call::GetLastError)) return 0;
  const Program* self = Current();
  return self != nullptr ? self->lastError : worldLastError_;
}

std::u16string Kernel::GetModuleFileNameW() {
  const CallScope qx_scope;
  if (ledger_.Enter(Call::GetModuleFileNameW)) return {};
  const Program* self = Current();
  return self != nullptr ? self->image : std::u16string();
}

void Kernel::EndProcess(DWORD processId, bool killed, std::optional<UINT> exitCode) {
  const auto it = processes_.find(processId);
  if (it == processes_.end()) return;
  const std::u16string image = it->second->image;
  // The system takes the windows of a process that is gone: no messages,
  // no clean-up of the program's own.
  std::vector<HWND> owned;
  for (HWND hwnd : zOrder_) {
    const Window* window = Find(hwnd);
    if (window != nullptr && window->processId == processId) owned.push_back(hwnd);
  }
  it->second->program = true;  // its windows going must not end it a second time
  for (HWND hwnd : owned) DestroyTree(hwnd, false);
  processes_.erase(processId);
  DropTimers([processId](const Timer& timer) { return timer.processId == processId; });
  // The system takes back whatever the process held.
  ledger_.handles().Release(processId);
  std::erase_if(libraries_, [processId](const auto& entry) { return entry.first.first == processId; });
  if (menuOpen_ && menuOpen_->processId == processId) menuOpen_.reset();
  if (boxOpen_) {
    if (const Window* box = Find(boxOpen_->window); box == nullptr || box->processId == processId) boxOpen_.reset();
  }
  Log(killed ? Effect::Kind::ProcessKilled : Effect::Kind::ProgramEnd,
      EndText(killed, image, processId, exitCode ? &*exitCode : nullptr));
}

void Kernel::Kill(DWORD processId, std::optional<UINT> exitCode) {
  const auto program = programs_.find(processId);
  if (program != programs_.end() && !program->second->exited) program->second->killed = true;
  EndProcess(processId, true, exitCode);
}

DWORD Kernel::StartProgram(std::u16string_view path, std::u16string_view commandLine) {
  const auto image = images_.find(Lower(path));
  if (image == images_.end()) return 0;
  Log(Effect::Kind::ProgramStart, "program started: " + Quoted(path) +
                                      (commandLine.empty() ? std::string() : " with " + Quoted(commandLine)));
  const DWORD pid = Spawn(path, commandLine, &image->second);
  RunUntilQuiet();
  return pid;
}

bool Kernel::StartWorldProgram(std::u16string_view file, std::u16string_view parameters, DWORD* processId) {
  switch (Recognise(file)) {
    case WorldProgram::ConnectionManager:
      *processId = AddWorldProcess(FileName(file));
      return true;
    case WorldProgram::Browser: {
      const std::string page = parameters.empty() ? "its start page" : Quoted(parameters);
      if (const HWND browser = FindWindowW(kBrowserClass, kBrowserTitle)) {
        // The browser runs once: a second start shows the page in it.
        Window* window = Find(browser);
        *processId = window->processId;
        window->visible = true;
        Raise(browser, false);
        foreground_ = browser;
        Log(Effect::Kind::Browser, "the browser shows " + page);
        return true;
      }
      *processId = AddWorldProcess(FileName(file));
      const HWND browser = OpenWorldWindow(ProcessImage(*processId), kBrowserClass, kBrowserTitle, kWorkArea);
      // The page is shown in a child window over the whole client area, so
      // a point on the page belongs to the child, not to the main window.
      OpenWorldChild(browser, kBrowserViewClass,
                     {0, 0, kWorkArea.right - kWorkArea.left, kWorkArea.bottom - kWorkArea.top});
      Log(Effect::Kind::Browser, "the browser opens with " + page);
      return true;
    }
    case WorldProgram::Player: {
      // Starting a stream brings the player to the front, and the browser
      // with the link leaves it.
      const std::u16string image = file.find(u'\\') == std::u16string_view::npos
                                       ? u"\\Windows\\" + std::u16string(file)
                                       : std::u16string(file);
      if (const HWND player = FindWindowW(kPlayerClass, kPlayerTitle)) {
        *processId = Find(player)->processId;
        BringToFront(player);
      } else {
        *processId = AddWorldProcess(image);
        OpenWorldWindow(image, kPlayerClass, kPlayerTitle, kWorkArea);
      }
      Log(Effect::Kind::Note, "the media player plays " + Quoted(parameters));
      return true;
    }
    case WorldProgram::None:
      break;
  }
  if (files_.count(Lower(file)) != 0) {
    *processId = AddWorldProcess(file);
    return true;
  }
  return false;
}

BOOL Kernel::ShellExecuteExW(SHELLEXECUTEINFOW* info) {
  QX_ENTER(ShellExecuteExW, FALSE)
  if (info == nullptr || info->cbSize != 60) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    return FALSE;
  }
  shellStarts_.push_back({std::u16string(info->lpVerb), std::u16string(info->lpFile),
                          std::u16string(info->lpParameters), std::u16string(info->lpDirectory), info->nShow,
                          info->fMask, info->hwnd, CallingProcess(), boots_});
  Log(Effect::Kind::ProgramStart,
      StartText(info->lpFile, info->lpParameters, info->lpVerb, info->lpDirectory, info->nShow));
  // A program file has one action, opening it; the shell knows no other.
  if (!info->lpVerb.empty() && !EqualsNoCase(info->lpVerb, u"open")) {
    Log(Effect::Kind::Note, "no action " + Quoted(info->lpVerb) + " for " + Quoted(info->lpFile));
    SetLastError(kErrorNoAssociation);
    return FALSE;
  }
  DWORD pid = 0;
  std::u16string installed;
  for (const auto& [path, image] : images_) {
    if (path == Lower(info->lpFile) ||
        (info->lpFile.find(u'\\') == std::u16string_view::npos && Lower(FileName(path)) == Lower(info->lpFile))) {
      installed = path;
    }
  }
  if (!installed.empty()) {
    pid = Spawn(installed, info->lpParameters, &images_.at(installed));
  } else if (!StartWorldProgram(info->lpFile, info->lpParameters, &pid)) {
    Log(Effect::Kind::Note, "no such program: " + Quoted(info->lpFile));
    SetLastError(static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    return FALSE;
  }
  info->hProcess = nullptr;
  if ((info->fMask & SEE_MASK_NOCLOSEPROCESS) != 0) {
    HandleObject object;
    object.kind = HandleObject::kProcess;
    object.processId = pid;
    info->hProcess = NewKernelHandle(std::move(object));
  }
  return TRUE;
}


HANDLE Kernel::NewKernelHandle(HandleObject object) {
  const std::uintptr_t value = nextHandle_ += 4;
  switch (object.kind) {
    case HandleObject::kSnapshot:
      ledger_.handles().Opened(HandleKind::Snapshot, value, "");
      break;
    case HandleObject::kProcess:
      ledger_.handles().Opened(HandleKind::Process, value, Quoted(ProcessImage(object.processId)));
      break;
    default:
      ledger_.handles().Opened(HandleKind::File, value, Quoted(files_.at(object.path).first));
      break;
  }
  handles_[value] = std::make_unique<HandleObject>(std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

// kind 0 closes a handle of any kind, as CloseHandle does.
BOOL Kernel::CloseKernelHandle(HANDLE handle, int kind) {
  const auto it = handles_.find(HandleValue(handle));
  if (it == handles_.end() || (kind != 0 && it->second->kind != kind)) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_HANDLE));
    return FALSE;
  }
  const HandleKind audited = it->second->kind == HandleObject::kSnapshot  ? HandleKind::Snapshot
                             : it->second->kind == HandleObject::kProcess ? HandleKind::Process
                                                                          : HandleKind::File;
  handles_.erase(it);
  ledger_.handles().Closed(audited, HandleValue(handle));
  return TRUE;
}

Kernel::HandleObject* Kernel::FindHandle(HANDLE handle, int kind) {
  const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == handles_.end() || it->second->kind != kind) return nullptr;
  return it->second.get();
}

HMODULE Kernel::LoadLibraryW(std::u16string_view name) {
  QX_ENTER(LoadLibraryW, nullptr)
  const std::u16string file = Lower(FileName(name));
  const bool present = file == u"coredll.dll" || file == u"commctrl.dll" || (file == u"toolhelp.dll" && toolhelpPresent_);
  if (!present) {
    SetLastError(static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    return nullptr;
  }
  // The handle names the library; each load is a reference the program
  // gives back with FreeLibrary, and the process's end gives back the rest.
  const auto module = static_cast<std::uintptr_t>(0x10000 + file.size());
  const Program* self = Current();
  const DWORD owner = self != nullptr ? self->pid : 0;
  if (libraries_[{owner, module}]++ == 0) ledger_.handles().Opened(HandleKind::Library, module, Quoted(file));
  return reinterpret_cast<HMODULE>(module);
}

BOOL Kernel::FreeLibrary(HMODULE module) {
  QX_ENTER_CLOSE(FreeLibrary, Library, HandleValue(module), FALSE)
  const Program* self = Current();
  const auto it = libraries_.find({self != nullptr ? self->pid : 0, HandleValue(module)});
  if (it == libraries_.end()) return FALSE;
  if (--it->second == 0) {
    libraries_.erase(it);
    ledger_.handles().Closed(HandleKind::Library, HandleValue(module));
  }
  return TRUE;
}

HANDLE Kernel::CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
  QX_ENTER(CreateToolhelp32Snapshot, INVALID_HANDLE_VALUE)
  (void)processId;
  if ((flags & TH32CS_SNAPPROCESS) == 0) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    return INVALID_HANDLE_VALUE;
  }
  HandleObject snapshot;
  snapshot.kind = HandleObject::kSnapshot;
  for (const auto& [pid, process] : processes_) {
    PROCESSENTRY32W entry;
    entry.th32ProcessID = pid;
    entry.cntThreads = 1;
    const std::size_t count = std::min(process->image.size(), entry.szExeFile.size() - 1);
    std::copy_n(process->image.begin(), count, entry.szExeFile.begin());
    snapshot.entries.push_back(entry);
  }
  return NewKernelHandle(std::move(snapshot));
}

namespace {
BOOL CopyEntry(const std::vector<PROCESSENTRY32W>& entries, std::size_t index, PROCESSENTRY32W* entry) {
  if (entry == nullptr || entry->dwSize < sizeof(PROCESSENTRY32W) || index >= entries.size()) return FALSE;
  *entry = entries[index];
  return TRUE;
}
}  // namespace

BOOL Kernel::Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry) {
  QX_ENTER(Process32FirstW, FALSE)
  HandleObject* object = FindHandle(snapshot, HandleObject::kSnapshot);
  if (object == nullptr) return FALSE;
  object->next = 1;
  if (!CopyEntry(object->entries, 0, entry)) {
    SetLastError(18);  // ERROR_NO_MORE_FILES
    return FALSE;
  }
  return TRUE;
}

BOOL Kernel::Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry) {
  QX_ENTER(Process32NextW, FALSE)
  HandleObject* object = FindHandle(snapshot, HandleObject::kSnapshot);
  if (object == nullptr) return FALSE;
  if (!CopyEntry(object->entries, object->next, entry)) {
    SetLastError(18);  // ERROR_NO_MORE_FILES
    return FALSE;
  }
  ++object->next;
  return TRUE;
}

BOOL Kernel::CloseToolhelp32Snapshot(HANDLE snapshot) {
  QX_ENTER_CLOSE(CloseToolhelp32Snapshot, Snapshot, HandleValue(snapshot), FALSE)
  return CloseKernelHandle(snapshot, HandleObject::kSnapshot);
}

HANDLE Kernel::OpenProcess(DWORD access, BOOL inherit, DWORD processId) {
  QX_ENTER(OpenProcess, nullptr)
  (void)inherit;  // no program here starts children that could inherit it
  if (processes_.count(processId) == 0) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    return nullptr;
  }
  HandleObject object;
  object.kind = HandleObject::kProcess;
  object.processId = processId;
  object.access = access;
  return NewKernelHandle(std::move(object));
}

BOOL Kernel::TerminateProcess(HANDLE process, UINT exitCode) {
  QX_ENTER(TerminateProcess, FALSE)
  const HandleObject* object = FindHandle(process, HandleObject::kProcess);
  if (object == nullptr) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_HANDLE));
    return FALSE;
  }
  const DWORD pid = object->processId;
  if (processes_.count(pid) == 0 || (object->access & PROCESS_TERMINATE) == 0) {
    SetLastError(static_cast<DWORD>(ERROR_ACCESS_DENIED));
    return FALSE;
  }
  terminations_.push_back({ProcessImage(pid), exitCode});
  Kill(pid, exitCode);
  const Program* self = Current();
  if (self != nullptr && self->pid == pid) throw ProgramKilled{};
  return TRUE;
}

BOOL Kernel::CloseHandle(HANDLE handle) {
  const CallScope qx_scope;
  if (auto error = ledger_.Enter(Call::CloseHandle)) {
    for (HandleKind kind : {HandleKind::Process, HandleKind::File, HandleKind::Snapshot}) {
      ledger_.handles().CloseRefused(kind, HandleValue(handle));
    }
    SetLastError(static_cast<DWORD>(*error));
    return FALSE;
  }
  return CloseKernelHandle(handle, 0);
}

std::vector<std::u16string> Kernel::ShellStarts() const {
  std::vector<std::u16string> starts;
  for (const ShellStart& start : shellStarts_) starts.push_back(start.file + u" " + start.parameters);
  return starts;
}

// ---- Dial-up -----------------------------------------------------------------------------

HRASCONN Kernel::Dial(std::u16string_view entryName) {
  const HRASCONN handle = reinterpret_cast<HRASCONN>(nextConnection_ += 4);
  connections_.push_back({handle, std::u16string(entryName.substr(0, RAS_MaxEntryName))});
  // The connection is the dialler's, not a program's: never a program's leak.
  ledger_.handles().OpenedFor(0, HandleKind::DialUp, HandleValue(handle), Quoted(entryName));
  return handle;
}

std::vector<std::u16string> Kernel::Connections() const {
  std::vector<std::u16string> names;
  for (const Connection& connection : connections_) names.push_back(connection.name);
  return names;
}

DWORD Kernel::RasEnumConnectionsW(std::span<RASCONN> records, DWORD* bytes, DWORD* count) {
  const CallScope qx_scope;
  if (auto error = ledger_.Enter(Call::RasEnumConnectionsW)) return static_cast<DWORD>(*error);
  if (bytes == nullptr || count == nullptr) return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
  if (records.empty() || records[0].dwSize != kRasConnRecordSize) return 632;  // ERROR_INVALID_SIZE
  const DWORD needed = static_cast<DWORD>(connections_.size()) * kRasConnRecordSize;
  if (*bytes < needed || records.size() < connections_.size()) {
    *bytes = needed;
    return static_cast<DWORD>(ERROR_BUFFER_TOO_SMALL);
  }
  for (std::size_t i = 0; i < connections_.size(); ++i) {
    RASCONN& record = records[i];
    record.dwSize = kRasConnRecordSize;
    record.hrasconn = connections_[i].handle;
    record.szEntryName.fill(u'\0');
    std::copy(connections_[i].name.begin(), connections_[i].name.end(), record.szEntryName.begin());
  }
  *bytes = needed;
  *count = static_cast<DWORD>(connections_.size());
  return 0;
}

DWORD Kernel::RasHangUpW(HRASCONN connection) {
  const CallScope qx_scope;
  if (auto error = ledger_.Enter(Call::RasHangUpW)) return static_cast<DWORD>(*error);
  const auto it = std::find_if(connections_.begin(), connections_.end(),
                               [connection](const Connection& c) { return c.handle == connection; });
  if (it == connections_.end()) return static_cast<DWORD>(ERROR_INVALID_HANDLE);
  Log(Effect::Kind::HangUp, HangUpText(it->name));
  connections_.erase(it);
  ledger_.handles().Closed(HandleKind::DialUp, HandleValue(connection));
  return 0;
}

// ---- Files -------------------------------------------------------------------------------

void Kernel::PutFile(std::u16string_view path, std::vector<BYTE> bytes) {
  contentsPut_[Lower(path)].push_back(bytes);
  files_[Lower(path)] = {std::u16string(path), std::move(bytes)};
}

std::vector<std::u16string> Kernel::FilePaths() const {
  std::vector<std::u16string> paths;
  for (const auto& [key, file] : files_) paths.push_back(file.first);
  return paths;
}

std::vector<std::vector<BYTE>> Kernel::ContentsPut(std::u16string_view path) const {
  const auto it = contentsPut_.find(Lower(path));
  return it == contentsPut_.end() ? std::vector<std::vector<BYTE>>{} : it->second;
}

std::optional<std::vector<BYTE>> Kernel::GetFile(std::u16string_view path) const {
  const auto it = files_.find(Lower(path));
  if (it == files_.end()) return std::nullopt;
  return it->second.second;
}

HANDLE Kernel::CreateFileW(std::u16string_view path, DWORD access, DWORD share, DWORD disposition) {
  QX_ENTER(CreateFileW, INVALID_HANDLE_VALUE)
  (void)share;
  if (disposition != OPEN_EXISTING) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    return INVALID_HANDLE_VALUE;
  }
  const std::u16string key = Lower(path);
  if (files_.count(key) == 0) {
    SetLastError(static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    return INVALID_HANDLE_VALUE;
  }
  HandleObject object;
  object.kind = HandleObject::kFile;
  object.path = key;
  object.writable = (access & GENERIC_WRITE) != 0;
  return NewKernelHandle(std::move(object));
}

BOOL Kernel::ReadFile(HANDLE file, std::span<BYTE> buffer, DWORD* read) {
  QX_ENTER(ReadFile, FALSE)
  HandleObject* object = FindHandle(file, HandleObject::kFile);
  if (object == nullptr || files_.count(object->path) == 0) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_HANDLE));
    return FALSE;
  }
  const std::vector<BYTE>& bytes = files_.at(object->path).second;
  const std::size_t available = object->position < bytes.size() ? bytes.size() - object->position : 0;
  const std::size_t count = std::min(available, buffer.size());
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(object->position), count, buffer.begin());
  object->position += count;
  if (read != nullptr) *read = static_cast<DWORD>(count);
  return TRUE;
}

BOOL Kernel::WriteFile(HANDLE file, std::span<const BYTE> data, DWORD* written) {
  QX_ENTER(WriteFile, FALSE)
  HandleObject* object = FindHandle(file, HandleObject::kFile);
  if (object == nullptr || files_.count(object->path) == 0) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_HANDLE));
    return FALSE;
  }
  if (!object->writable) {
    SetLastError(static_cast<DWORD>(ERROR_ACCESS_DENIED));
    return FALSE;
  }
  std::vector<BYTE>& bytes = files_.at(object->path).second;
  if (bytes.size() < object->position + data.size()) bytes.resize(object->position + data.size(), 0);
  std::copy(data.begin(), data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(object->position));
  Log(Effect::Kind::File, WrittenText(data.size(), object->position, files_.at(object->path).first));
  object->position += data.size();
  if (written != nullptr) *written = static_cast<DWORD>(data.size());
  return TRUE;
}

DWORD Kernel::SetFilePointer(HANDLE file, LONG distance, DWORD method) {
  QX_ENTER(SetFilePointer, INVALID_SET_FILE_POINTER)
  HandleObject* object = FindHandle(file, HandleObject::kFile);
  if (object == nullptr || files_.count(object->path) == 0) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_HANDLE));
    return INVALID_SET_FILE_POINTER;
  }
  const long long size = static_cast<long long>(files_.at(object->path).second.size());
  const long long base = method == FILE_BEGIN ? 0 : method == 1 ? static_cast<long long>(object->position) : size;
  const long long target = base + distance;
  if (target < 0 || target >= 0xFFFFFFFFLL) {
    SetLastError(131);  // ERROR_NEGATIVE_SEEK
    return INVALID_SET_FILE_POINTER;
  }
  object->position = static_cast<std::size_t>(target);
  return static_cast<DWORD>(target);
}

BOOL Kernel::SetEndOfFile(HANDLE file) {
  QX_ENTER(SetEndOfFile, FALSE)
  HandleObject* object = FindHandle(file, HandleObject::kFile);
  if (object == nullptr || files_.count(object->path) == 0 || !object->writable) return FALSE;
  auto& [display, bytes] = files_.at(object->path);
  if (bytes.size() != object->position) {
    Log(Effect::Kind::File, CutText(object->position, display));
  }
  bytes.resize(object->position, 0);
  return TRUE;
}

// ---- Power -------------------------------------------------------------------------------

BOOL Kernel::KernelIoControl(DWORD code, std::span<const BYTE> in, std::span<BYTE> out, DWORD* returned) {
  QX_ENTER(KernelIoControl, FALSE)
  (void)in;
  (void)out;
  if (returned != nullptr) *returned = 0;
  if (code != IOCTL_HAL_REBOOT) {
    SetLastError(50);  // ERROR_NOT_SUPPORTED
    return FALSE;
  }
  SoftReset();
  if (Current() != nullptr) throw ProgramKilled{};  // a reset does not come back
  return TRUE;
}

void Kernel::Reset() {
  SoftReset();
  RunUntilQuiet();
}

void Kernel::SoftReset() {
  Log(Effect::Kind::SoftReset, std::string(kSoftResetText));
  ++boots_;
  // Programs unwind when they next run; nothing of theirs survives the reset.
  for (auto& [pid, program] : programs_) {
    if (!program->exited) program->killed = true;
  }
  processes_.clear();
  windows_.clear();
  zOrder_.clear();
  timers_.clear();
  menus_.clear();
  icons_.clear();
  connections_.clear();
  handles_.clear();
  libraries_.clear();
  ledger_.handles().ReleaseAll();
  menuOpen_.reset();
  boxOpen_.reset();
  focus_ = capture_ = foreground_ = desktop_ = nullptr;
  Boot();
}

// ---- The world's windows and the user ----------------------------------------------------

HWND Kernel::OpenWorldWindow(std::u16string_view image, std::u16string_view className, std::u16string_view title,
                             RECT rect) {
  DWORD pid = 0;
  for (const auto& [id, process] : processes_) {
    if (EqualsNoCase(process->image, image)) pid = id;
  }
  if (pid == 0) pid = AddWorldProcess(image);
  Window& window = CreateWindowObject(pid, className, title, rect, nullptr);
  window.visible = true;
  const HWND hwnd = window.hwnd;
  zOrder_.insert(std::find(zOrder_.begin(), zOrder_.end(), desktop_), hwnd);
  Raise(hwnd, false);
  foreground_ = hwnd;
  return hwnd;
}

HWND Kernel::OpenWorldChild(HWND parent, std::u16string_view className, RECT rect) {
  Window* owner = Find(parent);
  if (owner == nullptr) return nullptr;
  Window& window = CreateWindowObject(owner->processId, className, u"", rect, parent);
  window.child = true;
  window.visible = true;
  // The newest child lies over the others.
  owner->children.insert(owner->children.begin(), window.hwnd);
  return window.hwnd;
}

void Kernel::BringToFront(HWND hwnd) {
  Window* window = Find(hwnd);
  if (window == nullptr || window->child) return;
  window->visible = true;
  Raise(hwnd, window->topmost);
  foreground_ = hwnd;
  Log(Effect::Kind::Foreground, "in front: " + Label(hwnd));
  RunUntilQuiet();
}

void Kernel::CloseWindow(HWND hwnd) {
  if (Find(hwnd) == nullptr) return;
  PostMessageW(hwnd, WM_CLOSE, 0, 0);
  RunUntilQuiet();
}

void Kernel::SetClientHeight(HWND hwnd, int height) {
  if (Window* window = Find(hwnd)) window->rect.bottom = window->rect.top + std::max(height, 0);
}

void Kernel::StylusDown(POINT point) {
  DismissMenu();
  cursor_ = point;
  stylusDown_ = true;
  const HWND target = WindowFromPoint(point);
  Window* window = Find(target);
  if (window == nullptr) return;
  // A tap brings the window's top-level window to the front.
  HWND top = target;
  while (Find(top) != nullptr && Find(top)->child) top = Find(top)->parent;
  if (Window* topWindow = Find(top); topWindow != nullptr && top != desktop_ && !topWindow->topmost) {
    Raise(top, false);
  }
  if (top != desktop_) foreground_ = top;
  if (!TakesInput(*window)) return;
  POINT local = point;
  ScreenToClient(target, &local);
  if (ProgramOf(window->processId) != nullptr) {
    PostToProgram(window->processId, {target, WM_LBUTTONDOWN, 1, MAKELPARAM(local.x, local.y)});
  }
  RunUntilQuiet();
}

void Kernel::StylusUp() {
  stylusDown_ = false;
  const HWND target = capture_ != nullptr ? capture_ : WindowFromPoint(cursor_);
  const Window* window = Find(target);
  if (window != nullptr && ProgramOf(window->processId) != nullptr) {
    POINT local = cursor_;
    ScreenToClient(target, &local);
    PostToProgram(window->processId, {target, WM_LBUTTONUP, 0, MAKELPARAM(local.x, local.y)});
  }
  RunUntilQuiet();
}

void Kernel::MovePointer(POINT point) {
  cursor_ = point;
  const HWND target = capture_ != nullptr ? capture_ : WindowFromPoint(point);
  const Window* window = Find(target);
  if (window != nullptr && ProgramOf(window->processId) != nullptr) {
    POINT local = point;
    ScreenToClient(target, &local);
    PostToProgram(window->processId, {target, WM_MOUSEMOVE, stylusDown_ ? 1u : 0u, MAKELPARAM(local.x, local.y)});
  }
  RunUntilQuiet();
}

bool Kernel::TakesInput(const Window& window) const {
  // A control of a disabled window takes no input either (a dialog whose
  // message box is open).
  for (const Window* w = &window; w != nullptr; w = w->child ? Find(w->parent) : nullptr) {
    if (!w->enabled) return false;
  }
  return true;
}

bool Kernel::Click(HWND control, std::string* why) {
  const Window* window = Find(control);
  if (window == nullptr) {
    if (why != nullptr) *why = "no such control";
    return false;
  }
  if (!ShownOnScreen(*window)) {
    if (why != nullptr) *why = Label(control) + " is not on the screen";
    return false;
  }
  if (!TakesInput(*window)) {
    if (why != nullptr) *why = Label(control) + " is disabled" + (window->enabled ? " with its window" : "");
    return false;
  }
  const RECT rect = ScreenRect(*window);
  StylusDown({(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
  StylusUp();
  return true;
}


bool Kernel::TypeText(HWND control, std::u16string_view text, std::string* why) {
  DismissMenu();
  const Window* window = Find(control);
  if (window == nullptr || !EqualsNoCase(window->className, kEditClass)) {
    if (why != nullptr) *why = "not an edit field";
    return false;
  }
  if (!TakesInput(*window)) {
    if (why != nullptr) *why = Label(control) + " is disabled" + (window->enabled ? " with its window" : "");
    return false;
  }
  const std::u16string typed(text);
  PostToProgram(window->processId, {control, kSimTypeText, 0, reinterpret_cast<LPARAM>(&typed)});
  RunUntilQuiet();
  return true;
}

bool Kernel::SelectItem(HWND control, int index, std::string* why) {
  DismissMenu();
  const Window* window = Find(control);
  if (window == nullptr || !EqualsNoCase(window->className, kComboBoxClass)) {
    if (why != nullptr) *why = "not a list";
    return false;
  }
  if (!TakesInput(*window)) {
    if (why != nullptr) *why = Label(control) + " is disabled" + (window->enabled ? " with its window" : "");
    return false;
  }
  if (index < 0 || static_cast<std::size_t>(index) >= window->items.size()) {
    if (why != nullptr) *why = "the list has " + std::to_string(window->items.size()) + " entries";
    return false;
  }
  PostToProgram(window->processId, {control, kSimSelectItem, static_cast<WPARAM>(index), 0});
  RunUntilQuiet();
  return true;
}

std::optional<LRESULT> Kernel::SendFromShell(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const std::size_t waiting = worldSends_.size();
  const LRESULT result = SendMessageW(hwnd, message, wParam, lParam);
  if (worldSends_.size() > waiting) {
    worldSends_.back()->announce = true;
    RunUntilQuiet();
    return std::nullopt;
  }
  RunUntilQuiet();
  Log(Effect::Kind::Note, "message " + std::to_string(message) + " answered " + std::to_string(result));
  return result;
}

// ---- Inspection ------------------------------------------------------------------------

std::optional<WindowInfo> Kernel::Describe(HWND hwnd) const {
  const Window* window = Find(hwnd);
  if (window == nullptr) return std::nullopt;
  WindowInfo info;
  info.hwnd = hwnd;
  info.processId = window->processId;
  info.className = window->className;
  info.title = window->title;
  info.rect = ScreenRect(*window);
  info.visible = ShownOnScreen(*window);
  info.enabled = window->enabled;
  info.topmost = window->topmost;
  info.parent = window->parent;
  info.id = window->id;
  info.imageId = window->imageId;
  info.templateId = window->templateId;
  info.style = window->style;
  info.checked = window->checked;
  info.pushed = window->pushed;
  info.selection = window->selection;
  info.items = window->items;
  info.lastPaint = window->lastPaint;
  info.commandBarShown = window->commandBar;
  info.messageBox = window->messageBox;
  info.boxText = window->boxText;
  info.boxType = window->boxType;
  info.routed = window->handler != nullptr;
  return info;
}

std::vector<WindowInfo> Kernel::TopLevelWindows() const {
  std::vector<WindowInfo> all;
  for (HWND hwnd : zOrder_) {
    if (auto info = Describe(hwnd)) all.push_back(*info);
  }
  return all;
}

std::vector<WindowInfo> Kernel::Children(HWND hwnd) const {
  std::vector<WindowInfo> all;
  const Window* window = Find(hwnd);
  if (window == nullptr) return all;
  for (HWND child : window->children) {
    if (auto info = Describe(child)) all.push_back(*info);
  }
  return all;
}

std::vector<ProcessInfo> Kernel::Processes() const {
  std::vector<ProcessInfo> all;
  for (const auto& [pid, process] : processes_) all.push_back({pid, process->image, process->program});
  return all;
}

}  // namespace qx::sim
