#pragma once
// The block protocol shared by the flash and the DSP downloads: data words are
// packed into 02 09 blocks of 128 bytes (low byte first); after every second
// block the radio reports its 16-bit sum of the pair's words, the PC answers
// 02 05 (sums agree) or 02 06 (sums differ), and every block is acknowledged
// with 02 07.
//
// The flash download resends the second block of a pair up to four times after
// a sum mismatch and takes a 02 0A reply with 4 data bytes after a second block
// as a verify failure at that address; the DSP download carries on after a
// mismatch and knows no verify report.
//
// A busy reply (02 0A, no data) where the radio's sum is awaited makes both
// downloads send the block again and wait again, on either transport, until
// the sum comes or the wait fails (the time-out counts for the whole step, not
// for each resend): a busy reply carries no sum to compare.
#include <cstdint>
#include <functional>

#include "link/CommLink.h"
#include "platform/Host.h"

namespace bcu::link {

inline constexpr int kBlockDataBytes = 128;
inline constexpr int kBlockFull = kBlockDataBytes + 2;  // code 02 09 plus data
inline constexpr int kFlashSumResends = 4;

// Sends the packet of command `key` (two-byte code, no data).
int SendCommandKey(CommLink& link, int key);

class DownloadBlocks {
 public:
  enum class Mode { Flash, Dsp };

  DownloadBlocks(CommLink& link, platform::ProgressBar& progressBar, Mode mode);

  // Called with the 4 address bytes of a verify failure (flash only).
  std::function<void(const std::uint8_t* address)> onVerifyFailure;
  // Asked before the first block of each pair goes out: true ends the file
  // there, between two whole pairs (result 4, stoppedAtBlock set). Empty:
  // the file is never ended so.
  std::function<bool()> stopBeforePair;
  bool stoppedAtBlock = false;

  // A new pair: pairSum 0, first block, an empty block.
  void Start();
  // A new file on the progress bar: minimum 0, the given maximum (capped to
  // what the bar holds), position 0, progress 0.
  void StartProgress(std::int64_t max);
  // Flushes a full block first, then appends the word (low byte first) and
  // adds it to the pair sum.
  void PutWord(std::uint16_t word);
  // Appends data bytes one at a time; two make a word (the first is its low
  // byte). A record with an odd number of data bytes thus goes out unchanged,
  // its last byte paired with the next record's first.
  void PutByte(std::uint8_t byte);
  // Sends the block and runs its handshake when it is full and all is well.
  void FlushBlock();
  // Pads the last block with the fill word (flash 0xFFFF, DSP 0x2020) and sends
  // it, with one more padded block if it was the first of a pair.
  void FinishBlocks();

  int result = kCommSuccess;
  std::int32_t progress = 0;
  bool pairSecond = false;
  std::uint16_t pairSum = 0;
  CommPacket block;

  // Counts for traces and benchmarks.
  std::int64_t blocksSent = 0;
  std::int64_t resends = 0;

 private:
  void NewBlock();
  // Waits for the radio's pair sum; resends the block after a busy reply.
  CommPacket WaitPairSum();
  // The outcome of the wait just ended; an empty reply on a link that still
  // counts as running (the port went away) is a communication problem.
  int WaitResult(const CommPacket& reply) const;

  CommLink& link_;
  platform::ProgressBar& bar_;
  Mode mode_;
  bool havePendingByte_ = false;
  std::uint8_t pendingByte_ = 0;
  CommPacket ack_, sum_, busy_;
};

}  // namespace bcu::link
