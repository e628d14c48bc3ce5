// The observed platform: a decorator over the platform services that a
// program gets when the scenario runner starts it on Win32, so that a story
// told on Wine shows what the same story shows on the simulated device:
// every call counted under its name and failed on demand, the program ended
// after its nth call, its effects traced in call order, the handles it
// leaves open named, and its timers fired when the runner's clock says.
//
// The decorator is portable code over any Platform; what it reports goes to
// an Observer, which the runner's side of the world supplies (on Win32, a
// file shared with the runner: platform/win32).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/observed/calls.h"
#include "platform/platform.h"

namespace qx::observed {

// What a trace record is about; the runner words each as the simulated
// device words the same effect.
enum class Record {
  Set,         // KEY NAME TYPE HEX: a value written
  Create,      // KEY: a key made
  Delete,      // KEY: a key deleted with everything below it
  Start,       // FILE PARAMETERS VERB DIRECTORY SHOW: a program start asked of the shell
  Terminated,  // PID EXIT-CODE IMAGE: a process terminated
  Closed,      // TITLE CLASS IMAGE: a top-level window destroyed
  Box,         // CAPTION TEXT TYPE OWNED: a message box shown
  Answered,    // BUTTON BY-PROGRAM: ... and how it ended
  Menu,        // X Y FLAGS ITEM...: a popup menu tracked (ITEM: "id|checked|separator|text")
  MenuEnded,   // the program ended its own popup menu
  HangUp,      // NAME: a dial-up connection hung up
  SoftReset,   // the program soft-resets the device
  Written,     // BYTES OFFSET PATH: bytes written into a file
  Cut,         // SIZE PATH: a file cut shorter or made longer
  LeftOpen,    // KIND WHAT REFUSED: a handle the program left open when it ended
  Ended,       // the program ended by itself
};

std::string_view RecordName(Record record);
std::optional<Record> RecordFromName(std::string_view name);

class Observer {
 public:
  virtual ~Observer() = default;
  // Before every call the program makes: counts it; returns the error a
  // planned fault answers it with. May end the program before the call
  // happens (the runner's "kill after").
  virtual std::optional<LONG> Enter(Call call) = 0;
  // The last error a call answered by a fault leaves.
  virtual void SetLastError(DWORD error) = 0;
  // One record of the trace, fields in UTF-8.
  virtual void Write(Record record, const std::vector<std::string>& fields) = 0;
  // The tick gate: the program's timers live with the runner, which fires
  // them (WM_TIMER to the window) as its clock passes their due time.
  virtual UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs) = 0;
  virtual BOOL KillTimer(HWND hwnd, UINT_PTR id) = 0;
  // The file of the program a window belongs to, for the trace; empty
  // when unknown.
  virtual std::u16string WindowImage(HWND hwnd) = 0;
  // The file of a running process, for the trace; empty when unknown.
  virtual std::u16string ProcessImage(DWORD processId) = 0;
  // An open file's size, for the trace; nothing when it cannot tell.
  virtual std::optional<std::uint64_t> FileSize(HANDLE file) = 0;
  // Faults planted on purpose (observed/world_link.h kPlant...).
  virtual std::uint32_t Plants() { return 0; }
};

class ObservedPlatform {
 public:
  ObservedPlatform(Platform& inner, Observer& observer);
  // A program that ends by itself: the handles it still holds, and its end.
  ~ObservedPlatform();
  ObservedPlatform(const ObservedPlatform&) = delete;
  ObservedPlatform& operator=(const ObservedPlatform&) = delete;

  // The services as the program sees them; valid for this object's life.
  [[nodiscard]] Platform& platform() { return platform_; }
  // What the decorators share: the inner services, the observer, and what
  // the program holds.
  struct State;

 private:
  class Registry;
  class Windows;
  class Processes;
  class DialUp;
  class Files;
  class CodePage;
  class Power;

  std::unique_ptr<State> state_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<Windows> windows_;
  std::unique_ptr<Processes> processes_;
  std::unique_ptr<DialUp> dialUp_;
  std::unique_ptr<Files> files_;
  std::unique_ptr<CodePage> codePage_;
  std::unique_ptr<Power> power_;
  Platform platform_;
};

// Fields of the records, as the decorator writes them and the runner reads
// them: lower-case hex bytes, decimal numbers.
std::string HexBytes(std::span<const BYTE> data);
std::string Decimal(long long value);

}  // namespace qx::observed
