// The codeplug transfer against a scripted radio on a pseudo-terminal: the
// upload's end test, the download's block pairs, padding, sums and
// scrambling, and the failures that must not pass as success.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/UpdatePeer.h"
#include "transfer/CodeplugScrambler.h"
#include "transfer/VYXTransferParms.h"

namespace bcu::transfer {
namespace {

using testsupport::Group3;
using testsupport::Is;
using testsupport::Payload;
using testsupport::UpdateLinkHost;
using testsupport::UpdatePeer;

constexpr char kKeyText[] = "0011223344556677";

std::vector<std::uint8_t> Block(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> b(bytes);
  b.resize(128, 0xA5);
  return b;
}

// A block starting with a chain header of `words` words.
std::vector<std::uint8_t> Header(int words) {
  return {0x5F, 0x5F, static_cast<std::uint8_t>(words >> 8), static_cast<std::uint8_t>(words)};
}

// Radio side of an upload: accepts the start at once, then sends `blocks`
// (with an extra 03 08 before the second one) until the PC answers 03 04.
void RadioUpload(UpdatePeer& peer, const std::vector<std::vector<std::uint8_t>>& blocks,
                 int& sent) {
  auto start = peer.Next();
  if (!start || !Is(*start, 3, 0x07)) return;
  peer.Send(Group3(0x0D));
  for (const auto& block : blocks) {
    if (sent == 1) peer.Send(Group3(0x08));
    peer.Send(Group3(0x02, block));
    ++sent;
    auto answer = peer.Next();
    if (!answer || !Is(*answer, 3, 0x08)) return;
  }
}

struct Fixture {
  UpdatePeer peer;
  UpdateLinkHost pc{peer.DevicePath()};
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kCodeplugBufferSize, 0);
  VYXTransferParms transfer;
  Fixture() {
    transfer.SetBuffer(buffer.data(), 0);
    transfer.SetRadioKey(kKeyText);
    transfer.SetLink(&pc.Link());
  }
};

TEST(TransferUploadTest, BlockWithoutHeaderIsTheWholeCodeplug) {
  Fixture f;
  ASSERT_TRUE(f.pc.opened());
  int sent = 0;
  f.peer.Run([&](UpdatePeer& p) { RadioUpload(p, {Block({1, 2, 3}), Block({4})}, sent); });
  EXPECT_GT(f.transfer.Upload(), 0);
  f.peer.Join();
  EXPECT_EQ(f.transfer.GetLength(), 128);
  EXPECT_EQ(sent, 1);
  EXPECT_EQ(f.buffer[0], 1);
  EXPECT_EQ(f.buffer[127], 0xA5);
  const auto got = f.peer.Received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(Is(got[0], 3, 0x07));
  EXPECT_TRUE(Is(got[1], 3, 0x04));
  EXPECT_FALSE(link::CommIsRunning(f.pc.Link()));
}

TEST(TransferUploadTest, ChainOfShortBlocksIsFollowedOneHeaderPerBlock) {
  // Blocks of 100, 40 and 50 words: headers at 0, 200 and 280; 380 holds no
  // header. One header is read per block, so four blocks arrive.
  std::vector<std::uint8_t> image(640, 0x11);
  const auto put = [&](int at, int words) {
    const auto h = Header(words);
    std::copy(h.begin(), h.end(), image.begin() + at);
  };
  put(0, 100);
  put(200, 40);
  put(280, 50);
  image[8] = image[9] = 0;  // the first block declares no image length beyond its chain
  std::vector<std::vector<std::uint8_t>> blocks;
  for (int i = 0; i < 5; ++i)
    blocks.emplace_back(image.begin() + i * 128, image.begin() + i * 128 + 128);
  Fixture f;
  int sent = 0;
  f.peer.Run([&](UpdatePeer& p) { RadioUpload(p, blocks, sent); });
  EXPECT_GT(f.transfer.Upload(), 0);
  f.peer.Join();
  EXPECT_EQ(f.transfer.GetLength(), 512);
  EXPECT_EQ(sent, 4);
  EXPECT_EQ(0, std::memcmp(f.buffer.data(), image.data(), 512));
  // The 03 08 the radio sent during the upload was ignored: three 03 08
  // answers from the PC, then 03 04.
  const auto got = f.peer.Received();
  ASSERT_EQ(got.size(), 5u);
  for (int i = 1; i <= 3; ++i) EXPECT_TRUE(Is(got[i], 3, 0x08)) << i;
  EXPECT_TRUE(Is(got[4], 3, 0x04));

  // A second upload with the same object scans from offset 0 again.
  std::fill(f.buffer.begin(), f.buffer.end(), 0);
  f.transfer.SetBuffer(f.buffer.data(), 0);
  sent = 0;
  f.peer.Run([&](UpdatePeer& p) { RadioUpload(p, {Block({9})}, sent); });
  EXPECT_GT(f.transfer.Upload(), 0);
  f.peer.Join();
  EXPECT_EQ(f.transfer.GetLength(), 128);
}

// An image (radio block at 0) of `imageWords` words whose chain of blocks
// ends 128 words before: the words after the chain hold data.
std::vector<std::uint8_t> Image(int imageWords) {
  std::vector<std::uint8_t> image(2 * static_cast<std::size_t>(imageWords));
  for (std::size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<std::uint8_t>(0x30 + i % 97);
  const int chain = imageWords - 128;
  // Radio block of `chain` words; word 4 ImageLength.
  image[0] = image[1] = 0x5F;
  image[2] = static_cast<std::uint8_t>(chain >> 8);
  image[3] = static_cast<std::uint8_t>(chain);
  image[8] = static_cast<std::uint8_t>(imageWords >> 8);
  image[9] = static_cast<std::uint8_t>(imageWords);
  return image;
}

std::vector<std::vector<std::uint8_t>> Blocks(const std::vector<std::uint8_t>& image, int count) {
  std::vector<std::vector<std::uint8_t>> blocks;
  for (int i = 0; i < count; ++i) {
    std::vector<std::uint8_t> b(128, 0);
    for (std::size_t k = 0; k < 128; ++k)
      if (i * 128 + k < image.size()) b[k] = image[i * 128 + k];
    blocks.push_back(b);
  }
  return blocks;
}

// Once the chain has ended the upload goes on to the image's ImageLength: the
// 128 words after the last block come along, whether the image ends at, just
// after or just before a block boundary; then 03 04, and no block more.
TEST(TransferUploadTest, WholeImageIsReadPastTheEndOfTheChain) {
  for (const int bytes : {10240, 10242, 10238}) {
    const auto image = Image(bytes / 2);
    const int blocksNeeded = (bytes + 127) / 128;
    Fixture f;
    int sent = 0;
    f.peer.Run([&](UpdatePeer& p) { RadioUpload(p, Blocks(image, blocksNeeded + 3), sent); });
    EXPECT_GT(f.transfer.Upload(), 0) << bytes;
    f.peer.Join();
    EXPECT_EQ(f.transfer.GetLength(), blocksNeeded * 128) << bytes;
    EXPECT_EQ(sent, blocksNeeded) << bytes;
    EXPECT_EQ(0, std::memcmp(f.buffer.data(), image.data(), image.size())) << bytes;
    EXPECT_TRUE(Is(f.peer.Received().back(), 3, 0x04));
  }
}

// An ImageLength past the buffer is read up to the buffer's end; one shorter
// than the chain does not cut the chain.
TEST(TransferUploadTest, DeclaredLengthIsCappedAndNeverShortensTheChain) {
  {
    auto image = Image(0x4000);
    image[8] = image[9] = 0xFF;  // 65,535 words declared
    Fixture f;
    int sent = 0;
    f.peer.Run([&](UpdatePeer& p) { RadioUpload(p, Blocks(image, 520), sent); });
    EXPECT_GT(f.transfer.Upload(), 0);
    f.peer.Join();
    EXPECT_EQ(f.transfer.GetLength(), kCodeplugBufferSize);
    EXPECT_EQ(sent, 512);
    EXPECT_TRUE(Is(f.peer.Received().back(), 3, 0x04));
  }
  {
    auto image = Image(1000);
    image[8] = 0;
    image[9] = 10;  // 10 words declared, a chain of 872
    Fixture f;
    int sent = 0;
    f.peer.Run([&](UpdatePeer& p) { RadioUpload(p, Blocks(image, 20), sent); });
    EXPECT_GT(f.transfer.Upload(), 0);
    f.peer.Join();
    EXPECT_EQ(f.transfer.GetLength(), 1792);  // the chain's 1,744 bytes, whole blocks
  }
}

TEST(TransferUploadTest, StalledScanEndsWhenTheBufferIsFull) {
  std::vector<std::vector<std::uint8_t>> blocks(513, Block({}));
  blocks[0] = Block(Header(0));
  Fixture f;
  int sent = 0;
  f.peer.Run([&](UpdatePeer& p) { RadioUpload(p, blocks, sent); });
  EXPECT_GT(f.transfer.Upload(), 0);
  f.peer.Join();
  EXPECT_EQ(f.transfer.GetLength(), kCodeplugBufferSize);
  EXPECT_EQ(sent, 513);
  EXPECT_TRUE(Is(f.peer.Received().back(), 3, 0x04));
}

TEST(TransferUploadTest, ShortDataPacketFailsInsteadOfStoringStaleBytes) {
  Fixture f;
  f.peer.Run([](UpdatePeer& p) {
    if (!p.Next()) return;
    p.Send(Group3(0x0E));
    p.Send(Group3(0x02, std::vector<std::uint8_t>(60, 0x33)));
  });
  EXPECT_EQ(f.transfer.Upload(), kTransferShortPacket);
  f.peer.Join();
  EXPECT_EQ(f.transfer.GetLength(), 0);
  EXPECT_FALSE(link::CommIsRunning(f.pc.Link()));
}

TEST(TransferUploadTest, UnexpectedPacketAndSilenceFail) {
  Fixture f;
  f.peer.Run([](UpdatePeer& p) {
    if (!p.Next()) return;
    p.Send(Group3(0x0D));
    p.Send(Group3(0x02, Block(Header(200))));
    p.Next();
    p.Send(Payload{0x04, 0x05});
  });
  EXPECT_EQ(f.transfer.Upload(), -1);
  f.peer.Join();
  EXPECT_EQ(f.transfer.GetLength(), 128);  // what came before the failure

  UpdatePeer silent;
  UpdateLinkHost pc(silent.DevicePath(), 300);
  VYXTransferParms transfer;
  std::vector<std::uint8_t> buffer(kCodeplugBufferSize, 0);
  transfer.SetBuffer(buffer.data(), 0);
  transfer.SetLink(&pc.Link());
  EXPECT_EQ(transfer.Upload(), -1);
  // The password exchange abandoned the transfer with 03 04.
  silent.Run([](UpdatePeer& p) {
    p.Next(500);
    p.Next(500);
  });
  silent.Join();
  const auto got = silent.Received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(Is(got[1], 3, 0x04));
}

// Undoes ScrambleBlock with the two keystream bytes of the block.
std::vector<std::uint8_t> Unscramble(const std::uint8_t* s, CodeplugScrambler& ks) {
  const std::uint8_t k0 = ks.NextKeyByte();
  const std::uint8_t k1 = ks.NextKeyByte();
  std::vector<std::uint8_t> b(128);
  b[1] = s[0] ^ k0;
  b[0] = s[1] ^ k1;
  for (int i = 2; i < 128; i += 2) {
    b[i + 1] = s[i] ^ s[0];
    b[i] = s[i + 1] ^ s[1];
  }
  return b;
}

std::uint16_t WordSum(const std::vector<std::uint8_t>& bytes) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) sum += bytes[i] * 256 + bytes[i + 1];
  return sum;
}

