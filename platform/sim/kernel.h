// The simulated handheld's operating system: windows, messages, timers,
// processes, dial-up, files and power, with a scheduler that runs each
// program on a thread of its own while only one of them (or the world that
// drives the device) runs at any moment. Hand-overs are explicit, so a run
// is deterministic: the same inputs give the same transcript.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/ledger.h"

namespace qx::sim {

// What the device did that a person would notice, in the order it happened.
struct Effect {
  enum class Kind {
    ProgramStart,     // a program was started (by the shell or a program)
    ProgramEnd,       // a program ended by itself
    ProcessKilled,    // a process was terminated
    WindowDestroyed,  // a top-level window went away
    WindowGone,       // ... with the process that held it
    MessageBox,       // a message box was shown
    BoxAnswered,      // ... and answered
    Menu,             // a popup menu was shown
    MenuChoice,       // ... and an entry chosen, or the menu dismissed
    HangUp,           // a dial-up connection was hung up
    SoftReset,        // the device was soft-reset
    Paint,            // an owner-drawn control painted itself
    Browser,          // the browser was asked to show a page
    Foreground,       // another window came to the front
    Message,          // a program sent or posted a message to a window of the world
    Registry,         // a program wrote or deleted in the registry (only while tracing)
    HandleLeft,       // a program ended and left a handle open
    File,             // a program wrote into a file or cut it
    Note,             // anything else worth a line
  };
  Kind kind;
  std::string text;     // UTF-8, one line
  std::string program;  // the program that caused it ("Quorvix.exe"); empty for the world
};

// A program start as ShellExecuteEx was asked for it.
struct ShellStart {
  std::u16string verb;
  std::u16string file;
  std::u16string parameters;
  std::u16string directory;
  int show = 0;
  DWORD mask = 0;
  HWND owner = nullptr;
  DWORD caller = 0;      // the program that asked; 0 for the world (the shell for the user)
  std::size_t boot = 0;  // soft resets before it
};

// A process terminated by a program, with the exit code it was given.
struct Termination {
  std::u16string image;
  UINT exitCode = 0;
};

// A program of the device: its main function gets the platform and its
// command line and returns its exit code.
using ProgramMain = std::function<int(Platform&, std::u16string_view commandLine)>;

struct ProgramImage {
  ProgramMain main;
  std::vector<int> iconIds;  // icon resources the program carries
};

// One drawing operation of an owner-drawn control's last paint.
struct DrawOp {
  enum class Kind { Fill, Border, Icon } kind;
  RECT rect{};
  COLORREF color = 0;   // fill colour, or border top-left colour
  COLORREF color2 = 0;  // border bottom-right colour
  int iconId = 0;
};

// A read-only view of one window, for tests and transcripts.
struct WindowInfo {
  HWND hwnd = nullptr;
  DWORD processId = 0;
  std::u16string className;
  std::u16string title;
  RECT rect{};  // screen coordinates
  bool visible = false;
  bool enabled = true;
  bool topmost = false;
  HWND parent = nullptr;
  int id = 0;
  int imageId = 0;  // the bitmap or icon resource an image static shows
  int templateId = 0;  // a dialog: the resource id of the template it was made from
  LONG style = 0;
  bool checked = false;
  bool pushed = false;
  int selection = -1;
  std::vector<std::u16string> items;
  std::vector<DrawOp> lastPaint;
  bool commandBarShown = false;
  // A message box: its text and MB_ button set (the title is its caption).
  bool messageBox = false;
  std::u16string boxText;
  UINT boxType = 0;
  bool routed = false;  // a program's framework object receives its messages
};

struct ProcessInfo {
  DWORD id = 0;
  std::u16string image;
  bool program = false;  // runs code of its own (not a stand-in of the world)
};

struct MenuItemInfo {
  UINT id = 0;
  std::u16string text;
  bool checked = false;
  bool separator = false;
};

// The popup menu being tracked: where its program asked for it and what it offers.
struct OpenMenuInfo {
  POINT at{};
  UINT flags = 0;  // TPM_ alignment flags
  std::vector<MenuItemInfo> items;
};

// What a program that ended by itself left open: handles it never closed,
// and handles whose close the device refused.
struct HandlesLeft {
  std::u16string image;
  DWORD processId = 0;
  std::vector<OpenHandle> handles;
};

// A message box's buttons as the effects name them: "OK, Cancel".
const char* BoxButtonNames(UINT type);

class ProgramKilled {};  // unwinds a program's thread; never caught by programs

class Kernel : public IWindows, public IProcesses, public IDialUp, public IFiles, public IPower {
 public:
  explicit Kernel(CallLedger& ledger);
  ~Kernel() override;

