// The launcher's playlist repair over a simulated file, with the device
// failing a call the input picks (once or from then on) and cutting reads
// and writes short. Properties: the file ends either as its original bytes
// or as the whole composed playlist (a device that refuses every write from
// some point on may leave a half-written file, but then the repair says it
// failed); "wrapped" is said only of the playlist a bare link becomes, and
// the decision is the one the content calls for.
#include <string_view>

#include "launcher/launcher.h"
#include "platform/sim/sim.h"
#include "tests/choppy_files.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

using namespace qx;
using sim::Call;

constexpr std::u16string_view kPlaylist = u"\\My Documents\\clip.asx";

constexpr Call kFaultable[] = {Call::CreateFileW,   Call::ReadFile,     Call::WriteFile,
                               Call::SetFilePointer, Call::SetEndOfFile, Call::CloseHandle};

bool Begins(const std::vector<BYTE>& content, std::string_view text) {
  return content.size() >= text.size() && std::equal(text.begin(), text.end(), content.begin());
}

// Whether a file with this content is a bare link to wrap: 5 to 1022 bytes,
// beginning with "http" or "HTTP" (a playlist begins with "<", never so).
bool IsBareLink(const std::vector<BYTE>& content) {
  return content.size() >= 5 && content.size() <= 1022 && (Begins(content, "http") || Begins(content, "HTTP"));
}

std::vector<BYTE> Composed(const std::vector<BYTE>& content) {
  const std::string_view prefix = "<asx version=\"3.0\">\r\n<entry>\r\n<ref href=\"";
  const std::string_view suffix = "\"/>\r\n</entry>\r\n</asx>";
  std::vector<BYTE> playlist(prefix.begin(), prefix.end());
  playlist.insert(playlist.end(), content.begin(), std::find(content.begin(), content.end(), BYTE{0}));
  playlist.insert(playlist.end(), suffix.begin(), suffix.end());
  return playlist;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A fresh device each time: the world remembers every content it put.
  sim::SimDevice device;
  fuzz::Input input(std::span<const std::uint8_t>(data, size));
  const std::uint8_t faultChoice = input.Byte();
  const std::size_t nth = 1 + input.Byte() % 8;
  const bool forever = (input.Byte() & 1) != 0;
  const std::size_t maxRead = input.Byte();
  const std::size_t maxWrite = input.Byte();
  const std::vector<BYTE> content = input.Rest();

  device.kernel().PutFile(kPlaylist, content);
  const bool faulty = faultChoice < std::size(kFaultable);
  if (faulty) device.ledger().Plan({kFaultable[faultChoice], nth, forever ? 0u : 1u, ERROR_ACCESS_DENIED});
  ChoppyFiles files(device.platform().files, maxRead == 0 ? SIZE_MAX : maxRead, maxWrite == 0 ? SIZE_MAX : maxWrite);
  const FixUpResult result = WrapBareLink(files, kPlaylist);
  device.ledger().ClearFaults();

  const std::vector<BYTE> after = device.kernel().GetFile(kPlaylist).value_or(std::vector<BYTE>{});
  const bool original = after == content;
  const bool whole = after == Composed(content);
  switch (result) {
    case FixUpResult::Wrapped:
      QX_FUZZ_CHECK(whole && IsBareLink(content));
      break;
    case FixUpResult::WriteFailed:
      QX_FUZZ_CHECK(faulty && IsBareLink(content));
      QX_FUZZ_CHECK(original || whole || forever);
      break;
    case FixUpResult::NotOpened:
    case FixUpResult::ReadFailed:
      QX_FUZZ_CHECK(faulty && original);
      break;
    case FixUpResult::WrongSize:
    case FixUpResult::AlreadyPlaylist:
    case FixUpResult::NotALink:
      QX_FUZZ_CHECK(original && !IsBareLink(content));
      break;
  }
  if (!faulty) QX_FUZZ_CHECK((result == FixUpResult::Wrapped) == IsBareLink(content));
  // A close the device refused is the only way a handle stays open.
  if (!faulty || kFaultable[faultChoice] != Call::CloseHandle) QX_FUZZ_CHECK(device.OpenHandles() == 0);
  return 0;
}
