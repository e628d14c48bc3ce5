// Dial-up, files and power of the simulated device, and the world around
// the programs: the user's taps and the passing of time.
#include <algorithm>

#include "platform/sim/effect_text.h"
#include "platform/sim/kernel_internal.h"

namespace qx::sim {

// ---- Dial-up -----------------------------------------------------------------------------

HRASCONN Kernel::Dial(std::u16string_view entryName) {
  const HRASCONN handle = reinterpret_cast<HRASCONN>(nextConnection_ += 4);
  connections_.push_back({handle, std::u16string(entryName.substr(0, RAS_MaxEntryName))});
  // The connection is the dialler's, not a program's: never a program's leak.
  ledger_.handles().OpenedFor(0, HandleKind::DialUp, HandleValue(handle), QuotedText(entryName));
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
