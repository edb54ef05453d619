#include "link/Frame.h"

#include <gtest/gtest.h>

#include <vector>

namespace bcu::link {
namespace {

std::vector<std::uint8_t> Frame(std::vector<std::uint8_t> packet) {
  return BuildFrame(packet.data(), static_cast<std::int32_t>(packet.size()));
}

// Feeds bytes; returns the payloads of the frames the parser reported.
std::vector<std::vector<std::uint8_t>> Parse(FrameParser& p, const std::vector<std::uint8_t>& in) {
  std::vector<std::vector<std::uint8_t>> out;
  for (auto b : in)
    if (p.Feed(b)) out.emplace_back(p.Payload(), p.Payload() + p.PayloadLength());
  return out;
}

TEST(Frame, BuildsHeaderChecksumAndEnd) {
  // 04 1C: sum 0x80 + 0x04 + 0x1C = 0xA0, checksum 0x60.
  EXPECT_EQ(Frame({0x04, 0x1C}),
            (std::vector<std::uint8_t>{0xBA, 0x7F, 0x01, 0x04, 0x1C, 0x60, 0x7E}));
}

TEST(Frame, StuffsMarkersInDataAndChecksum) {
  EXPECT_EQ(Frame({0xBA, 0x7E, 0x10}),
            (std::vector<std::uint8_t>{0xBA, 0x7F, 0x01, 0x10, 0x00, 0x10, 0x01, 0x10, 0x02, 0x38,
                                       0x7E}));
  // 0x80 + 0x02 = 0x82: the checksum is 0x7E and goes out stuffed.
  auto f = Frame({0x02});
  EXPECT_EQ(f, (std::vector<std::uint8_t>{0xBA, 0x7F, 0x01, 0x02, 0x10, 0x01, 0x7E}));
}

TEST(Frame, FramesOnlyTheLowEightBitsOfTheLength) {
  std::vector<std::uint8_t> packet(300, 0x11);
  auto f = BuildFrame(packet.data(), 258);
  EXPECT_EQ(f.size(), 3u + 2u + 1u + 1u);  // two packet bytes, checksum, end
}

TEST(FrameParser, RoundTripsEveryByteValue) {
  std::vector<std::uint8_t> packet;
  for (int i = 0; i < 255; ++i) packet.push_back(static_cast<std::uint8_t>(i));
  FrameParser p;
  // The parser needs 0x7F in the second header byte, which every reply has.
  auto frame = BuildFrame(packet.data(), 255, 0x01, 0x7F);
  auto got = Parse(p, frame);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], packet);
}

TEST(FrameParser, DropsBadFramesSilently) {
  FrameParser p;
  std::vector<std::uint8_t> good =
      BuildFrame(std::vector<std::uint8_t>{0x04, 0x1D, 5, 9}.data(), 4, 0x01, 0x7F);
  auto badSum = good;
  badSum[5] ^= 1;
  auto wrongHeader = BuildFrame(std::vector<std::uint8_t>{0x04, 0x1D}.data(), 2, 0x7F, 0x01);
  auto badEscape = good;
  badEscape.insert(badEscape.begin() + 4, {0x10, 0x05});
  std::vector<std::uint8_t> stream;
  for (auto* f : {&badSum, &wrongHeader, &badEscape, &good})
    stream.insert(stream.end(), f->begin(), f->end());
  auto got = Parse(p, stream);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], (std::vector<std::uint8_t>{0x04, 0x1D, 5, 9}));
}

TEST(FrameParser, StartMarkerMidFrameRestartsCollection) {
  FrameParser p;
  auto good = BuildFrame(std::vector<std::uint8_t>{0x02, 0x07}.data(), 2, 0x01, 0x7F);
  std::vector<std::uint8_t> stream = {0xBA, 0x01, 0x7F, 0x02};  // cut off
  stream.insert(stream.end(), good.begin(), good.end());
  auto got = Parse(p, stream);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], (std::vector<std::uint8_t>{0x02, 0x07}));
}

TEST(FrameParser, OverlongFrameIsDroppedAndTheNextOneParses) {
  FrameParser p;
  std::vector<std::uint8_t> stream = {0xBA, 0x01, 0x7F};
  stream.insert(stream.end(), 2000, 0x00);
  stream.push_back(0x7E);
  auto good = BuildFrame(std::vector<std::uint8_t>{0x02, 0x07}.data(), 2, 0x01, 0x7F);
  stream.insert(stream.end(), good.begin(), good.end());
  auto got = Parse(p, stream);
  ASSERT_EQ(got.size(), 1u);
}

}  // namespace
}  // namespace bcu::link
