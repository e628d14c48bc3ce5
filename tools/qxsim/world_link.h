// The runner's side of the file it shares with the programs it observes on
// Wine (platform/observed/world_link.h): made in the prefix before a story
// starts, then mapped for the runner's clock, its planned faults, the kill,
// the call counts and the programs' timers.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "platform/observed/world_link.h"
#include "platform/sim/ledger.h"

namespace qx::qxsim {

class WorldLinkFile {
 public:
  // Makes the file afresh (all zero but its header) and maps it; throws
  // std::runtime_error when it cannot.
  explicit WorldLinkFile(const std::filesystem::path& path);
  ~WorldLinkFile();
  WorldLinkFile(const WorldLinkFile&) = delete;
  WorldLinkFile& operator=(const WorldLinkFile&) = delete;

  observed::WorldLink& link() { return *link_; }
  [[nodiscard]] std::uint64_t Now() { return observed::Atomic(link_->now).load(); }
  void SetNow(std::uint64_t ms) { observed::Atomic(link_->now).store(ms); }
  void SetPlants(std::uint32_t plants) { observed::Atomic(link_->plants).store(plants); }
  void Plan(const sim::Fault& fault);
  // The program making the call after `calls` more calls ends.
  void KillAfter(std::size_t calls);
  // The process ended by the kill, once one was.
  [[nodiscard]] std::uint32_t Killed() { return observed::Atomic(link_->killed).load(); }
  [[nodiscard]] std::uint32_t ProgramCalls();
  [[nodiscard]] std::vector<std::size_t> Counts();
  // The timer due first at or before `until`, if any.
  [[nodiscard]] std::optional<observed::LinkTimer> NextDue(std::uint64_t until);
  // The timer fired: due again a period later.
  void Fired(const observed::LinkTimer& timer);
  // Timers of processes that are gone go with them.
  void DropTimersOf(std::uint32_t processId);

 private:
  int fd_ = -1;
  observed::WorldLink* link_ = nullptr;
};

}  // namespace qx::qxsim
