#include "link/Frame.h"

namespace bcu::link {

void StuffByte(std::vector<std::uint8_t>& out, std::uint8_t b) {
  switch (b) {
    case kFrameStart:
      out.push_back(kFrameEscape);
      out.push_back(0x00);
      break;
    case kFrameEnd:
      out.push_back(kFrameEscape);
      out.push_back(0x01);
      break;
    case kFrameEscape:
      out.push_back(kFrameEscape);
      out.push_back(0x02);
      break;
    default:
      out.push_back(b);
  }
}

std::vector<std::uint8_t> BuildFrame(const std::uint8_t* packet, std::int32_t length,
                                     std::uint8_t header1, std::uint8_t header2) {
  std::vector<std::uint8_t> out;
  const int n = static_cast<int>(static_cast<std::uint32_t>(length) & 0xFFu);
  out.reserve(static_cast<std::size_t>(2 * n + 7));
  out.push_back(kFrameStart);
  out.push_back(header1);
  out.push_back(header2);
  std::uint8_t sum = static_cast<std::uint8_t>(header1 + header2);
  for (int i = 0; i < n; ++i) {
    sum = static_cast<std::uint8_t>(sum + packet[i]);
    StuffByte(out, packet[i]);
  }
  StuffByte(out, static_cast<std::uint8_t>(0x100 - sum));
  out.push_back(kFrameEnd);
  return out;
}

bool FrameParser::Feed(std::uint8_t c) {
  if (c == kFrameStart) {
    count_ = 0;
    overflow_ = false;
    return false;
  }
  if (c != kFrameEnd) {
    if (count_ < kFrameCollectMax) {
      collected_[count_++] = c;
    } else {
      overflow_ = true;  // too long for a frame: dropped at its end marker
    }
    return false;
  }
  // End marker: complete only with the second header byte in place.
  if (count_ < 3 || collected_[1] != 0x7F) return false;
  if (overflow_) {
    Reset();
    return false;
  }
  std::size_t n = 0;
  for (std::size_t i = 0; i < count_; ++i) {
    std::uint8_t b = collected_[i];
    if (b == kFrameEscape) {
      if (i + 1 >= count_ || collected_[i + 1] > 0x02) {
        Reset();  // a broken escape: the frame cannot be trusted
        return false;
      }
      static constexpr std::uint8_t kPlain[3] = {kFrameStart, kFrameEnd, kFrameEscape};
      b = kPlain[collected_[++i]];
    }
    unstuffed_[n++] = b;
  }
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum = static_cast<std::uint8_t>(sum + unstuffed_[i]);
  count_ = 0;
  if (sum != 0 || n < 3) return false;
  payloadLength_ = n - 3;
  return true;
}

}  // namespace bcu::link
