#pragma once
// The codeplug transfer: upload (radio to PC) and download (PC to radio) of the
// radio's parameter image in 128-byte blocks over the command link, group 3.
//
// Upload: 03 07, password exchange, then the radio sends 03 02 + 128 bytes and
// the PC answers 03 08 until the buffer holds the whole image (03 04): the
// block chain and the 128 words after it, as far as the radio block's
// ImageLength declares, at most 65,536 bytes.
// Download: 03 00, password exchange, then the radio asks for each block with
// 03 08; blocks go out scrambled (CodeplugScrambler) in pairs; the radio
// reports the sum of the plain blocks since its last report (03 03), which the
// PC confirms (03 05) or disputes (03 06).
#include <cstdint>
#include <string>

#include "transfer/CodeplugScrambler.h"
#include "transfer/VYXTransfer.h"
#include "transfer/VYXTransferParmsPassChecker.h"

namespace bcu::transfer {

inline constexpr std::int32_t kCodeplugBufferSize = 65536;
inline constexpr int kCodeplugBlockSize = 128;

// Failure results of the transfers (all <= 0; -1 is the link's own failure).
enum TransferResult : std::int32_t {
  kTransferFailed = -1,       // no packet, an unexpected packet, or the password failed
  kTransferSumDiffered = -2,  // download ran to its end, but a block sum disagreed
  kTransferShortPacket = -3,  // upload: a data packet shorter than 2 + 128 bytes
  kTransferEndedEarly = -4,   // download: the radio ended before every block was sent
  kTransferBadLength = -5,    // download: length outside 0..65,536, or no buffer
};

class VYXTransferParms : public VYXTransfer {
 public:
  VYXTransferParms();

  std::int32_t Upload() override;
  std::int32_t Download() override;
  void SetLink(bcu::link::CommLink* newLink) override;

  // The radio key as 16 hexadecimal characters (surrounding blanks and control
  // characters are ignored; a non-hex character counts as 0). Bytes the text
  // does not reach keep their value; before any key is set the key is zero.
  void SetRadioKey(const std::string& text);
  const std::uint8_t* RadioKey() const { return radioKey; }

  // True when the last Download saw the radio report a differing block sum.
  bool SumDiffered() const { return sumDiffered_; }

  // The password exchange (its prompt and host can be set through it).
  VYXTransferParmsPassChecker& PassChecker() { return passChecker; }

  // Upload end test after each stored block: true when the header chain in
  // buffer[0..length) has ended.
  bool UploadComplete();
  // The image's length in bytes as its radio block declares it (ImageLength
  // words), at most 65,536; 0 when the buffer does not start with a radio
  // block. The upload goes on to it once the chain has ended.
  std::int32_t DeclaredImageBytes() const;
  // Copies block `index` of the buffer into `out`, scrambles the copy and
  // returns the word sum of the plain bytes.
  std::uint16_t PrepareBlock(int index, std::uint8_t out[kCodeplugBlockSize]);
  // Swaps every byte pair; masks the first pair with two keystream bytes and
  // each later pair with the masked first pair.
  void ScrambleBlock(std::uint8_t block[kCodeplugBlockSize]);
  // Key schedule from the fixed key, register from the radio key.
  void ScramblerReset();

 private:
  std::int32_t RunUpload();
  std::int32_t RunDownload();

  VYXTransferParmsPassChecker passChecker;
  std::uint16_t blockSum = 0;
  std::uint8_t radioKey[8] = {};
  std::int32_t scanOffset = 0;
  CodeplugScrambler scrambler_;
  bool sumDiffered_ = false;
};

}  // namespace bcu::transfer
