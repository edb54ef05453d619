#include "transfer/CodeplugReadBack.h"

#include <vector>

#include "transfer/VYXTransferParms.h"

namespace bcu::transfer {

std::int32_t WordsToCompare(std::span<const std::uint8_t> sent) {
  const auto held = static_cast<std::int32_t>(sent.size() / 2);
  if (sent.size() < 10 || sent[0] != 0x5F || sent[1] != 0x5F || (sent[2] & 0xC0) != 0) return held;
  const std::int32_t declared = sent[8] * 256 + sent[9];
  return declared < held ? declared : held;
}

ReadBackResult CompareReadBack(std::span<const std::uint8_t> sent,
                               std::span<const std::uint8_t> read) {
  ReadBackResult result;
  result.comparedWords = WordsToCompare(sent);
  result.bytesRead = static_cast<std::int32_t>(read.size());
  result.verdict = ReadBackVerdict::kSame;
  for (std::int32_t w = 0; w < result.comparedWords; ++w) {
    const std::size_t at = 2 * static_cast<std::size_t>(w);
    if (at + 1 >= read.size() || read[at] != sent[at] || read[at + 1] != sent[at + 1]) {
      result.verdict = ReadBackVerdict::kDiffers;
      result.firstDifferentWord = w;
      break;
    }
  }
  return result;
}

ReadBackResult ReadBackCodeplug(link::CommLink& link, platform::Host* host,
                                const std::string* knownPassword,
                                std::span<const std::uint8_t> sent) {
  std::vector<std::uint8_t> buffer(kCodeplugBufferSize, 0);
  VYXTransferParms transfer;
  transfer.SetBuffer(buffer.data(), 0);
  transfer.SetLink(&link);
  VYXTransferParmsPassChecker& checker = transfer.PassChecker();
  checker.SetHost(host);
  if (knownPassword != nullptr) {
    checker.SetPrompt([&checker, knownPassword, given = false](std::string& text) mutable {
      if (given) return checker.PromptCodeplugPassword(text);
      given = true;
      text = *knownPassword;
      return true;
    });
  }
  const std::int32_t uploaded = transfer.Upload();
  if (uploaded <= 0) {
    ReadBackResult result;
    result.uploadResult = uploaded;
    result.comparedWords = WordsToCompare(sent);
    result.bytesRead = transfer.GetLength();
    return result;
  }
  buffer.resize(static_cast<std::size_t>(transfer.GetLength()));
  ReadBackResult result = CompareReadBack(sent, buffer);
  result.uploadResult = uploaded;
  return result;
}

}  // namespace bcu::transfer
