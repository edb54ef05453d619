#include "transfer/VYXTransferParms.h"

#include <cstring>

#include "link/CommLink.h"

namespace bcu::transfer {

namespace {

constexpr std::uint8_t kGroup = 3;
constexpr std::uint8_t kCodeStartDownload = 0x00;
constexpr std::uint8_t kCodeData = 0x02;
constexpr std::uint8_t kCodeRadioSum = 0x03;
constexpr std::uint8_t kCodeEnd = 0x04;
constexpr std::uint8_t kCodeSumsAgree = 0x05;
constexpr std::uint8_t kCodeSumsDiffer = 0x06;
constexpr std::uint8_t kCodeStartUpload = 0x07;
constexpr std::uint8_t kCodeNext = 0x08;
constexpr std::uint8_t kHeaderMark = 0x5F;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

bool IsBlankOrControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u <= 0x20 || u == 0x7F;
}

bool IsPacket(const link::CommPacket& packet, std::uint8_t code) {
  return packet.length >= 2 && packet.data[0] == kGroup && packet.data[1] == code;
}

std::uint8_t ByteAt(const link::CommPacket& packet, int index) {
  return index < packet.length ? packet.data[index] : 0;
}

}  // namespace

VYXTransferParms::VYXTransferParms() = default;

void VYXTransferParms::SetLink(bcu::link::CommLink* newLink) {
  link = newLink;
  passChecker.SetLink(newLink);
}

void VYXTransferParms::SetRadioKey(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && IsBlankOrControl(text[first])) ++first;
  while (last > first && IsBlankOrControl(text[last - 1])) --last;
  int byte = 0;
  for (std::size_t pos = first; pos + 1 < last && byte < 8; pos += 2, ++byte) {
    radioKey[byte] = static_cast<std::uint8_t>(HexValue(text[pos]) * 16 + HexValue(text[pos + 1]));
  }
}

void VYXTransferParms::ScramblerReset() {
  scrambler_.Reset(radioKey);
}

bool VYXTransferParms::UploadComplete() {
  const std::int32_t n = length;
  if (scanOffset >= n) return false;
  // Header bytes past the received ones are still the zero fill; at most the
  // whole buffer is looked at.
  const auto at = [this](std::int32_t offset) -> std::uint8_t {
    return offset < kCodeplugBufferSize ? buffer[offset] : 0;
  };
  if (at(scanOffset) == kHeaderMark && at(scanOffset + 1) == kHeaderMark) {
    const int h = at(scanOffset + 2);
    const int l = at(scanOffset + 3);
    scanOffset += 2 * ((h * 256 + l) & 0x3FFF);
    return false;
  }
  scanOffset = 0;
  return true;
}

void VYXTransferParms::ScrambleBlock(std::uint8_t block[kCodeplugBlockSize]) {
  const std::uint8_t k0 = scrambler_.NextKeyByte();
  const std::uint8_t k1 = scrambler_.NextKeyByte();
  const std::uint8_t first0 = static_cast<std::uint8_t>(block[1] ^ k0);
  const std::uint8_t first1 = static_cast<std::uint8_t>(block[0] ^ k1);
  block[0] = first0;
  block[1] = first1;
  for (int i = 2; i < kCodeplugBlockSize; i += 2) {
    const std::uint8_t even = block[i];
    block[i] = static_cast<std::uint8_t>(block[i + 1] ^ first0);
    block[i + 1] = static_cast<std::uint8_t>(even ^ first1);
  }
}

std::uint16_t VYXTransferParms::PrepareBlock(int index, std::uint8_t out[kCodeplugBlockSize]) {
  std::memcpy(out, buffer + static_cast<std::size_t>(index) * kCodeplugBlockSize,
              kCodeplugBlockSize);
  const std::uint16_t sum = link::CommWordSum(out, kCodeplugBlockSize);
  ScrambleBlock(out);
  return sum;
}

std::int32_t VYXTransferParms::DeclaredImageBytes() const {
  // Word 0 the block mark, word 1 a radio block, word 4 ImageLength; words
  // high byte first as received.
  if (buffer == nullptr || length < 10) return 0;
  if (buffer[0] != kHeaderMark || buffer[1] != kHeaderMark || (buffer[2] & 0xC0) != 0) return 0;
  const std::int32_t bytes = 2 * (buffer[8] * 256 + buffer[9]);
  return bytes < kCodeplugBufferSize ? bytes : kCodeplugBufferSize;
}

