// The export of a registry that programs built through the registry
// service: keys created and deleted, values of any name, type and data set
// on them, all chosen by the input. The export either writes text that
// imports back to the same registry (and exports to the same bytes), or is
// refused with a reason; never text that reads back differently.
#include <array>

#include "tests/fuzz/reg_round_trip.h"

namespace {

using namespace qx;
using namespace qx::sim;

// Builds the registry: each step opens or creates a key below a root (or
// below a key already open), then sets values on it, deletes below it or
// closes it.
void Build(SimRegistry& registry, fuzz::Input& input) {
  std::array<HKEY, 4> open{};
  while (!input.Empty()) {
    const std::uint8_t step = input.Byte();
    HKEY& slot = open[(step >> 4) & 3];
    const HKEY base = slot != nullptr && (step & 0x40) != 0 ? slot : kRegistryRoots[(step >> 4) % 3];
    switch (step & 0x0F) {
      case 0:
      case 1: {
        const std::u16string path = input.Text();
        HKEY key = nullptr;
        DWORD disposition = 0;
        if (registry.RegCreateKeyExW(base, path, KEY_ALL_ACCESS, &key, &disposition) == ERROR_SUCCESS) {
          if (slot != nullptr) (void)registry.RegCloseKey(slot);
          slot = key;
        }
        break;
      }
      case 2:
      case 3:
      case 4:
      case 5: {
        const std::u16string name = input.Text();
        const DWORD type = (step & 1) != 0 ? input.Dword() : input.Byte() % 12;
        const std::size_t length = input.Word() % 2048;
        const std::vector<std::uint8_t> bytes = input.Bytes(length);
        registry.RegSetValueExW(slot != nullptr ? slot : base, name, type, bytes);
        break;
      }
      case 6:
        registry.RegDeleteKeyW(base, input.Text());
        break;
      case 7:
        if (slot != nullptr) registry.RegCloseKey(slot);
        slot = nullptr;
        break;
      default: {
        // Names of one or two units reach the corners of the text format
        // (quotes, brackets, backslashes, '=', '@', controls) more often.
        std::u16string name(1 + (step & 1), static_cast<char16_t>(input.Word()));
        registry.RegSetValueExW(slot != nullptr ? slot : base, name, REG_SZ, input.Bytes(input.Byte()));
        break;
      }
    }
  }
  for (HKEY key : open) {
    if (key != nullptr) registry.RegCloseKey(key);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(std::span<const std::uint8_t>(data, size));
  CallLedger ledger;
  SimRegistry built(ledger);
  Build(built, input);
  QX_FUZZ_CHECK(built.OpenHandleCount() == 0);
  fuzz::CheckReadsBack(built.Image());
  return 0;
}
