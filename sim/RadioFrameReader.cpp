#include "sim/RadioFrameReader.h"

#include "link/Frame.h"

namespace bcu::sim {

RadioFrameReader::Result RadioFrameReader::Feed(std::uint8_t c) {
  if (c == link::kFrameStart) {
    count_ = 0;
    overflow_ = false;
    inFrame_ = true;
    return Result::kNone;
  }
  if (!inFrame_) return Result::kNone;  // noise between frames
  if (c != link::kFrameEnd) {
    if (count_ < kMax)
      collected_[count_++] = c;
    else
      overflow_ = true;
    return Result::kNone;
  }
  inFrame_ = false;
  if (overflow_ || count_ < 3) return Result::kBadFrame;
  std::size_t n = 0;
  for (std::size_t i = 0; i < count_; ++i) {
    std::uint8_t b = collected_[i];
    if (b == link::kFrameEscape) {
      if (i + 1 >= count_ || collected_[i + 1] > 0x02) return Result::kBadFrame;
      static constexpr std::uint8_t kPlain[3] = {link::kFrameStart, link::kFrameEnd,
                                                 link::kFrameEscape};
      b = kPlain[collected_[++i]];
    }
    plain_[n++] = b;
  }
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum = static_cast<std::uint8_t>(sum + plain_[i]);
  if (sum != 0 || n < 3) return Result::kBadFrame;
  payloadLength_ = n - 3;
  return Result::kFrame;
}

}  // namespace bcu::sim