struct RadioDownloadLog {
  std::vector<std::vector<std::uint8_t>> scrambled;
  std::vector<std::vector<std::uint8_t>> plain;
  std::vector<std::uint16_t> sums;  // reported per pair
  std::vector<bool> agreed;
  bool ended = false;  // the PC sent 03 04
};

// Radio side of a download: asks for blocks until 03 04, unscrambles them
// with `key`, reports each pair's sum (plus `sumError`) and records all.
// `stopAfter` >= 0: the radio ends with 04 05 after that many blocks.
void RadioDownload(UpdatePeer& peer, const std::uint8_t key[8], RadioDownloadLog& log,
                   std::uint16_t sumError = 0, int stopAfter = -1) {
  auto start = peer.Next();
  if (!start || !Is(*start, 3, 0x00)) return;
  peer.Send(Group3(0x0D));
  CodeplugScrambler ks;
  ks.Reset(key);
  std::uint16_t pairSum = 0;
  for (;;) {
    if (stopAfter >= 0 && static_cast<int>(log.plain.size()) == stopAfter) {
      peer.Send(Payload{0x04, 0x05});
      return;
    }
    peer.Send(Group3(0x08));
    auto p = peer.Next();
    if (!p) return;
    if (Is(*p, 3, 0x04)) {
      log.ended = true;
      return;
    }
    if (!Is(*p, 3, 0x02) || p->size() != 130) return;
    log.scrambled.emplace_back(p->begin() + 2, p->end());
    log.plain.push_back(Unscramble(p->data() + 2, ks));
    pairSum = static_cast<std::uint16_t>(pairSum + WordSum(log.plain.back()));
    if (log.plain.size() % 2 == 0) {
      const std::uint16_t reported = static_cast<std::uint16_t>(pairSum + sumError);
      log.sums.push_back(pairSum);
      peer.Send(Group3(
          0x03, {static_cast<std::uint8_t>(reported >> 8), static_cast<std::uint8_t>(reported)}));
      auto answer = peer.Next();
      if (!answer) return;
      log.agreed.push_back(Is(*answer, 3, 0x05));
      pairSum = 0;
    }
  }
}

