#include "tools/qxsim/world_link.h"

#include <stdexcept>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace qx::qxsim {

WorldLinkFile::WorldLinkFile(const std::filesystem::path& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd_ < 0 || ::ftruncate(fd_, sizeof(observed::WorldLink)) != 0) {
    throw std::runtime_error("cannot make the link file " + path.string());
  }
  void* mapped = ::mmap(nullptr, sizeof(observed::WorldLink), PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (mapped == MAP_FAILED) throw std::runtime_error("cannot map the link file " + path.string());
  link_ = static_cast<observed::WorldLink*>(mapped);
  link_->version = observed::kLinkVersion;
  observed::Atomic(link_->magic).store(observed::kLinkMagic);
}

WorldLinkFile::~WorldLinkFile() {
  if (link_ != nullptr) ::munmap(link_, sizeof(observed::WorldLink));
  if (fd_ >= 0) ::close(fd_);
}

void WorldLinkFile::Plan(const sim::Fault& fault) {
  const observed::LinkLock lock(*link_);
  for (observed::LinkFault& slot : link_->faults) {
    if (slot.active != 0) continue;
    slot = {1, static_cast<std::uint32_t>(fault.call), static_cast<std::uint32_t>(fault.nth > 0 ? fault.nth - 1 : 0),
            static_cast<std::uint32_t>(fault.times), fault.error, 0};
    return;
  }
}

void WorldLinkFile::KillAfter(std::size_t calls) {
  const observed::LinkLock lock(*link_);
  link_->killAfter = link_->programCalls + static_cast<std::uint32_t>(calls);
}

std::uint32_t WorldLinkFile::ProgramCalls() {
  const observed::LinkLock lock(*link_);
  return link_->programCalls;
}

std::vector<std::size_t> WorldLinkFile::Counts() {
  const observed::LinkLock lock(*link_);
  return std::vector<std::size_t>(std::begin(link_->counts), std::end(link_->counts));
}

std::optional<observed::LinkTimer> WorldLinkFile::NextDue(std::uint64_t until) {
  const observed::LinkLock lock(*link_);
  const observed::LinkTimer* first = nullptr;
  for (const observed::LinkTimer& timer : link_->timers) {
    if (timer.active == 0 || timer.due > until) continue;
    if (first == nullptr || timer.due < first->due) first = &timer;
  }
  if (first == nullptr) return std::nullopt;
  return *first;
}

void WorldLinkFile::Fired(const observed::LinkTimer& fired) {
  const observed::LinkLock lock(*link_);
  for (observed::LinkTimer& timer : link_->timers) {
    if (timer.active != 0 && timer.processId == fired.processId && timer.hwnd == fired.hwnd && timer.id == fired.id) {
      timer.due = fired.due + timer.period;
    }
  }
}

void WorldLinkFile::DropTimersOf(std::uint32_t processId) {
  const observed::LinkLock lock(*link_);
  for (observed::LinkTimer& timer : link_->timers) {
    if (timer.processId == processId) timer.active = 0;
  }
}

}  // namespace qx::qxsim
