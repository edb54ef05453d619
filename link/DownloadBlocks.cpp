#include "link/DownloadBlocks.h"

#include <algorithm>

namespace bcu::link {

int SendCommandKey(CommLink& link, int key) {
  CommPacket p;
  CommMakeCommand(p, key, true);
  return CommSendPacket(link, p);
}

DownloadBlocks::DownloadBlocks(CommLink& link, platform::ProgressBar& progressBar, Mode mode)
    : link_(link), bar_(progressBar), mode_(mode) {
  CommMakeCommand(ack_, kKeyAck, true);
  CommMakeCommand(sum_, kKeyPairSum, true);
  CommMakeCommand(busy_, kKeyBusy, true);
  NewBlock();
}

void DownloadBlocks::NewBlock() {
  CommMakeCommand(block, kKeyDataBlock, true);  // 02 09, length 2
}

void DownloadBlocks::Start() {
  stoppedAtBlock = false;
  pairSum = 0;
  pairSecond = false;
  havePendingByte_ = false;
  NewBlock();
}

void DownloadBlocks::StartProgress(std::int64_t max) {
  bar_.SetMin(0);
  bar_.SetMax(static_cast<int>(std::clamp<std::int64_t>(max, 0, 0x7FFFFFFF)));
  bar_.SetPosition(0);
  progress = 0;
}

void DownloadBlocks::PutWord(std::uint16_t word) {
  FlushBlock();
  if (block.length + 2 > kCommPacketMax) return;  // a block that could not be sent
  block.data[block.length++] = static_cast<std::uint8_t>(word & 0xFF);
  block.data[block.length++] = static_cast<std::uint8_t>(word >> 8);
  pairSum = static_cast<std::uint16_t>(pairSum + word);
}

void DownloadBlocks::PutByte(std::uint8_t byte) {
  if (!havePendingByte_) {
    pendingByte_ = byte;
    havePendingByte_ = true;
    return;
  }
  havePendingByte_ = false;
  PutWord(static_cast<std::uint16_t>(pendingByte_ | byte << 8));
}

int DownloadBlocks::WaitResult(const CommPacket& reply) const {
  int r = CommGetResult(link_);
  if (r == kCommSuccess && reply.length == 0) r = kCommProblem;
  return r;
}

CommPacket DownloadBlocks::WaitPairSum() {
  const int sumLen = CommReplyLength(kKeyPairSum, true);
  const int busyLen = CommReplyLength(kKeyBusy, true);
  bool busy = false;
  CommStepTimeout step(link_);  // one time-out however often the radio is busy
  CommPacket reply = CommWaitReply(link_, sum_, sumLen, false, busy_, busyLen, busy);
  while (busy && link_.running) {
    CommSendPacket(link_, block);
    ++resends;
    reply = CommWaitReply(link_, sum_, sumLen, false, busy_, busyLen, busy);
  }
  return reply;
}

void DownloadBlocks::FlushBlock() {
  if (result != kCommSuccess || block.length < kBlockFull) return;
  if (!pairSecond && stopBeforePair && stopBeforePair()) {
    result = kCommTimedOut;
    stoppedAtBlock = true;
    return;
  }
  CommSendPacket(link_, block);
  ++blocksSent;
  bool mismatch = false;
  if (pairSecond) {
    CommPacket reply = WaitPairSum();
    result = WaitResult(reply);
    if (result != kCommSuccess) return;
    const std::uint16_t radioSum = static_cast<std::uint16_t>(reply.data[2] * 256 + reply.data[3]);
    if (radioSum == pairSum) {
      SendCommandKey(link_, kKeySumsAgree);
    } else {
      SendCommandKey(link_, kKeySumsDiffer);
      mismatch = true;
    }
  }
  const int ackLen = CommReplyLength(kKeyAck, true);
  // Flash: 02 0A with 4 data bytes (a verify failure report); DSP: busy.
  const int altLen = mode_ == Mode::Flash ? 6 : CommReplyLength(kKeyBusy, true);
  int blockResends = 0;
  for (;;) {
    bool alternative = false;
    CommPacket reply = CommWaitReply(link_, ack_, ackLen, false, busy_, altLen, alternative);
    result = WaitResult(reply);
    if (result != kCommSuccess) return;
    if (mode_ == Mode::Dsp || !pairSecond) break;
    if (alternative) {
      if (onVerifyFailure) onVerifyFailure(reply.data + 2);
      result = kCommVerifyFailed;
      return;
    }
    if (!mismatch) break;
    // The mismatch stays remembered: after the fourth resend the download ends.
    CommSendPacket(link_, block);
    ++resends;
    if (++blockResends >= kFlashSumResends) {
      result = kCommTimedOut;
      return;
    }
  }
  if (pairSecond) {
    pairSecond = false;
    pairSum = 0;
  } else {
    pairSecond = true;
  }
  NewBlock();
  progress += 64;
  bar_.SetPosition(progress);
}

void DownloadBlocks::FinishBlocks() {
  const std::uint16_t fill = mode_ == Mode::Flash ? 0xFFFF : 0x2020;
  if (havePendingByte_ && result == kCommSuccess) PutByte(static_cast<std::uint8_t>(fill >> 8));
  while (result == kCommSuccess && block.length < kBlockFull) PutWord(fill);
  FlushBlock();
  if (result == kCommSuccess && pairSecond) {
    while (result == kCommSuccess && block.length < kBlockFull) PutWord(fill);
    FlushBlock();
  }
}

}  // namespace bcu::link
