#include "bench/instructions.h"

#include <linux/perf_event.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace qx::bench {

namespace {

int OpenCounter(pid_t thread) {
  perf_event_attr attr{};
  attr.size = sizeof attr;
  attr.type = PERF_TYPE_HARDWARE;
  attr.config = PERF_COUNT_HW_INSTRUCTIONS;
  attr.exclude_kernel = 1;
  attr.exclude_hv = 1;
  return static_cast<int>(syscall(SYS_perf_event_open, &attr, thread, -1, -1, 0));
}

}  // namespace

InstructionCounter::InstructionCounter() {
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
    const int fd = OpenCounter(static_cast<pid_t>(std::stol(task.path().filename().string())));
    if (fd < 0) {
      why_ = std::string("perf_event_open: ") + std::strerror(errno);
      for (int open : fds_) close(open);
      fds_.clear();
      return;
    }
    fds_.push_back(fd);
  }
  if (fds_.empty()) why_ = "no threads listed in /proc/self/task";
}

InstructionCounter::~InstructionCounter() {
  for (int fd : fds_) close(fd);
}

std::uint64_t InstructionCounter::Read() const {
  std::uint64_t total = 0;
  for (int fd : fds_) {
    std::uint64_t count = 0;
    if (read(fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count)) total += count;
  }
  return total;
}

}  // namespace qx::bench
