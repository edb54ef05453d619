#include "transfer/VYXTransferParmsPassChecker.h"

#include "link/CommLink.h"
#include "platform/Host.h"

namespace bcu::transfer {

namespace {

constexpr std::uint8_t kGroup = 3;
constexpr std::uint8_t kCodeEnd = 0x04;
constexpr std::uint8_t kCodePasswordRequest = 0x0B;
constexpr std::uint8_t kCodePassword = 0x0C;
constexpr std::uint8_t kCodeAccepted = 0x0D;
constexpr std::uint8_t kCodeAcceptedToo = 0x0E;
constexpr int kMaxPrompts = 3;
constexpr std::size_t kDigitPositions = 12;

std::string TrimBlanks(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

void EncodePasswordDigits(const std::string& text, std::uint16_t* words, int count) {
  for (int w = 0; w < count; ++w) words[w] = 0xFFFF;
  int digit = 0;
  const std::size_t end = text.size() < kDigitPositions ? text.size() : kDigitPositions;
  for (std::size_t pos = 0; pos < end && digit < 4 * count; ++pos) {
    const char c = text[pos];
    if (c < '0' || c > '9') continue;
    const int shift = 12 - 4 * (digit % 4);
    std::uint16_t& word = words[digit / 4];
    word = static_cast<std::uint16_t>((word & ~(0xF << shift)) | ((c - '0') << shift));
    ++digit;
  }
}

VYXTransferParmsPassChecker::VYXTransferParmsPassChecker() {
  SetPrompt(nullptr);
}

void VYXTransferParmsPassChecker::SetPrompt(PasswordPrompt newPrompt) {
  if (newPrompt) {
    prompt = std::move(newPrompt);
  } else {
    prompt = [this](std::string& text) { return PromptCodeplugPassword(text); };
  }
}

bool VYXTransferParmsPassChecker::PromptCodeplugPassword(std::string& text) {
  if (host_ == nullptr) return false;
  std::string entry;
  if (!host_->AskPassword(platform::PasswordPurpose::Codeplug, entry)) return false;
  text = TrimBlanks(entry);
  return true;
}

std::int32_t VYXTransferParmsPassChecker::CheckPassword() {
  if (link == nullptr) return -1;
  int attempt = 0;
  bool accepted = false;
  std::int32_t result = -1;
  while (!accepted && attempt <= kMaxPrompts) {
    link::CommPacket packet;
    result = link::CommReceive(*link, packet, 255, -1);
    if (result <= 0 || packet.length < 2 || packet.data[0] != kGroup) break;
    const std::uint8_t code = packet.data[1];
    if (code == kCodePasswordRequest) {
      if (attempt >= kMaxPrompts) break;
      std::string text;
      if (!prompt(text)) break;
      std::uint16_t words[2];
      EncodePasswordDigits(text, words, 2);
      const std::uint8_t bytes[4] = {
          static_cast<std::uint8_t>(words[0] >> 8), static_cast<std::uint8_t>(words[0] & 0xFF),
          static_cast<std::uint8_t>(words[1] >> 8), static_cast<std::uint8_t>(words[1] & 0xFF)};
      result = link::CommSendCommand(*link, kGroup, kCodePassword, bytes, 4);
      if (result <= 0) break;
      ++attempt;
    } else if (code == kCodeAccepted || code == kCodeAcceptedToo) {
      accepted = true;
      result = 1;
    } else {
      break;
    }
  }
  if (accepted) return 1;
  link::CommSendCommand(*link, kGroup, kCodeEnd, nullptr, 0);
  // A receive that brought an unwanted packet, a cancelled prompt or a fourth
  // request leaves result at a success value: the exchange itself failed.
  return result <= 0 ? result : -1;
}

}  // namespace bcu::transfer
