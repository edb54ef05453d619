#include "link/ScpRingBuffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace bcu::link {
namespace {

std::vector<std::uint8_t> Drain(TScpRingBuffer& ring) {
  std::vector<std::uint8_t> out;
  std::uint8_t b = 0;
  while (ring.Get(b)) out.push_back(b);
  return out;
}

TEST(ScpRingBuffer, PutIsAllOrNothingAndFillsExactly) {
  TScpRingBuffer ring(8);
  const std::uint8_t five[] = {1, 2, 3, 4, 5};
  EXPECT_TRUE(ring.Put(five, 5));
  EXPECT_FALSE(ring.Put(five, 4));  // only 3 free
  EXPECT_EQ(ring.Used(), 5u);
  EXPECT_TRUE(ring.Put(five, 3));
  EXPECT_TRUE(ring.Full());
  EXPECT_EQ(ring.Free(), 0u);
  EXPECT_FALSE(ring.Put(five, 1));
  EXPECT_EQ(Drain(ring), (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 1, 2, 3}));
  EXPECT_TRUE(ring.Empty());
  EXPECT_FALSE(ring.Full());
}

TEST(ScpRingBuffer, WrapsAroundKeepingOrder) {
  TScpRingBuffer ring(7);
  std::vector<std::uint8_t> expected;
  std::uint8_t next = 0;
  std::vector<std::uint8_t> got;
  // Uneven put and get sizes walk the positions across the end many times.
  for (int round = 0; round < 50; ++round) {
    std::vector<std::uint8_t> block(static_cast<std::size_t>(1 + round % 5));
    for (auto& b : block) b = next++;
    if (ring.Put(block.data(), block.size())) {
      expected.insert(expected.end(), block.begin(), block.end());
    } else {
      next = static_cast<std::uint8_t>(next - block.size());
    }
    std::uint8_t b = 0;
    for (int k = 0; k < 1 + round % 3 && ring.Get(b); ++k) got.push_back(b);
  }
  const auto rest = Drain(ring);
  got.insert(got.end(), rest.begin(), rest.end());
  EXPECT_EQ(got, expected);
}

TEST(ScpRingBuffer, PeekGivesContiguousRunsFromAnOffset) {
  TScpRingBuffer ring(8);
  const std::uint8_t six[] = {10, 11, 12, 13, 14, 15};
  ASSERT_TRUE(ring.Put(six, 6));
  ring.Consume(4);  // read position 4, two bytes stored
  const std::uint8_t more[] = {16, 17, 18, 19, 20};
  ASSERT_TRUE(ring.Put(more, 5));  // wraps: 14 15 16 17 | 18 19 20

  const std::uint8_t* data = nullptr;
  ASSERT_EQ(ring.Peek(0, data), 4u);  // up to the end of storage
  EXPECT_EQ(data[0], 14);
  EXPECT_EQ(data[3], 17);
  ASSERT_EQ(ring.Peek(4, data), 3u);  // the part after the wrap
  EXPECT_EQ(data[0], 18);
  EXPECT_EQ(data[2], 20);
  ASSERT_EQ(ring.Peek(5, data), 2u);
  EXPECT_EQ(data[0], 19);
  EXPECT_EQ(ring.Peek(7, data), 0u);

  ring.Consume(5);
  EXPECT_EQ(Drain(ring), (std::vector<std::uint8_t>{19, 20}));
}

TEST(ScpRingBuffer, PutSomeAndConsumeStopAtTheLimits) {
  TScpRingBuffer ring(4);
  const std::uint8_t six[] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(ring.PutSome(six, 6), 4u);
  EXPECT_TRUE(ring.Full());
  ring.Consume(10);
  EXPECT_TRUE(ring.Empty());
  EXPECT_EQ(ring.PutSome(six + 2, 3), 3u);
  ring.Clear();
  EXPECT_TRUE(ring.Empty());
  EXPECT_EQ(ring.Free(), 4u);
}

}  // namespace
}  // namespace bcu::link
