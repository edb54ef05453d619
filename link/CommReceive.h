#pragma once
// What the link's receive waits accept, apart from the waiting itself: the
// reply filter of a framed wait and the raw collector.
#include <cstddef>
#include <cstdint>

#include "link/CommLink.h"

namespace bcu::link {

enum class CommMatch { None, Expected, Alternative };

// A framed wait's verdict on a good frame's payload: the expected code with
// the expected length, else the alternative code with the alternative length.
// Codes are compared on two bytes when expected.length is 2 or more, else on
// the first byte only.
CommMatch CommMatchReply(const std::uint8_t* payload, std::size_t length,
                         const CommPacket& expected, int expectedLen, const CommPacket& alternative,
                         int alternativeLen);

// The raw collector: `target` bytes that begin with `first`, and whose 8-bit
// sum is zero when `checked`. A target outside 1..kCommPacketMax never
// completes.
class CommRawCollector {
 public:
  CommRawCollector(std::uint8_t first, int target, bool checked)
      : first_(first), target_(target), checked_(checked) {}
  // Takes one byte; true when it completed the packet (then in Packet()).
  bool Feed(std::uint8_t b);
  const CommPacket& Packet() const { return packet_; }
  int Count() const { return count_; }

 private:
  std::uint8_t first_;
  int target_;
  bool checked_;
  int count_ = 0;
  std::uint8_t sum_ = 0;
  CommPacket packet_;
};

}  // namespace bcu::link
