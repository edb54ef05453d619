#include "link/CommReceive.h"

namespace bcu::link {

namespace {

bool CodeMatches(const std::uint8_t* payload, std::size_t length, const CommPacket& code,
                 int codeBytes) {
  if (length < static_cast<std::size_t>(codeBytes)) return false;
  for (int i = 0; i < codeBytes; ++i)
    if (payload[i] != code.data[i]) return false;
  return true;
}

}  // namespace

CommMatch CommMatchReply(const std::uint8_t* payload, std::size_t length,
                         const CommPacket& expected, int expectedLen, const CommPacket& alternative,
                         int alternativeLen) {
  const int codeBytes = expected.length >= 2 ? 2 : 1;
  if (expectedLen >= 0 && length == static_cast<std::size_t>(expectedLen) &&
      CodeMatches(payload, length, expected, codeBytes))
    return CommMatch::Expected;
  if (alternativeLen >= 0 && length == static_cast<std::size_t>(alternativeLen) &&
      CodeMatches(payload, length, alternative, codeBytes))
    return CommMatch::Alternative;
  return CommMatch::None;
}

bool CommRawCollector::Feed(std::uint8_t b) {
  if (target_ < 1 || target_ > kCommPacketMax) return false;
  if (count_ >= target_) count_ = 0, sum_ = 0;  // a completed packet was taken
  sum_ = static_cast<std::uint8_t>(sum_ + b);
  packet_.data[count_++] = b;
  if (packet_.data[0] != first_) {
    count_ = 0;
    sum_ = 0;
    return false;
  }
  if (count_ < target_) return false;
  if (checked_ && sum_ != 0) {
    count_ = 0;
    sum_ = 0;
    return false;
  }
  packet_.length = count_;
  return true;
}

}  // namespace bcu::link
