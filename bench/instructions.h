// Retired user-space instructions of the whole process, from the kernel's
// performance counters: one counter per thread, opened on every thread that
// exists when the counter is made (the simulated device's programs each run
// on a thread of their own, and a poll tick runs on the client's).
//
// Virtual machines often offer no hardware counters; then Available() is
// false and bench/count-instructions.sh counts under callgrind instead.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qx::bench {

class InstructionCounter {
 public:
  InstructionCounter();
  ~InstructionCounter();
  InstructionCounter(const InstructionCounter&) = delete;
  InstructionCounter& operator=(const InstructionCounter&) = delete;

  [[nodiscard]] bool Available() const { return !fds_.empty(); }
  // Why the counter is not available, for the report.
  [[nodiscard]] const std::string& Why() const { return why_; }
  // Instructions counted so far on every thread.
  [[nodiscard]] std::uint64_t Read() const;

 private:
  std::vector<int> fds_;
  std::string why_;
};

}  // namespace qx::bench
