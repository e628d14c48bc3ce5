#include "platform/sim/handles.h"

#include <algorithm>
#include <array>

namespace qx::sim {

std::string_view HandleKindName(HandleKind kind) {
  static constexpr std::array<std::string_view, 10> kNames = {
      "registry key", "file", "process", "snapshot", "window", "menu", "icon", "timer", "dial-up connection",
      "library",
  };
  return kNames[static_cast<std::size_t>(kind)];
}

void HandleAudit::Opened(HandleKind kind, std::uintptr_t value, std::string what, std::uintptr_t holder) {
  OpenedFor(caller_ ? caller_() : 0, kind, value, std::move(what));
  open_[{kind, value}].holder = holder;
}

void HandleAudit::OpenedFor(DWORD owner, HandleKind kind, std::uintptr_t value, std::string what) {
  open_[{kind, value}] = OpenHandle{kind, value, owner, std::move(what), false, next_++};
}

void HandleAudit::Closed(HandleKind kind, std::uintptr_t value) {
  open_.erase({kind, value});
}

void HandleAudit::CloseRefused(HandleKind kind, std::uintptr_t value) {
  if (const auto it = open_.find({kind, value}); it != open_.end()) it->second.closeRefused = true;
}

std::vector<OpenHandle> HandleAudit::HeldBy(DWORD owner) const {
  std::vector<OpenHandle> held;
  for (const auto& [key, handle] : open_) {
    if (handle.owner != owner) continue;
    held.push_back(handle);
    if (handle.holder != 0) {
      const auto on = open_.find({HandleKind::Window, handle.holder});
      if (on != open_.end() && on->second.closeRefused) held.back().closeRefused = true;
    }
  }
  std::sort(held.begin(), held.end(), [](const OpenHandle& a, const OpenHandle& b) { return a.sequence < b.sequence; });
  return held;
}

void HandleAudit::Release(DWORD owner) {
  std::erase_if(open_, [owner](const auto& entry) { return entry.second.owner == owner; });
}

}  // namespace qx::sim
