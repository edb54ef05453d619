#pragma once
// The radio's side of the framing: collects what the PC sends between 0xBA and
// 0x7E, unstuffs it and checks the checksum. Unlike the PC's parser it takes
// any pair of header bytes, because the PC addresses the radio with 0x7F 0x01
// and the interface box with 0x7F 0x4F; the second header byte is reported.
#include <cstddef>
#include <cstdint>

namespace bcu::sim {

class RadioFrameReader {
 public:
  enum class Result { kNone, kFrame, kBadFrame };
  // Feeds one byte; kFrame when it completed a frame with a good checksum
  // (then Header2(), Payload() and PayloadLength() describe it), kBadFrame when
  // a frame ended with a bad checksum or a broken escape.
  Result Feed(std::uint8_t c);
  std::uint8_t Header2() const { return plain_[1]; }
  const std::uint8_t* Payload() const { return plain_ + 2; }
  std::size_t PayloadLength() const { return payloadLength_; }

 private:
  static constexpr std::size_t kMax = 1024;
  std::uint8_t collected_[kMax] = {};
  std::uint8_t plain_[kMax] = {};
  std::size_t count_ = 0;
  bool overflow_ = false;
  bool inFrame_ = false;
  std::size_t payloadLength_ = 0;
};

}  // namespace bcu::sim
