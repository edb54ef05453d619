#include "transfer/CodeplugScrambler.h"

#include <cstring>

namespace bcu::transfer {

CodeplugScrambler::CodeplugScrambler() {
  std::memset(&ctx_, 0, sizeof ctx_);
  const std::uint8_t zero[8] = {};
  Reset(zero);
}

void CodeplugScrambler::Reset(const std::uint8_t key[8], const std::uint8_t initialRegister[8]) {
  // The parity bits of the key are ignored, as DES does; des_set_key only
  // reports weak keys, and the schedule is set up for them too.
  des_set_key(&ctx_, key);
  std::memcpy(register_, initialRegister, sizeof register_);
}

void CodeplugScrambler::EncryptBlock(const std::uint8_t in[8], std::uint8_t out[8]) const {
  des_encrypt(&ctx_, DES_BLOCK_SIZE, out, in);
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
