// Every handle the simulated device hands a program, with the program that
// holds it, so that what a program leaves open when it ends can be named.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace qx::sim {

enum class HandleKind {
  RegistryKey,
  File,
  Process,
  Snapshot,
  Window,
  Menu,
  Icon,
  Timer,
  DialUp,
  Library,
};

std::string_view HandleKindName(HandleKind kind);

struct OpenHandle {
  HandleKind kind;
  std::uintptr_t value = 0;
  DWORD owner = 0;           // the process holding it; 0: the world's own
  std::string what;          // UTF-8: the key's path, the file, the window's title...
  bool closeRefused = false;  // its own close call was made to fail
  std::size_t sequence = 0;   // handed out as the device's nth handle
  std::uintptr_t holder = 0;  // the window a timer lives on
};

class HandleAudit {
 public:
  // Tells which process makes the current call (0: the world).
  void SetCaller(std::function<DWORD()> caller) { caller_ = std::move(caller); }

  // A handle handed to the calling process (or to `owner` when given). A
  // handle that lives on another (a timer on its window) names it as its
  // holder: when the holder's close is refused, it stays for the same reason.
  void Opened(HandleKind kind, std::uintptr_t value, std::string what, std::uintptr_t holder = 0);
  void OpenedFor(DWORD owner, HandleKind kind, std::uintptr_t value, std::string what);
  void Closed(HandleKind kind, std::uintptr_t value);
  // The handle's close call failed by a planned fault: the handle stays
  // open, but its holder did try.
  void CloseRefused(HandleKind kind, std::uintptr_t value);

  // The handles a process holds, in the order they were handed out.
  [[nodiscard]] std::vector<OpenHandle> HeldBy(DWORD owner) const;
  // The system takes back everything a process held when it ends.
  void Release(DWORD owner);
  void ReleaseAll() { open_.clear(); }
  [[nodiscard]] std::size_t Count() const { return open_.size(); }

 private:
  using Key = std::pair<HandleKind, std::uintptr_t>;
  std::function<DWORD()> caller_;
  std::map<Key, OpenHandle> open_;
  std::size_t next_ = 0;
};

}  // namespace qx::sim
