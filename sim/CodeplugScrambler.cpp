#include "sim/CodeplugScrambler.h"

#include <cstring>

#include "platform/DesBlock.h"

namespace bcu::sim {
namespace {
constexpr std::uint8_t kKey[8] = {'Q', '$', 'Q', '$', 'Q', '$', 'Q', '$'};
}

struct CodeplugScrambler::Des {
  platform::DesBlock block;
};

CodeplugScrambler::CodeplugScrambler() : des_(std::make_unique<Des>()) {
  des_->block.SetKey(kKey);
}
CodeplugScrambler::~CodeplugScrambler() = default;

void CodeplugScrambler::Reset(const std::array<std::uint8_t, 8>& serial) {
  // Parity bits are ignored.
  des_->block.SetKey(kKey);
  register_ = serial;
}

std::uint8_t CodeplugScrambler::Next() {
  std::uint8_t out[8];
  des_->block.Encrypt(register_.data(), out);
  const std::uint8_t k = out[0];
  std::memmove(register_.data(), register_.data() + 1, 7);
  register_[7] = k;
  return k;
}

void CodeplugScrambler::UnscrambleBlock(std::uint8_t* s) {
  // The sender swapped every byte pair, masked the first pair with two
  // keystream bytes and every later pair with the masked first pair.
  const std::uint8_t k0 = Next();
  const std::uint8_t k1 = Next();
  const std::uint8_t s0 = s[0];
  const std::uint8_t s1 = s[1];
  std::uint8_t plain[128];
  plain[1] = static_cast<std::uint8_t>(s0 ^ k0);
  plain[0] = static_cast<std::uint8_t>(s1 ^ k1);
  for (int i = 2; i < 128; i += 2) {
    plain[i + 1] = static_cast<std::uint8_t>(s[i] ^ s0);
    plain[i] = static_cast<std::uint8_t>(s[i + 1] ^ s1);
  }
  std::memcpy(s, plain, 128);
}

std::array<std::uint8_t, 8> DesEncryptBlock(const std::array<std::uint8_t, 8>& key,
                                            const std::array<std::uint8_t, 8>& plain) {
  platform::DesBlock des;
  des.SetKey(key.data());
  std::array<std::uint8_t, 8> out{};
  des.Encrypt(plain.data(), out.data());
  return out;
}

}  // namespace bcu::sim
