// The radio's side of the codeplug upload and download: password exchange,
// blocks, block sums and the scrambling of downloaded blocks.
#include <gtest/gtest.h>
#include <nettle/des.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <tuple>

#include "codeplug/CodeplugImage.h"
#include "codeplug/FormatVersion.h"
#include "codeplug/Validity.h"
#include "sim/BuiltinCodeplug.h"
#include "sim/CodeplugScrambler.h"
#include "sim/VirtualRadio.h"
#include "support/SimTalk.h"

namespace bcu::sim {
namespace {

using test::Bytes;
using test::SimTalk;

RadioConfig AppRadio() {
  RadioConfig c;
  c.startMode = RadioMode::kApplication;
  return c;
}

// The PC's scrambling, written out here from nettle directly: DES-OFB-8 with
// the fixed key, register = serial number; each block swapped pairwise, the
// first pair masked with two keystream bytes, the rest with the masked first.
class PcScrambler {
 public:
  explicit PcScrambler(const std::array<std::uint8_t, 8>& serial) {
    const std::uint8_t key[8] = {'Q', '$', 'Q', '$', 'Q', '$', 'Q', '$'};
    des_set_key(&ctx_, key);
    std::memcpy(reg_, serial.data(), 8);
  }
  Bytes Scramble(const std::uint8_t* b) {
    const std::uint8_t k0 = Step(), k1 = Step();
    Bytes s(128);
    s[0] = b[1] ^ k0;
    s[1] = b[0] ^ k1;
    for (int i = 2; i < 128; i += 2) {
      s[i] = b[i + 1] ^ s[0];
      s[i + 1] = b[i] ^ s[1];
    }
    return s;
  }