  // ---- IWindows
  HWND FindWindowW(std::u16string_view className, std::u16string_view title) override;
  HWND WindowFromPoint(POINT point) override;
  HWND GetParent(HWND hwnd) override;
  HWND GetForegroundWindow() override;
  BOOL SetForegroundWindow(HWND hwnd) override;
  HWND GetDesktopWindow() override;
  BOOL EnumWindows(WNDENUMPROC proc, LPARAM lParam) override;
  BOOL EnumThreadWindows(WNDENUMPROC proc, LPARAM lParam) override;
  BOOL IsWindow(HWND hwnd) override;
  BOOL IsWindowVisible(HWND hwnd) override;
  BOOL IsWindowEnabled(HWND hwnd) override;
  int GetClassNameW(HWND hwnd, std::span<char16_t> text) override;
  int GetWindowTextW(HWND hwnd, std::span<char16_t> text) override;
  BOOL SetWindowTextW(HWND hwnd, std::u16string_view text) override;
  BOOL GetWindowRect(HWND hwnd, RECT* rect) override;
  BOOL GetClientRect(HWND hwnd, RECT* rect) override;
  BOOL ScreenToClient(HWND hwnd, POINT* point) override;
  BOOL GetCursorPos(POINT* point) override;
  LONG GetWindowStyle(HWND hwnd) override;
  void SetWindowStyle(HWND hwnd, LONG style) override;
  BOOL ShowWindow(HWND hwnd, int command) override;
  BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) override;
  BOOL MoveWindow(HWND hwnd, int x, int y, int cx, int cy, BOOL repaint) override;
  BOOL EnableWindow(HWND hwnd, BOOL enable) override;
  BOOL DestroyWindow(HWND hwnd) override;
  HWND SetFocus(HWND hwnd) override;
  HWND GetFocus() override;
  BOOL InvalidateRect(HWND hwnd, BOOL erase) override;
  BOOL CommandBar_Show(HWND hwnd, BOOL show) override;
  HWND CreateDialogIndirectW(const DialogTemplate& dialog, HWND parent, IWindowHandler* handler) override;
  HWND GetDlgItem(HWND dialog, int id) override;
  int GetDlgCtrlID(HWND hwnd) override;
  HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) override;
  BOOL SubclassWindow(HWND hwnd, IWindowHandler* handler) override;
  LRESULT CallDefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL InSendMessage() override;
  LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL GetMessageW(MSG* msg) override;
  BOOL IsDialogMessageW(HWND dialog, MSG* msg) override;
  LRESULT DispatchMessageW(const MSG* msg) override;
  void PostQuitMessage(int exitCode) override;
  UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) override;
  BOOL KillTimer(HWND hwnd, UINT_PTR id) override;
  int MessageBoxW(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) override;
  BOOL EndDialog(HWND hwnd, INT_PTR result) override;
  HMENU LoadMenuW(const MenuTemplate& menu) override;
  HMENU GetSubMenu(HMENU menu, int position) override;
  BOOL RemoveMenu(HMENU menu, UINT item, UINT flags) override;
  DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) override;
  BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner) override;
  BOOL EndMenu() override;
  BOOL DestroyMenu(HMENU menu) override;
  COLORREF GetSysColor(int index) override;
  HBRUSH GetStockObject(int object) override;
  void FillSolidRect(HDC dc, const RECT& rect, COLORREF color) override;
  void Draw3dRect(HDC dc, const RECT& rect, COLORREF topLeft, COLORREF bottomRight) override;
  HICON LoadIconImage(int resourceId, int cx, int cy) override;
  BOOL DestroyIcon(HICON icon) override;
  BOOL DrawIconEx(HDC dc, int x, int y, HICON icon, int cx, int cy, UINT flags) override;

  // ---- IProcesses
  HMODULE LoadLibraryW(std::u16string_view name) override;
  BOOL FreeLibrary(HMODULE module) override;
  HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId) override;
  BOOL Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry) override;
  BOOL Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry) override;
  BOOL CloseToolhelp32Snapshot(HANDLE snapshot) override;
  HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) override;
  BOOL TerminateProcess(HANDLE process, UINT exitCode) override;
  BOOL CloseHandle(HANDLE handle) override;
  BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) override;
  void Sleep(DWORD milliseconds) override;
  DWORD GetLastError() override;
  std::u16string GetModuleFileNameW() override;

  // ---- IDialUp
  DWORD RasEnumConnectionsW(std::span<RASCONN> records, DWORD* bytes, DWORD* count) override;
  DWORD RasHangUpW(HRASCONN connection) override;

  // ---- IFiles
  HANDLE CreateFileW(std::u16string_view path, DWORD access, DWORD share, DWORD disposition) override;
  BOOL ReadFile(HANDLE file, std::span<BYTE> buffer, DWORD* read) override;
  BOOL WriteFile(HANDLE file, std::span<const BYTE> data, DWORD* written) override;
  DWORD SetFilePointer(HANDLE file, LONG distance, DWORD method) override;
  BOOL SetEndOfFile(HANDLE file) override;

  // ---- IPower
  BOOL KernelIoControl(DWORD code, std::span<const BYTE> in, std::span<BYTE> out, DWORD* returned) override;

  // ---- The world: what the user and the device's own programs do.
  // Each call runs the programs until all of them wait again.

  void SetPlatform(Platform* platform) { platform_ = platform; }
  void InstallProgram(std::u16string_view path, ProgramImage image);
  // Starts a program as the shell would; 0 when there is no such program.
  DWORD StartProgram(std::u16string_view path, std::u16string_view commandLine);
  void RunUntilQuiet();
  void AdvanceTime(DWORD milliseconds);
  [[nodiscard]] DWORD Now() const { return now_; }

  HWND OpenWorldWindow(std::u16string_view image, std::u16string_view className, std::u16string_view title,
                       RECT rect);
  // A child window of a world window, at rect in its parent's client
  // coordinates, over the children it already has.
  HWND OpenWorldChild(HWND parent, std::u16string_view className, RECT rect);
  DWORD AddWorldProcess(std::u16string_view image);
  void BringToFront(HWND hwnd);
  void CloseWindow(HWND hwnd);
  void SetClientHeight(HWND hwnd, int height);
  void StylusDown(POINT point);
  void StylusUp();
  void MovePointer(POINT point);
  // Presses a button, check box or any control as a tap would.
  bool Click(HWND control, std::string* why);
  bool TypeText(HWND control, std::u16string_view text, std::string* why);
  bool SelectItem(HWND control, int index, std::string* why);
  // The open popup menu's entry by id or text; false when there is none.
  bool ChooseMenuItem(std::u16string_view entry, std::string* why);
  void DismissMenu();
  [[nodiscard]] bool MenuOpen() const { return menuOpen_.has_value(); }
  std::vector<MenuItemInfo> OpenMenuItems();
  [[nodiscard]] std::optional<OpenMenuInfo> OpenMenuShown() const;
  // Answers the open message box, or queues the answer for the next one.
  bool Answer(int button, std::string* why);
  [[nodiscard]] bool BoxOpen() const { return boxOpen_.has_value(); }
  // Answers given while no box was open that no box has taken yet.
  [[nodiscard]] std::size_t QueuedAnswers() const { return queuedAnswers_.size(); }
  // Sends a message as another program of the device would and runs the
  // programs until all wait; logs "message N answered R" once the handler
  // has returned. Nothing while it still waits for the user (a message box
  // it opened): the answer is logged when a later step lets it finish.
  std::optional<LRESULT> SendFromShell(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  void SetToolhelpPresent(bool present) { toolhelpPresent_ = present; }
  // A fault planted on purpose, to show that the comparison with Win32
  // finds it: a box its program ends answers this, not what Win32 answers.
  void PlantBoxEndAnswer(std::optional<int> answer) { plantedBoxEnd_ = answer; }
  HRASCONN Dial(std::u16string_view entryName);
  std::vector<std::u16string> Connections() const;
  void PutFile(std::u16string_view path, std::vector<BYTE> bytes);
  std::optional<std::vector<BYTE>> GetFile(std::u16string_view path) const;
  // Every file's path, and each content the world put into it, oldest first.
  [[nodiscard]] std::vector<std::u16string> FilePaths() const;
  [[nodiscard]] std::vector<std::vector<BYTE>> ContentsPut(std::u16string_view path) const;
  void KillAll();
  // Soft-resets the device, as its reset button would.
  void Reset();

  // The program making the current call (0 on the world's thread), and
  // whether it has been ended.
  [[nodiscard]] DWORD CallingProcess() const;
  [[nodiscard]] bool CallerEnded() const;
  // Ends the calling program at once, as a battery pull or a forced
  // termination would: its windows, timers and handles go, and nothing of
  // its own clean-up reaches the device (its later calls must be refused,
  // see CallLedger::SetWatcher). From a program's thread only.
  void EndCaller();

  // ---- Inspection
  std::vector<WindowInfo> TopLevelWindows() const;  // front first
  std::vector<WindowInfo> Children(HWND hwnd) const;
  std::optional<WindowInfo> Describe(HWND hwnd) const;
  std::vector<ProcessInfo> Processes() const;
  // "file parameters" of every ShellExecuteEx, and the whole requests.
  std::vector<std::u16string> ShellStarts() const;
  const std::vector<ShellStart>& ShellRequests() const { return shellStarts_; }
  // Soft resets since the device came up.
  [[nodiscard]] std::size_t Boots() const { return boots_; }
  const std::vector<Termination>& Terminations() const { return terminations_; }
  // While tracing, registry changes that programs make are effects too, in
  // the order they happen among the others.
  void SetTracing(bool on) { tracing_ = on; }
  [[nodiscard]] bool Tracing() const { return tracing_; }
  void RegistryChanged(const std::string& line) {
    if (tracing_) Log(Effect::Kind::Registry, line);
  }
  // A program's last error, as Win32's SetLastError leaves it.
  void SetLastError(DWORD error);
  std::vector<Effect> TakeEffects();
  // Adds a line of the world's own to the effects.
  void Note(std::string text) { Log(Effect::Kind::Note, std::move(text)); }
  [[nodiscard]] std::size_t OpenKernelHandles() const { return handles_.size(); }
  [[nodiscard]] std::size_t LiveTimers() const { return timers_.size(); }
  // Every program that ended by itself with handles still open, in the
  // order they ended.
  [[nodiscard]] const std::vector<HandlesLeft>& LeftOpen() const { return leftOpen_; }
  std::u16string ProcessImage(DWORD processId) const;

 private:
  struct Window;
  struct Menu;
  struct Program;
  struct Process;
  struct SentMessage;
  struct Timer;
  struct HandleObject;

  // scheduler
  Program* Current() const;
  void SwitchTo(DWORD next);
  DWORD PickNext(DWORD prefer = 0);
  bool HasWork(const Program& program) const;
  void ServeSentMessage(Program& self);
  void WaitFor(const std::function<bool()>& done);
  void ProgramThread(Program* program, std::u16string commandLine);
  void EndProcess(DWORD processId, bool killed, std::optional<UINT> exitCode = std::nullopt);
  void Reap();
  LRESULT SendFromWorld(Program& target, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void SettleWorldSends();

  // windows
  Window* Find(HWND hwnd) const;
  HWND NewHandle();
  Window& CreateWindowObject(DWORD processId, std::u16string_view className, std::u16string_view title,
                             RECT rect, HWND parent);
  LRESULT CallWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT DefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void DestroyTree(HWND hwnd, bool sendMessages);
  void Activate(HWND hwnd);
  void ActivateNext();
  void Raise(HWND hwnd, bool topmost);
  void LowerToBottom(HWND hwnd);
  RECT ScreenRect(const Window& window) const;
  HWND ChildFromPoint(HWND parent, POINT point) const;
  void PostToProgram(DWORD processId, MSG msg);
  bool ShownOnScreen(const Window& window) const;
  Program* ProgramOf(DWORD processId) const;
  void Kill(DWORD processId, std::optional<UINT> exitCode = std::nullopt);
  bool PaintOwnerDrawn(HWND hwnd);
  void EndBox(Window& box, int answer);
  // The window and every parent above it are enabled.
  bool TakesInput(const Window& window) const;
  void RecordPaint(HWND hwnd);
  // Stops the timers chosen, each a handle given back; returns how many.
  std::size_t DropTimers(const std::function<bool(const Timer&)>& which);
  void Log(Effect::Kind kind, std::string text);
  void NoteWorldMessage(HWND hwnd, const char* how, UINT message, WPARAM wParam, LPARAM lParam);
  std::string Label(HWND hwnd) const;

  // processes
  DWORD NewProcessId();
  DWORD Spawn(std::u16string_view image, std::u16string_view commandLine, const ProgramImage* program);
  bool StartWorldProgram(std::u16string_view file, std::u16string_view parameters, DWORD* processId);
  HANDLE NewKernelHandle(HandleObject object);
  BOOL CloseKernelHandle(HANDLE handle, int kind);
  void AuditEnd(const Program& program);
  HandleObject* FindHandle(HANDLE handle, int kind);
  void SoftReset();
  void Boot();

  CallLedger& ledger_;
  Platform* platform_ = nullptr;

  std::mutex mutex_;
  std::condition_variable changed_;
  DWORD running_ = 0;  // the process holding the baton; 0 = the world

  DWORD now_ = 0;
  POINT cursor_{};
  bool stylusDown_ = false;
  HWND capture_ = nullptr;
  HWND foreground_ = nullptr;
  HWND focus_ = nullptr;
  HWND desktop_ = nullptr;
  std::uintptr_t nextHandle_ = 0x1000;
  DWORD nextProcessId_ = 0x100;
  DWORD worldLastError_ = 0;
  bool toolhelpPresent_ = true;
  std::size_t boots_ = 0;
  std::optional<int> plantedBoxEnd_;

  std::map<std::uintptr_t, std::unique_ptr<Window>> windows_;
  std::vector<HWND> zOrder_;  // top-level windows, front first
  std::map<std::uintptr_t, std::unique_ptr<Menu>> menus_;
  std::vector<std::unique_ptr<Timer>> timers_;
  std::map<DWORD, std::unique_ptr<Process>> processes_;
  std::map<DWORD, std::unique_ptr<Program>> programs_;
  std::map<std::u16string, ProgramImage> images_;  // key: lower-case path
  std::map<std::uintptr_t, std::unique_ptr<HandleObject>> handles_;
  std::map<std::u16string, std::pair<std::u16string, std::vector<BYTE>>> files_;  // lower-case path
  std::map<std::u16string, std::vector<std::vector<BYTE>>> contentsPut_;        // lower-case path
  struct Connection {
    HRASCONN handle;
    std::u16string name;
  };
  std::vector<Connection> connections_;
  std::uintptr_t nextConnection_ = 0x5000;

  struct OpenMenu {
    HMENU menu;
    HWND owner;
    DWORD processId;
    POINT at;
    UINT flags;
    std::optional<UINT> choice;
    bool done = false;
  };
  std::optional<OpenMenu> menuOpen_;
  // The innermost message box, which the user's answer goes to.
  struct OpenBox {
    HWND window;
    UINT type;
  };
  std::optional<OpenBox> boxOpen_;
  std::deque<int> queuedAnswers_;
  // Messages the world sent whose handler has not returned yet: the world
  // cannot wait for them on a stack frame of its own, as a program can.
  std::vector<std::unique_ptr<SentMessage>> worldSends_;
  std::vector<ShellStart> shellStarts_;
  std::vector<Termination> terminations_;
  bool tracing_ = false;
  std::vector<Effect> effects_;
  std::map<std::uintptr_t, int> icons_;  // HICON -> resource id
  std::map<std::pair<DWORD, std::uintptr_t>, int> libraries_;  // (process, module) -> loads not yet freed
  std::vector<HandlesLeft> leftOpen_;
};

}  // namespace qx::sim
