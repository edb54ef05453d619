#include "transfer/CodeplugScrambler.h"

#include <cstring>

namespace bcu::transfer {

CodeplugScrambler::CodeplugScrambler() {
  const std::uint8_t zero[8] = {};
  Reset(zero);
}

void CodeplugScrambler::Reset(const std::uint8_t key[8], const std::uint8_t initialRegister[8]) {
  // The parity bits of the key are ignored, as DES does.
  des_.SetKey(key);
  std::memcpy(register_, initialRegister, sizeof register_);
}

void CodeplugScrambler::EncryptBlock(const std::uint8_t in[8], std::uint8_t out[8]) const {
  des_.Encrypt(in, out);
}

std::uint8_t CodeplugScrambler::NextKeyByte() {
  std::uint8_t output[8];
  EncryptBlock(register_, output);
  const std::uint8_t k = output[0];
  std::memmove(register_, register_ + 1, 7);
  register_[7] = k;
  return k;
}

}  // namespace bcu::transfer