 private:
  std::uint8_t Step() {
    std::uint8_t o[8];
    des_encrypt(&ctx_, 8, o, reg_);
    std::memmove(reg_, reg_ + 1, 7);
    reg_[7] = o[0];
    return o[0];
  }
  des_ctx ctx_{};
  std::uint8_t reg_[8];
};

std::uint16_t WordSumBE(const std::uint8_t* d, std::size_t n) {
  std::uint16_t s = 0;
  for (std::size_t i = 0; i < n; i += 2) s = static_cast<std::uint16_t>(s + (d[i] << 8 | d[i + 1]));
  return s;
}

// Runs a whole upload as the PC does and returns the bytes received.
Bytes Upload(SimTalk& t, std::size_t blocks) {
  Bytes image;
  auto replies = t.Exchange({0x03, 0x07});
  EXPECT_EQ(replies.size(), 2u);  // accept, first block
  if (replies.size() != 2) return image;
  EXPECT_EQ(replies[0], (Bytes{0x03, 0x0D}));
  Bytes block = replies[1];
  for (std::size_t i = 0; i < blocks; ++i) {
    EXPECT_EQ(block.size(), 130u);
    EXPECT_EQ(block[1], 0x02);
    image.insert(image.end(), block.begin() + 2, block.end());
    if (i + 1 < blocks) block = t.Ask({0x03, 0x08});
  }
  EXPECT_TRUE(t.Exchange({0x03, 0x04}).empty());
  return image;
}

TEST(DesKnownAnswer, Fips46Vector) {
  const auto out = DesEncryptBlock({0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1},
                                   {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF});
  EXPECT_EQ(out, (std::array<std::uint8_t, 8>{0x85, 0xE8, 0x13, 0x54, 0x0F, 0x0A, 0xB4, 0x05}));
}

TEST(CodeplugScrambler, UndoesThePcScramblingAcrossBlocks) {
  const std::array<std::uint8_t, 8> serial{1, 2, 3, 4, 5, 6, 7, 8};
  PcScrambler pc(serial);
  CodeplugScrambler radio;
  radio.Reset(serial);
  for (int b = 0; b < 5; ++b) {
    Bytes plain = test::Pattern(128, static_cast<std::uint8_t>(b * 31));
    Bytes s = pc.Scramble(plain.data());
    EXPECT_NE(s, plain);
    radio.UnscrambleBlock(s.data());
    EXPECT_EQ(s, plain) << "block " << b;
  }
}

TEST(CodeplugUpload, SendsTheImageBlockByBlock) {
  SimTalk t(AppRadio());
  const Bytes& held = t.radio.Codeplug();
  ASSERT_EQ(DeclaredImageBytes(held), held.size());
  const std::size_t blocks = (held.size() + 127) / 128 + 1;
  const Bytes got = Upload(t, blocks);
  ASSERT_EQ(got.size(), blocks * 128);
  EXPECT_TRUE(std::equal(held.begin(), held.end(), got.begin()));
  // Past the image the radio sends zero bytes.
  EXPECT_EQ(got.back(), 0);
  EXPECT_EQ(t.radio.Counters().uploads, 1);
  // Bootload mode does not take part.
  t.radio.SetMode(RadioMode::kBootload);
  EXPECT_TRUE(t.Exchange({0x03, 0x07}).empty());
}

TEST(CodeplugUpload, AnswersEveryRequestPastTheEndOfItsMemory) {
  // A first header whose length field is 0 never lets the PC's scan reach the
  // end of the chain: it stops only when a block arrives after its 65,536-byte
  // buffer is full, so the radio must send a 513th block.
  SimTalk t(AppRadio());
  Bytes stalled(65536, 0x33);
  stalled[0] = stalled[1] = 0x5F;
  stalled[2] = stalled[3] = 0x00;
  t.radio.SetCodeplug(stalled);
  const Bytes got = Upload(t, 513);
  ASSERT_EQ(got.size(), 513u * 128u);
  EXPECT_TRUE(std::equal(stalled.begin(), stalled.end(), got.begin()));
  // Beyond the memory the blocks hold zero bytes.
  EXPECT_TRUE(std::all_of(got.begin() + 65536, got.end(), [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(t.radio.Counters().codeplugBlocksSent, 513);
  EXPECT_EQ(t.radio.Counters().uploads, 1);
}

TEST(CodeplugDownload, ScrambledBlocksSumsAndRoundTrip) {
  RadioConfig c = AppRadio();
  c.serialNumber = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70};
  SimTalk t(c);
  Bytes image = BuildBuiltinCodeplug(5, 10);
  image[200] ^= 0x5A;  // something the radio did not hold before
  const std::size_t length = image.size();
  Bytes buffer = image;
  buffer.resize(65536, 0x20);

  PcScrambler pc(c.serialNumber);
  auto replies = t.Exchange({0x03, 0x00});
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0], (Bytes{0x03, 0x0D}));
  EXPECT_EQ(replies[1], (Bytes{0x03, 0x08}));
  replies.erase(replies.begin());
  std::size_t i = 0;
  std::uint16_t blockSum = 0;
  int reports = 0;
  for (;;) {
    ASSERT_EQ(replies.size(), 1u);
    if (replies.back() == Bytes{0x03, 0x08}) {
      if (i * 128 >= length && i % 2 == 0) break;
      const std::uint8_t* plain = buffer.data() + i * 128;
      blockSum = static_cast<std::uint16_t>(blockSum + WordSumBE(plain, 128));
      Bytes packet{0x03, 0x02};
      const Bytes s = pc.Scramble(plain);
      packet.insert(packet.end(), s.begin(), s.end());
      replies = t.Exchange(packet);
      ++i;
    } else {
      ASSERT_EQ(replies.back().size(), 4u);
      ASSERT_EQ(replies.back()[1], 0x03);
      const std::uint16_t radioSum =
          static_cast<std::uint16_t>(replies.back()[2] << 8 | replies.back()[3]);
      EXPECT_EQ(radioSum, blockSum);
      ++reports;
      replies = t.Exchange({0x03, static_cast<std::uint8_t>(radioSum == blockSum ? 0x05 : 0x06)});
      blockSum = 0;
    }
  }
  EXPECT_TRUE(t.Exchange({0x03, 0x04}).empty());
  EXPECT_EQ(reports, static_cast<int>(i / 2));
  EXPECT_EQ(t.radio.Counters().codeplugSumsDiffered, 0);
  EXPECT_EQ(t.radio.LastDownloadedImage(), image);  // cut at the declared length
  // The radio now holds the new image and uploads it.
  EXPECT_EQ(t.radio.Codeplug(), image);
  const Bytes back = Upload(t, (length + 127) / 128);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), back.begin()));
}

