#pragma once
// Framing of command packets on the serial line.
//
//   0xBA 0x7F 0x01 <packet bytes, stuffed> <checksum, stuffed> 0x7E
//
// Stuffing: 0xBA -> 10 00, 0x7E -> 10 01, 0x10 -> 10 02. The checksum makes the
// 8-bit sum of the two header bytes after 0xBA, the packet bytes and the
// checksum zero. A received frame must carry 0x7F as its third byte (the
// second header byte); the byte after 0xBA is not looked at.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bcu::link {

inline constexpr std::uint8_t kFrameStart = 0xBA;
inline constexpr std::uint8_t kFrameEnd = 0x7E;
inline constexpr std::uint8_t kFrameEscape = 0x10;
inline constexpr std::size_t kFrameCollectMax = 1024;

// Appends `b` to `out`, stuffed.
void StuffByte(std::vector<std::uint8_t>& out, std::uint8_t b);

// Builds the frame of the first (length mod 256) bytes of `packet`, with the
// given header bytes (0x7F 0x01 for every command packet).
std::vector<std::uint8_t> BuildFrame(const std::uint8_t* packet, std::int32_t length,
                                     std::uint8_t header1 = 0x7F, std::uint8_t header2 = 0x01);

// The receive parser: fed one byte at a time, it reports each frame whose
// checksum is good. Frames with a bad checksum, a wrong second header byte,
// more than kFrameCollectMax bytes between start and end, or an escape byte
// followed by anything but 00/01/02 are dropped without a report.
class FrameParser {
 public:
  // Feeds one byte. Returns true when it completed a good frame; its payload
  // (without the two header bytes and the checksum) is then in Payload().
  bool Feed(std::uint8_t c);
  const std::uint8_t* Payload() const { return unstuffed_ + 2; }
  std::size_t PayloadLength() const { return payloadLength_; }
  // Forgets anything collected.
  void Reset() {
    count_ = 0;
    overflow_ = false;
  }

 private:
  std::uint8_t collected_[kFrameCollectMax] = {};
  std::uint8_t unstuffed_[kFrameCollectMax] = {};
  std::size_t count_ = 0;
  bool overflow_ = false;
  std::size_t payloadLength_ = 0;
};

}  // namespace bcu::link
