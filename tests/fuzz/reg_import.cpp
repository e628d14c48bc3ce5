// The .reg import over any text. A file that imports must export to text
// that imports back to the same registry, and that second registry must
// export to the same bytes. A file that does not import must leave the
// registry as it was and name a line of the file.
#include <string_view>

#include "tests/fuzz/reg_round_trip.h"

namespace qx::sim {
namespace {

std::size_t LineCount(std::string_view text) {
  std::size_t lines = 1;
  for (char c : text) lines += c == '\n' || c == '\r' ? 1 : 0;
  return lines;
}

}  // namespace
}  // namespace qx::sim

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qx::sim;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CallLedger ledger;
  SimRegistry first(ledger);
  const RegistryImage empty = first.Image();
  if (const auto error = ImportReg(first, text, "input.reg")) {
    QX_FUZZ_CHECK(first.Image() == empty);
    QX_FUZZ_CHECK(error->line >= 1);
    // A UTF-16 file has half as many bytes per line end, never more lines.
    QX_FUZZ_CHECK(error->line <= LineCount(text) + 1);
    QX_FUZZ_CHECK(!error->message.empty());
    return 0;
  }
  QX_FUZZ_CHECK(first.OpenHandleCount() == 0);
  qx::fuzz::CheckReadsBack(first.Image());
  return 0;
}
