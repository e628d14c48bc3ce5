// The file a Win32 program under the scenario runner shares with the
// runner: the runner's clock, the counts of every program's calls, the
// planned faults and the kill, and the programs' timers (the tick gate).
// The runner maps it on Linux and the programs map the same file under
// Wine; a field changes only through an atomic operation, and the tables
// only under the lock, so that several programs and the runner may use it
// at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "platform/observed/calls.h"

namespace qx::observed {

inline constexpr std::uint32_t kLinkMagic = 0x4B4E4C51;  // "QLNK"
inline constexpr std::uint32_t kLinkVersion = 2;
// Faults planted on purpose, to show that the comparison of the two worlds
// finds them (WorldLink::plants).
inline constexpr std::uint32_t kPlantUnterminatedStrings = 1;  // REG_SZ written without its terminator
inline constexpr std::size_t kLinkFaults = 32;
inline constexpr std::size_t kLinkTimers = 64;

struct LinkFault {
  std::uint32_t active;
  std::uint32_t call;
  std::uint32_t skip;       // calls of the kind still to let through
  std::uint32_t remaining;  // failures still to give; 0: every call from then on
  std::int32_t error;
  std::uint32_t pad;
};

struct LinkTimer {
  std::uint32_t active;
  std::uint32_t processId;
  std::uint64_t hwnd;
  std::uint64_t id;
  std::uint64_t due;  // on the runner's clock, in ms
  std::uint32_t period;
  std::uint32_t pad;
};

struct WorldLink {
  std::uint32_t magic;
  std::uint32_t version;
  std::uint32_t lock;          // 0 free, 1 held
  std::uint32_t programCalls;  // the calls every program of the prefix made
  std::uint64_t now;           // the runner's clock, in ms
  std::uint32_t killAfter;     // the program making the call after this many ends (0: none)
  std::uint32_t killed;        // the process so ended, once one was
  std::uint32_t plants;        // kPlant... bits
  std::uint32_t reserved;
  std::uint32_t counts[kCallCount];
  LinkFault faults[kLinkFaults];
  LinkTimer timers[kLinkTimers];
};

// The file's contents are plain integers at fixed places on either side.
static_assert(sizeof(WorldLink) % 8 == 0);

inline std::atomic_ref<std::uint32_t> Atomic(std::uint32_t& field) { return std::atomic_ref<std::uint32_t>(field); }
inline std::atomic_ref<std::uint64_t> Atomic(std::uint64_t& field) { return std::atomic_ref<std::uint64_t>(field); }

class LinkLock {
 public:
  explicit LinkLock(WorldLink& link) : link_(link) {
    std::uint32_t free = 0;
    while (!Atomic(link_.lock).compare_exchange_weak(free, 1, std::memory_order_acquire)) free = 0;
  }
  ~LinkLock() { Atomic(link_.lock).store(0, std::memory_order_release); }
  LinkLock(const LinkLock&) = delete;
  LinkLock& operator=(const LinkLock&) = delete;

 private:
  WorldLink& link_;
};

// What a program's call meets: counted, answered by a fault, or the end of
// the program (it must end before the call happens). The same rules as the
// simulated device's ledger under the runner.
struct LinkVerdict {
  bool end = false;
  std::optional<std::int32_t> error;
};

inline LinkVerdict EnterCall(WorldLink& link, Call call, std::uint32_t processId) {
  const LinkLock lock(link);
  LinkVerdict verdict;
  if (link.killAfter != 0 && link.programCalls == link.killAfter) {
    link.killAfter = 0;
    Atomic(link.killed).store(processId);
    verdict.end = true;
    return verdict;
  }
  ++link.programCalls;
  ++link.counts[static_cast<std::size_t>(call)];
  for (LinkFault& fault : link.faults) {
    if (fault.active == 0 || fault.call != static_cast<std::uint32_t>(call)) continue;
    if (fault.skip > 0) {
      --fault.skip;
      continue;
    }
    verdict.error = fault.error;
    if (fault.remaining != 0 && --fault.remaining == 0) fault.active = 0;
    break;
  }
  return verdict;
}

}  // namespace qx::observed
