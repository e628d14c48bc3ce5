// Playlist repair on the simulated device's files: which files are wrapped,
// the exact bytes written, and what a failing device leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "platform/sim/sim.h"
#include "tests/choppy_files.h"

namespace qx {
namespace {

using sim::Call;
using sim::Fault;

constexpr std::u16string_view kClip = u"\\My Documents\\clip.asx";

std::vector<BYTE> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// The playlist a link is expected to become, spelled out rather than built
// from the launcher's own constants.
std::vector<BYTE> Wrapped(std::string_view link) {
  return Bytes("<asx version=\"3.0\">\r\n<entry>\r\n<ref href=\"" + std::string(link) + "\"/>\r\n</entry>\r\n</asx>");
}

std::string Link(std::size_t bytes) {
  std::string link = "http://host/";
  link.resize(bytes, 'a');
  return link;
}

class PlaylistFixUp : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(device.OpenHandles(), 0u) << "a handle was left open"; }
  std::vector<BYTE> File() { return device.kernel().GetFile(kClip).value_or(std::vector<BYTE>{}); }
  FixUpResult Wrap(const std::vector<BYTE>& content) { return Wrap(content, device.platform().files); }
  FixUpResult Wrap(const std::vector<BYTE>& content, IFiles& files) {
    device.kernel().PutFile(kClip, content);
    return WrapBareLink(files, kClip);
  }

  sim::SimDevice device;
};

TEST_F(PlaylistFixUp, WhatIsWrappedAndWhatIsLeft) {
  const std::string cr = "http://host/clip.wmv\r\n";
  struct Case {
    const char* what;
    std::string content;
    FixUpResult result;
  };
  const Case cases[] = {
      {"empty", "", FixUpResult::WrongSize},
      {"4 bytes", "http", FixUpResult::WrongSize},
      {"5 bytes", "http:", FixUpResult::Wrapped},
      {"1022 bytes", Link(1022), FixUpResult::Wrapped},
      {"1023 bytes", Link(1023), FixUpResult::WrongSize},
      {"1024 bytes", Link(1024), FixUpResult::WrongSize},
      {"5000 bytes", Link(5000), FixUpResult::WrongSize},
      {"upper-case link", "HTTP://HOST/CLIP", FixUpResult::Wrapped},
      {"mixed-case link", "Http://host/clip", FixUpResult::NotALink},
      {"mms link", "mms://host/clip", FixUpResult::NotALink},
      {"blank before the link", " http://host/clip", FixUpResult::NotALink},
      {"playlist", "<asx version=\"3.0\"><entry><ref href=\"http://h/c\"/></entry></asx>",
       FixUpResult::AlreadyPlaylist},
      {"upper-case playlist", "<ASX VERSION=\"3.0\"></ASX>", FixUpResult::AlreadyPlaylist},
      {"mixed-case playlist", "<Asx version=\"3.0\"></Asx>", FixUpResult::NotALink},
      {"link with line end", cr, FixUpResult::Wrapped},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Wrap(Bytes(c.content)), c.result);
    EXPECT_EQ(File(), c.result == FixUpResult::Wrapped ? Wrapped(c.content) : Bytes(c.content));
  }
  // The line end stays inside the attribute, just before its closing quote.
  Wrap(Bytes(cr));
  const std::vector<BYTE> file = File();
  const std::string text(file.begin(), file.end());
  EXPECT_NE(text.find("clip.wmv\r\n\"/>"), std::string::npos) << text;
}

TEST_F(PlaylistFixUp, ANineteenByteLinkBecomesEightyOneBytes) {
  ASSERT_EQ(Wrap(Bytes("http://host/clip.wm")), FixUpResult::Wrapped);
  const std::string expected =
      "<asx version=\"3.0\">\r\n"
      "<entry>\r\n"
      "<ref href=\"http://host/clip.wm\"/>\r\n"
      "</entry>\r\n"
      "</asx>";
  EXPECT_EQ(File(), Bytes(expected));
  EXPECT_EQ(File().size(), 81u);
}

