// Reading a codeplug back after a download: what must match (the image up to
// its ImageLength, not the padding after it), what counts as a difference
// (another word, or less than the image), and a read-back that cannot be
// done, which is never taken for a match.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/UpdatePeer.h"
#include "transfer/CodeplugReadBack.h"

namespace bcu::transfer {
namespace {

using testsupport::Group3;
using testsupport::Is;
using testsupport::UpdateLinkHost;
using testsupport::UpdatePeer;

// A sent image of `words` words (radio block at 0, ImageLength at word 4),
// followed by `extra` bytes beyond the image.
std::vector<std::uint8_t> Sent(int words, int extra) {
  std::vector<std::uint8_t> bytes(2 * static_cast<std::size_t>(words) + extra);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  bytes[0] = bytes[1] = 0x5F;
  bytes[2] = 0x00;
  bytes[3] = 0x40;
  bytes[8] = static_cast<std::uint8_t>(words >> 8);
  bytes[9] = static_cast<std::uint8_t>(words);
  return bytes;
}

TEST(ReadBackCompare, ImageWordsMustMatchBytesAfterItNeedNot) {
  const auto sent = Sent(300, 40);
  EXPECT_EQ(WordsToCompare(sent), 300);

  auto read = sent;
  read.resize(640, 0x20);  // the radio pads its last block; the bytes after the image differ
  for (std::size_t i = 600; i < 640; ++i) read[i] = 0x20;
  ReadBackResult r = CompareReadBack(sent, read);
  EXPECT_EQ(r.verdict, ReadBackVerdict::kSame);
  EXPECT_EQ(r.comparedWords, 300);

  read[2 * 123 + 1] ^= 0x01;
  r = CompareReadBack(sent, read);
  EXPECT_EQ(r.verdict, ReadBackVerdict::kDiffers);
  EXPECT_EQ(r.firstDifferentWord, 123);

  // Less than the image came back: a difference at the first missing word.
  r = CompareReadBack(sent, std::vector<std::uint8_t>(sent.begin(), sent.begin() + 512));
  EXPECT_EQ(r.verdict, ReadBackVerdict::kDiffers);
  EXPECT_EQ(r.firstDifferentWord, 256);

  // Without a radio block every word sent is compared.
  std::vector<std::uint8_t> plain(20, 1);
  EXPECT_EQ(WordsToCompare(plain), 10);
  // A declared length beyond what was sent is held to what was sent.
  auto shortSent = Sent(300, 0);
  shortSent.resize(100);
  EXPECT_EQ(WordsToCompare(shortSent), 50);
}

// The radio side of a read-back: asks for the password when `password` is
// not empty, then sends `image` block by block until the PC ends.
void RadioUpload(UpdatePeer& p, const std::vector<std::uint8_t>& image, const std::string& password,
                 int& passwordsSeen) {
  auto start = p.Next();
  if (!start || !Is(*start, 3, 0x07)) return;
  if (!password.empty()) {
    p.Send(Group3(0x0B));
    auto answer = p.Next();
    if (!answer || !Is(*answer, 3, 0x0C)) return;
    ++passwordsSeen;
  }
  p.Send(Group3(0x0D));
  for (std::size_t at = 0;; at += 128) {
    std::vector<std::uint8_t> block(128, 0);
    for (std::size_t k = 0; k < 128 && at + k < image.size(); ++k) block[k] = image[at + k];
    p.Send(Group3(0x02, block));
    auto answer = p.Next();
    if (!answer || !Is(*answer, 3, 0x08)) return;
  }
}

TEST(ReadBackRadio, SameDiffersAndNotRead) {
  const auto sent = Sent(300, 0);
  // Every word the same: the radio sends the image back (chain of one block
  // of 0x40 words, then its trailing words up to word 300).
  {
    UpdatePeer peer;
    UpdateLinkHost pc(peer.DevicePath());
    int passwords = 0;
    peer.Run([&](UpdatePeer& p) { RadioUpload(p, sent, "", passwords); });
    const ReadBackResult r = ReadBackCodeplug(pc.Link(), nullptr, nullptr, sent);
    peer.Join();
    EXPECT_EQ(r.verdict, ReadBackVerdict::kSame);
    EXPECT_EQ(r.bytesRead, 640);
  }
  // One stored word differs.
  {
    auto stored = sent;
    stored[2 * 290] ^= 0x80;
    UpdatePeer peer;
    UpdateLinkHost pc(peer.DevicePath());
    int passwords = 0;
    peer.Run([&](UpdatePeer& p) { RadioUpload(p, stored, "", passwords); });
    const ReadBackResult r = ReadBackCodeplug(pc.Link(), nullptr, nullptr, sent);
    peer.Join();
    EXPECT_EQ(r.verdict, ReadBackVerdict::kDiffers);
    EXPECT_EQ(r.firstDifferentWord, 290);
  }
  // A radio that does not answer: not read, never "same".
  {
    UpdatePeer peer;
    UpdateLinkHost pc(peer.DevicePath(), 400);
    peer.Run([](UpdatePeer& p) { p.Next(); });
    const ReadBackResult r = ReadBackCodeplug(pc.Link(), nullptr, nullptr, sent);
    peer.Join();
    EXPECT_EQ(r.verdict, ReadBackVerdict::kNotRead);
    EXPECT_LE(r.uploadResult, 0);
  }
}

// A radio that wants its password gets the one the download used, without a
// prompt (there is no host to ask here: a prompt would cancel).
TEST(ReadBackRadio, KnownPasswordIsGivenFirst) {
  const auto sent = Sent(300, 0);
  UpdatePeer peer;
  UpdateLinkHost pc(peer.DevicePath());
  int passwords = 0;
  peer.Run([&](UpdatePeer& p) { RadioUpload(p, sent, "1234", passwords); });
  const std::string known = "1234";
  const ReadBackResult r = ReadBackCodeplug(pc.Link(), nullptr, &known, sent);
  peer.Join();
  EXPECT_EQ(passwords, 1);
  EXPECT_EQ(r.verdict, ReadBackVerdict::kSame);
  const auto got = peer.Received();
  ASSERT_GE(got.size(), 2u);
  ASSERT_TRUE(Is(got[1], 3, 0x0C));
  EXPECT_EQ(got[1], Group3(0x0C, {0x12, 0x34, 0xFF, 0xFF}));
}

}  // namespace
}  // namespace bcu::transfer
