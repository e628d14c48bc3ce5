// Playlist repair: some links reach the device as an ASX file that holds
// nothing but the link itself, which the player cannot open. Such a file is
// rewritten in place into a playlist with one entry that points at the link.
#include <algorithm>
#include <array>
#include <span>

#include "launcher/launcher.h"

namespace qx {

namespace {

// Fewer bytes than this cannot be a link worth wrapping.
constexpr std::size_t kMinLinkBytes = 5;

// The file being repaired, closed on every way out.
class PlaylistFile {
 public:
  PlaylistFile(IFiles& files, std::u16string_view path)
      : files_(files), handle_(files.CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING)) {}
  PlaylistFile(const PlaylistFile&) = delete;
  PlaylistFile& operator=(const PlaylistFile&) = delete;
  ~PlaylistFile() {
    if (Valid()) files_.CloseHandle(handle_);
  }

  [[nodiscard]] bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

  // Fills buffer from the current position until it is full or the file
  // ends: one read may hand back fewer bytes than are there, and taking
  // that for the file's end would mistake a long file for a short one.
  bool ReadUpTo(std::span<BYTE> buffer, std::size_t* total) {
    *total = 0;
    while (*total < buffer.size()) {
      DWORD read = 0;
      if (!files_.ReadFile(handle_, buffer.subspan(*total), &read)) return false;
      if (read == 0) break;
      *total += std::min<std::size_t>(read, buffer.size() - *total);
    }
    size_ = *total;  // the file's size, when it ended before the buffer did
    return true;
  }

  // Makes data the file's whole content: written from the start in full,
  // then the file is cut after it when it was longer, so nothing of an old
  // content stays behind. Data at least as long as the file needs no cut, so
  // a refused one cannot spoil it. False as soon as a needed step fails; the
  // file may then be changed.
  bool Replace(std::span<const BYTE> data) {
    if (files_.SetFilePointer(handle_, 0, FILE_BEGIN) != 0) return false;
    std::size_t done = 0;
    while (done < data.size()) {
      DWORD written = 0;
      if (!files_.WriteFile(handle_, data.subspan(done), &written) || written == 0) return false;
      done += std::min<std::size_t>(written, data.size() - done);
      size_ = std::max(size_, done);
    }
    if (data.size() >= size_) return true;
    if (!files_.SetEndOfFile(handle_)) return false;
    size_ = data.size();
    return true;
  }

 private:
  IFiles& files_;
  HANDLE handle_;
  std::size_t size_ = 0;  // known after a read to the end, kept by every write
};

// A fixed-size byte buffer that refuses to run over its end.
template <std::size_t N>
class BoundedBytes {
 public:
  bool Append(std::span<const BYTE> bytes) {
    if (bytes.size() > N - size_) return false;
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(size_));
    size_ += bytes.size();
    return true;
  }
  bool Append(std::string_view text) {
    return Append(std::span<const BYTE>(reinterpret_cast<const BYTE*>(text.data()), text.size()));
  }
  [[nodiscard]] std::span<const BYTE> View() const { return std::span<const BYTE>(bytes_.data(), size_); }

 private:
  std::array<BYTE, N> bytes_{};
  std::size_t size_ = 0;
};

bool BeginsWith(std::span<const BYTE> content, std::string_view text) {
  return content.size() >= text.size() &&
         std::equal(text.begin(), text.end(), content.begin(),
                    [](char expected, BYTE actual) { return static_cast<BYTE>(expected) == actual; });
}

}  // namespace

FixUpResult WrapBareLink(IFiles& files, std::u16string_view path) {
  PlaylistFile file(files, path);
  if (!file.Valid()) return FixUpResult::NotOpened;

  // The buffer stays one byte longer than what is read into it, so the
  // content always ends in a zero.
  std::array<BYTE, kPlaylistReadBufferBytes> input{};
  std::size_t size = 0;
  if (!file.ReadUpTo(std::span<BYTE>(input.data(), kPlaylistMaxReadBytes), &size)) {
    return FixUpResult::ReadFailed;
  }
  // A full buffer means the file may go on beyond it: never rewrite what was
  // not read whole.
  if (size < kMinLinkBytes || size >= kPlaylistMaxReadBytes) return FixUpResult::WrongSize;
  const std::span<const BYTE> content(input.data(), size);
  if (BeginsWith(content, "<asx") || BeginsWith(content, "<ASX")) return FixUpResult::AlreadyPlaylist;
  // Only these two spellings are links here; anything else is left to the
  // player as it is.
  if (!BeginsWith(content, "http") && !BeginsWith(content, "HTTP")) return FixUpResult::NotALink;

  // The link goes in exactly as read, line ends included, but only up to a
  // zero byte: what follows one is not part of the text.
  const std::span<const BYTE> link =
      content.first(static_cast<std::size_t>(std::find(content.begin(), content.end(), BYTE{0}) - content.begin()));
  // The buffer holds the longest content with both literals (checked where
  // the sizes are defined); the test only guards against a change of sizes.
  BoundedBytes<kPlaylistWriteBufferBytes> playlist;
  if (!playlist.Append(kAsxPrefix) || !playlist.Append(link) || !playlist.Append(kAsxSuffix)) {
    return FixUpResult::WrongSize;
  }

  if (file.Replace(playlist.View())) return FixUpResult::Wrapped;
  // A half-written playlist is worse than the bare link: put the original
  // bytes back (the file held exactly these, as it ended before the buffer
  // did) and leave the rest to the player.
  file.Replace(content);
  return FixUpResult::WriteFailed;
}

}  // namespace qx