TEST(CodeplugDownload, ReportsAfterTheConfiguredNumberOfBlocks) {
  RadioConfig c = AppRadio();
  c.codeplugSumEvery = 3;
  SimTalk t(c);
  PcScrambler pc(c.serialNumber);
  t.Exchange({0x03, 0x00});
  const Bytes plain(128, 0x01);  // words 0x0101: sum of 64 = 0x4040 per block
  std::vector<Bytes> last;
  for (int b = 0; b < 3; ++b) {
    Bytes packet{0x03, 0x02};
    const Bytes s = pc.Scramble(plain.data());
    packet.insert(packet.end(), s.begin(), s.end());
    last = t.Exchange(packet);
  }
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(last[0], (Bytes{0x03, 0x03, 0xC0, 0xC0}));
  // A differing verdict is counted; the radio asks for the next block.
  EXPECT_EQ(t.Ask({0x03, 0x06}), (Bytes{0x03, 0x08}));
  EXPECT_EQ(t.radio.Counters().codeplugSumsDiffered, 1);
}

TEST(CodeplugPassword, AsksUntilTheRightDigitsCome) {
  RadioConfig c = AppRadio();
  c.password = "1234";
  SimTalk t(c);
  EXPECT_EQ(t.Ask({0x03, 0x07}), (Bytes{0x03, 0x0B}));
  EXPECT_EQ(t.Ask({0x03, 0x0C, 0x43, 0x21, 0xFF, 0xFF}), (Bytes{0x03, 0x0B}));
  EXPECT_EQ(t.Ask({0x03, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF}), (Bytes{0x03, 0x0B}));
  auto replies = t.Exchange({0x03, 0x0C, 0x12, 0x34, 0xFF, 0xFF});
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0], (Bytes{0x03, 0x0D}));
  EXPECT_EQ(replies[1].size(), 130u);
  EXPECT_EQ(t.radio.Counters().passwordsRefused, 2);
  EXPECT_EQ(t.radio.Counters().passwordRequests, 3);
  t.Send({0x03, 0x04});

  // Abandoned with 03 04 during the exchange: nothing more comes.
  EXPECT_EQ(t.Ask({0x03, 0x00}), (Bytes{0x03, 0x0B}));
  EXPECT_TRUE(t.Exchange({0x03, 0x04}).empty());
  EXPECT_TRUE(t.Exchange({0x03, 0x0C, 0x12, 0x34, 0xFF, 0xFF}).empty());

  c.password = "";
  c.acceptCode = 0x0E;
  SimTalk open(c);
  EXPECT_EQ(open.Exchange({0x03, 0x00}).front(), (Bytes{0x03, 0x0E}));
}

TEST(CodeplugPassword, EncodesDigitsAsTheUpdaterDoes) {
  EXPECT_EQ(EncodePasswordBytes(""), (std::array<std::uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(EncodePasswordBytes("12345678"), (std::array<std::uint8_t, 4>{0x12, 0x34, 0x56, 0x78}));
  EXPECT_EQ(EncodePasswordBytes("12-3 45"), (std::array<std::uint8_t, 4>{0x12, 0x34, 0x5F, 0xFF}));
  EXPECT_EQ(EncodePasswordBytes("123456789"),
            (std::array<std::uint8_t, 4>{0x12, 0x34, 0x56, 0x78}));
}

}  // namespace
}  // namespace bcu::sim

namespace bcu::sim {
namespace {

// The image a radio holds without a file passes the updater's structural
// check and carries the format it was built for.
TEST(BuiltinCodeplug, ImagesAreValidForTheirFormat) {
  for (auto [major, minor, index] : {std::tuple{5, 8, 3}, {5, 9, 4}, {5, 10, 5}, {5, 7, 2}}) {
    for (bool minimal : {false, true}) {
      const auto m = static_cast<std::uint8_t>(major), n = static_cast<std::uint8_t>(minor);
      const Bytes bytes = minimal ? BuildMinimalCodeplug(m, n) : BuildBuiltinCodeplug(m, n);
      ASSERT_EQ(DeclaredImageBytes(bytes), bytes.size());
      auto image = std::make_unique<codeplug::CodeplugImage>();
      image->fill(0);
      std::memcpy(image->data(), bytes.data(), bytes.size());
      codeplug::ParmsImageSwapBytes(*image, bytes.size());
      EXPECT_TRUE(codeplug::ParmsImageIsValid(*image)) << major << "." << minor << minimal;
      EXPECT_EQ(codeplug::ParmsFormatIndex(*image), index);
    }
  }
}

}  // namespace
}  // namespace bcu::sim