const std::uint8_t kKey[8] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};

TEST(TransferDownloadTest, OddBlockCountIsPaddedWithSpaces) {
  Fixture f;
  for (int i = 0; i < 384; ++i) f.buffer[i] = static_cast<std::uint8_t>(i * 7);
  f.transfer.SetBuffer(f.buffer.data(), 384);
  RadioDownloadLog log;
  f.peer.Run([&](UpdatePeer& p) { RadioDownload(p, kKey, log); });
  EXPECT_GT(f.transfer.Download(), 0);
  f.peer.Join();
  ASSERT_EQ(log.plain.size(), 4u);
  EXPECT_TRUE(log.ended);
  for (int i = 0; i < 384; ++i) {
    EXPECT_EQ(log.plain[i / 128][i % 128], static_cast<std::uint8_t>(i * 7)) << i;
  }
  EXPECT_EQ(log.plain[3], std::vector<std::uint8_t>(128, ' '));
  EXPECT_EQ(log.agreed, (std::vector<bool>{true, true}));
  EXPECT_FALSE(f.transfer.SumDiffered());
  EXPECT_FALSE(link::CommIsRunning(f.pc.Link()));
  // The buffer keeps its plain bytes.
  EXPECT_EQ(f.buffer[1], 7);
}

TEST(TransferDownloadTest, EmptyAndFullCodeplugs) {
  Fixture f;
  f.transfer.SetBuffer(f.buffer.data(), 0);
  RadioDownloadLog log;
  f.peer.Run([&](UpdatePeer& p) { RadioDownload(p, kKey, log); });
  EXPECT_GT(f.transfer.Download(), 0);
  f.peer.Join();
  EXPECT_TRUE(log.ended);
  EXPECT_TRUE(log.plain.empty());

  for (int i = 0; i < kCodeplugBufferSize; ++i)
    f.buffer[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
  f.transfer.SetBuffer(f.buffer.data(), kCodeplugBufferSize);
  RadioDownloadLog full;
  f.peer.Run([&](UpdatePeer& p) { RadioDownload(p, kKey, full); });
  EXPECT_GT(f.transfer.Download(), 0);
  f.peer.Join();
  ASSERT_EQ(full.plain.size(), 512u);
  EXPECT_TRUE(full.ended);
  EXPECT_EQ(full.plain[511][127], f.buffer[65535]);
  EXPECT_EQ(full.agreed, std::vector<bool>(256, true));
}

TEST(TransferDownloadTest, TwoRadioKeysGiveDifferentBlocksAndTheSameSums) {
  RadioDownloadLog logs[2];
  const char* keys[2] = {"0011223344556677", "8899AABBCCDDEEFF"};
  const std::uint8_t keyBytes[2][8] = {{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77},
                                       {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};
  for (int k = 0; k < 2; ++k) {
    Fixture f;
    for (int i = 0; i < 512; ++i) f.buffer[i] = static_cast<std::uint8_t>(i * 13 + 5);
    f.transfer.SetRadioKey(keys[k]);
    f.transfer.SetBuffer(f.buffer.data(), 512);
    f.peer.Run([&](UpdatePeer& p) { RadioDownload(p, keyBytes[k], logs[k]); });
    EXPECT_GT(f.transfer.Download(), 0);
    f.peer.Join();
  }
  ASSERT_EQ(logs[0].plain.size(), 4u);
  EXPECT_EQ(logs[0].plain, logs[1].plain);
  EXPECT_EQ(logs[0].sums, logs[1].sums);
  EXPECT_EQ(logs[0].agreed, (std::vector<bool>{true, true}));
  for (int b = 0; b < 4; ++b) EXPECT_NE(logs[0].scrambled[b], logs[1].scrambled[b]) << b;
}

TEST(TransferDownloadTest, DifferingSumRunsToTheEndButFails) {
  Fixture f;
  f.transfer.SetBuffer(f.buffer.data(), 512);
  RadioDownloadLog log;
  f.peer.Run([&](UpdatePeer& p) { RadioDownload(p, kKey, log, 1); });
  EXPECT_EQ(f.transfer.Download(), kTransferSumDiffered);
  f.peer.Join();
  EXPECT_TRUE(f.transfer.SumDiffered());
  // 03 06 for each pair; the blocks were not sent again, and 03 04 ended it.
  EXPECT_EQ(log.agreed, (std::vector<bool>{false, false}));
  EXPECT_EQ(log.plain.size(), 4u);
  EXPECT_TRUE(log.ended);
}

TEST(TransferDownloadTest, RadioEndingEarlyIsAFailureEndingAfterTheLastBlockIsNot) {
  Fixture f;
  f.transfer.SetBuffer(f.buffer.data(), 512);
  RadioDownloadLog early;
  f.peer.Run([&](UpdatePeer& p) { RadioDownload(p, kKey, early, 0, 2); });
  EXPECT_EQ(f.transfer.Download(), kTransferEndedEarly);
  f.peer.Join();

  RadioDownloadLog late;
  f.peer.Run([&](UpdatePeer& p) { RadioDownload(p, kKey, late, 0, 4); });
  EXPECT_EQ(f.transfer.Download(), 1);
  f.peer.Join();
  EXPECT_EQ(late.plain.size(), 4u);
}

TEST(TransferDownloadTest, SumReportWithoutItsBytesIsStillAnswered) {
  Fixture f;
  for (int i = 0; i < 256; ++i) f.buffer[i] = 0x01;
  f.transfer.SetBuffer(f.buffer.data(), 256);
  std::vector<Payload> answers;
  f.peer.Run([&](UpdatePeer& p) {
    if (!p.Next()) return;
    p.Send(Group3(0x0D));
    for (int i = 0; i < 2; ++i) {
      p.Send(Group3(0x08));
      if (!p.Next()) return;
    }
    // The report lacks its sum bytes: they count as 0, which is not the sum.
    p.Send(Group3(0x03));
    if (auto a = p.Next()) answers.push_back(*a);
    p.Send(Group3(0x08));
    if (auto a = p.Next()) answers.push_back(*a);
  });
  EXPECT_EQ(f.transfer.Download(), kTransferSumDiffered);
  f.peer.Join();
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_TRUE(Is(answers[0], 3, 0x06));
  EXPECT_TRUE(Is(answers[1], 3, 0x04));
}

TEST(TransferDownloadTest, LengthBeyondTheBufferIsRefusedWithoutSending) {
  Fixture f;
  f.transfer.SetBuffer(f.buffer.data(), kCodeplugBufferSize + 2);
  EXPECT_EQ(f.transfer.Download(), kTransferBadLength);
  f.transfer.SetBuffer(f.buffer.data(), -128);
  EXPECT_EQ(f.transfer.Download(), kTransferBadLength);
  f.peer.Run([](UpdatePeer& p) { p.Next(300); });
  f.peer.Join();
  EXPECT_TRUE(f.peer.Received().empty());
}

TEST(TransferRadioKeyTest, TextToKeyBytes) {
  VYXTransferParms t;
  EXPECT_EQ(std::vector<std::uint8_t>(t.RadioKey(), t.RadioKey() + 8),
            std::vector<std::uint8_t>(8, 0));  // zero before any key is set
  t.SetRadioKey(" \t0123456789abcdef\r\n");
  EXPECT_EQ(std::vector<std::uint8_t>(t.RadioKey(), t.RadioKey() + 8),
            (std::vector<std::uint8_t>{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
  // Shorter text: later bytes keep their values; a last single character and
  // characters past 16 are ignored; a non-hex character counts as 0.
  t.SetRadioKey("FFG1Z");
  EXPECT_EQ(std::vector<std::uint8_t>(t.RadioKey(), t.RadioKey() + 8),
            (std::vector<std::uint8_t>{0xFF, 0x01, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
  t.SetRadioKey("");
  EXPECT_EQ(t.RadioKey()[0], 0xFF);
  t.SetRadioKey("11111111111111112222");
  EXPECT_EQ(std::vector<std::uint8_t>(t.RadioKey(), t.RadioKey() + 8),
            std::vector<std::uint8_t>(8, 0x11));
}

}  // namespace
}  // namespace bcu::transfer
