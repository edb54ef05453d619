#include "link/CommReceive.h"

#include <gtest/gtest.h>

#include <vector>

namespace bcu::link {
namespace {

int FeedAll(CommRawCollector& c, const std::vector<std::uint8_t>& bytes) {
  int completed = 0;
  for (auto b : bytes) completed += c.Feed(b) ? 1 : 0;
  return completed;
}

TEST(CommRawCollector, RestartsOnAForeignFirstByteAndOnABadSum) {
  CommRawCollector c(0xC5, 3, true);
  // Noise, then C5 01 02 (sum 0xC8: restart), then C5 01 3A (sum 0).
  EXPECT_EQ(FeedAll(c, {0x00, 0x7F, 0xC5, 0x01, 0x02, 0xC5, 0x01}), 0);
  EXPECT_TRUE(c.Feed(0x3A));
  EXPECT_EQ(c.Packet().length, 3);
  EXPECT_EQ(c.Packet().data[2], 0x3A);
}

TEST(CommRawCollector, UncheckedTakesAnySumAndBadTargetsNeverComplete) {
  CommRawCollector unchecked(0xD9, 2, false);
  EXPECT_EQ(FeedAll(unchecked, {0xD9, 0x55}), 1);
  CommRawCollector none(0x00, 0, true);
  EXPECT_EQ(FeedAll(none, std::vector<std::uint8_t>(10, 0x00)), 0);
  CommRawCollector huge(0x00, kCommPacketMax + 1, false);
  EXPECT_EQ(FeedAll(huge, std::vector<std::uint8_t>(2000, 0x00)), 0);
}

TEST(CommMatchReply, CodeAndLengthDecide) {
  CommPacket expected, alternative;
  expected.data[0] = 0x04;
  expected.data[1] = 0x2E;
  expected.length = 2;
  alternative.data[0] = 0x04;
  alternative.data[1] = 0x20;
  const std::uint8_t boot[] = {0x04, 0x2E, 1, 2};
  const std::uint8_t busy[] = {0x04, 0x20};
  const std::uint8_t other[] = {0x04, 0x2F, 1, 2};
  EXPECT_EQ(CommMatchReply(boot, 4, expected, 4, alternative, 2), CommMatch::Expected);
  EXPECT_EQ(CommMatchReply(boot, 3, expected, 4, alternative, 2), CommMatch::None);
  EXPECT_EQ(CommMatchReply(busy, 2, expected, 4, alternative, 2), CommMatch::Alternative);
  EXPECT_EQ(CommMatchReply(other, 4, expected, 4, alternative, 2), CommMatch::None);
  // A one-byte expected code compares the first byte only.
  expected.length = 1;
  EXPECT_EQ(CommMatchReply(other, 4, expected, 4, alternative, 2), CommMatch::Expected);
  EXPECT_EQ(CommMatchReply(boot, 0, expected, 0, alternative, 2), CommMatch::None);
}

}  // namespace
}  // namespace bcu::link
