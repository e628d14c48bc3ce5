// Processes of the simulated device: its boot, starting and ending programs,
// and the device's own programs, stood in for by small models.
#include <algorithm>

#include "platform/sim/effect_text.h"
#include "platform/sim/kernel_internal.h"

namespace qx::sim {

namespace {

std::u16string FileName(std::u16string_view path) {
  const auto slash = path.find_last_of(u"\\/");
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

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
  Log(Effect::Kind::ProgramStart, "program started: " + QuotedText(path) +
                                      (commandLine.empty() ? std::string() : " with " + QuotedText(commandLine)));
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
      const std::string page = parameters.empty() ? "its start page" : QuotedText(parameters);
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
      Log(Effect::Kind::Note, "the media player plays " + QuotedText(parameters));
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
    Log(Effect::Kind::Note, "no action " + QuotedText(info->lpVerb) + " for " + QuotedText(info->lpFile));
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
    Log(Effect::Kind::Note, "no such program: " + QuotedText(info->lpFile));
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
      ledger_.handles().Opened(HandleKind::Process, value, QuotedText(ProcessImage(object.processId)));
      break;
    default:
      ledger_.handles().Opened(HandleKind::File, value, QuotedText(files_.at(object.path).first));
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
  if (libraries_[{owner, module}]++ == 0) ledger_.handles().Opened(HandleKind::Library, module, QuotedText(file));
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

}  // namespace qx::sim