std::int32_t VYXTransferParms::Upload() {
  if (link == nullptr || buffer == nullptr) return kTransferFailed;
  // A transfer arms the running flag for its exchanges, unless a stop is
  // requested: then nothing is sent at all. It leaves the flag off.
  link::CommRunningScope running(*link, link::CommRunningScope::kOffAtExit);
  if (!running.Armed()) return kTransferFailed;
  return RunUpload();
}

std::int32_t VYXTransferParms::RunUpload() {
  std::int32_t result = link::CommSendCommand(*link, kGroup, kCodeStartUpload, nullptr, 0);
  if (result <= 0) return result;
  result = passChecker.CheckPassword();
  if (result <= 0) return result;
  length = 0;
  scanOffset = 0;
  bool chainEnded = false;
  for (;;) {
    link::CommPacket packet;
    result = link::CommReceive(*link, packet, 255, -1);
    if (result <= 0) return result;
    if (IsPacket(packet, kCodeData)) {
      // A data packet without its whole block would leave stale bytes in the
      // codeplug: the upload fails instead.
      if (packet.length < 2 + kCodeplugBlockSize) return kTransferShortPacket;
      bool complete = true;
      if (length < kCodeplugBufferSize) {
        std::memcpy(buffer + length, packet.data + 2, kCodeplugBlockSize);
        length += kCodeplugBlockSize;
        // The header scan finds where the chain of blocks ends; the image goes
        // on for the 128 words after it, up to its ImageLength, and those
        // words are read too.
        if (!chainEnded) chainEnded = UploadComplete();
        complete = chainEnded && length >= DeclaredImageBytes();
      }
      if (complete) return link::CommSendCommand(*link, kGroup, kCodeEnd, nullptr, 0);
      result = link::CommSendCommand(*link, kGroup, kCodeNext, nullptr, 0);
      if (result <= 0) return result;
    } else if (IsPacket(packet, kCodeNext)) {
      continue;
    } else {
      return kTransferFailed;
    }
  }
}

std::int32_t VYXTransferParms::Download() {
  sumDiffered_ = false;
  // The padding and the block reads cover 65,536 bytes at most.
  if (buffer == nullptr || length < 0 || length > kCodeplugBufferSize) return kTransferBadLength;
  if (link == nullptr) return kTransferFailed;
  std::memset(buffer + length, ' ', static_cast<std::size_t>(kCodeplugBufferSize - length));
  link::CommRunningScope running(*link, link::CommRunningScope::kOffAtExit);
  if (!running.Armed()) return kTransferFailed;
  ScramblerReset();
  const std::int32_t result = RunDownload();
  // The radio keeps what it got after a disputed sum: the codeplug in it is
  // not the one sent, so the download has failed even though it ran through.
  if (result > 0 && sumDiffered_) return kTransferSumDiffered;
  return result;
}

std::int32_t VYXTransferParms::RunDownload() {
  std::int32_t result = link::CommSendCommand(*link, kGroup, kCodeStartDownload, nullptr, 0);
  if (result <= 0) return result;
  result = passChecker.CheckPassword();
  if (result <= 0) return result;
  int index = 0;
  blockSum = 0;
  for (;;) {
    link::CommPacket packet;
    result = link::CommReceive(*link, packet, 255, -1);
    if (result <= 0) return result;
    const bool allSent = index * kCodeplugBlockSize >= length;
    if (IsPacket(packet, kCodeNext)) {
      if (allSent && index % 2 == 0) {
        return link::CommSendCommand(*link, kGroup, kCodeEnd, nullptr, 0);
      }
      std::uint8_t block[kCodeplugBlockSize];
      blockSum = static_cast<std::uint16_t>(blockSum + PrepareBlock(index, block));
      result = link::CommSendCommand(*link, kGroup, kCodeData, block, kCodeplugBlockSize);
      if (result <= 0) return result;
      ++index;
    } else if (IsPacket(packet, kCodeRadioSum)) {
      // A report cut short is still a report: the bytes it lacks count as 0.
      const std::uint16_t radioSum =
          static_cast<std::uint16_t>(ByteAt(packet, 2) * 256 + ByteAt(packet, 3));
      const bool agree = radioSum == blockSum;
      if (!agree) sumDiffered_ = true;
      result = link::CommSendCommand(*link, kGroup, agree ? kCodeSumsAgree : kCodeSumsDiffer,
                                     nullptr, 0);
      if (result <= 0) return result;
      blockSum = 0;
    } else {
      // The radio ended the dialogue. After the last block that is its way of
      // saying it has everything; before it, the codeplug is incomplete.
      return allSent ? result : kTransferEndedEarly;
    }
  }
}

}  // namespace bcu::transfer