TEST_F(PlaylistFixUp, AZeroByteEndsTheLinkAndNoOldTailStays) {
  std::vector<BYTE> content = Bytes("http://host/clip");
  content.push_back(0);
  content.resize(900, 'z');  // longer than the playlist it becomes
  ASSERT_EQ(Wrap(content), FixUpResult::Wrapped);
  EXPECT_EQ(File(), Wrapped("http://host/clip"));
  EXPECT_EQ(File().size(), 41u + 16u + 21u);
}

TEST_F(PlaylistFixUp, NoFileNoChange) {
  EXPECT_EQ(WrapBareLink(device.platform().files, u"mms://host/clip.asx"), FixUpResult::NotOpened);
  EXPECT_EQ(WrapBareLink(device.platform().files, kClip), FixUpResult::NotOpened);
  EXPECT_FALSE(device.kernel().GetFile(kClip)) << "files are never created";
}

// Every step of reading and rewriting may fail; the file is then either
// untouched or given back its original bytes, and never reported as done.
TEST_F(PlaylistFixUp, AFailingDeviceLeavesTheOriginalBytes) {
  std::vector<BYTE> zeroInside = Bytes("http://host/clip");
  zeroInside.push_back(0);
  zeroInside.resize(300, 'z');
  struct Case {
    const char* what;
    Fault fault;
    std::vector<BYTE> content;
    FixUpResult result;
  };
  const Case cases[] = {
      {"open", {Call::CreateFileW}, Bytes("http://host/clip"), FixUpResult::NotOpened},
      {"read", {Call::ReadFile}, Bytes("http://host/clip"), FixUpResult::ReadFailed},
      {"second read", {Call::ReadFile, 2}, Bytes("http://host/clip"), FixUpResult::ReadFailed},
      {"seek", {Call::SetFilePointer}, Bytes("http://host/clip"), FixUpResult::WriteFailed},
      {"write", {Call::WriteFile}, Bytes("http://host/clip"), FixUpResult::WriteFailed},
      {"truncate", {Call::SetEndOfFile}, zeroInside, FixUpResult::WriteFailed},
      // The bytes put back are as long as the file: no cut is needed.
      {"every truncate", {Call::SetEndOfFile, 1, 0}, zeroInside, FixUpResult::WriteFailed},
      // A playlist longer than the link covers it whole: no cut is needed.
      {"truncate of a plain link", {Call::SetEndOfFile, 1, 0}, Bytes("http://host/clip"), FixUpResult::Wrapped},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    device.kernel().PutFile(kClip, c.content);
    device.ledger().Plan(c.fault);
    EXPECT_EQ(WrapBareLink(device.platform().files, kClip), c.result);
    device.ledger().ClearFaults();
    EXPECT_EQ(File(), c.result == FixUpResult::Wrapped ? Wrapped("http://host/clip") : c.content);
    EXPECT_EQ(device.OpenHandles(), 0u);
  }
}

TEST_F(PlaylistFixUp, ShortReadsAndWritesAreCarriedOnAndAFailedWriteUndone) {
  ChoppyFiles choppy(device.platform().files, 100, 10);
  // A long file read in pieces is still seen as long.
  EXPECT_EQ(Wrap(Bytes(Link(1500)), choppy), FixUpResult::WrongSize);
  EXPECT_EQ(File(), Bytes(Link(1500)));
  // A link read and written in pieces arrives whole.
  EXPECT_EQ(Wrap(Bytes(Link(300)), choppy), FixUpResult::Wrapped);
  EXPECT_EQ(File(), Wrapped(Link(300)));
  // A write that fails with 30 bytes of the playlist in gives the link back.
  device.ledger().Plan({Call::WriteFile, 4});
  EXPECT_EQ(Wrap(Bytes(Link(200)), choppy), FixUpResult::WriteFailed);
  EXPECT_EQ(File(), Bytes(Link(200)));
}

}  // namespace
}  // namespace qx
