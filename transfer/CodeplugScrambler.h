#pragma once
// The keystream that masks downloaded codeplug blocks: DES in 8-bit output
// feedback mode. The DES key is the fixed text "Q$Q$Q$Q$"; the 8-byte register
// starts as the radio key (the radio's serial number), so only the radio whose
// serial number it is can unmask the blocks.
#include <cstdint>

#include "platform/DesBlock.h"

namespace bcu::transfer {

class CodeplugScrambler {
 public:
  static constexpr std::uint8_t kFixedKey[8] = {'Q', '$', 'Q', '$', 'Q', '$', 'Q', '$'};

  CodeplugScrambler();
  // Key schedule from `key`, register from `initialRegister` (byte 0 first).
  void Reset(const std::uint8_t key[8], const std::uint8_t initialRegister[8]);
  // Reset with the fixed key.
  void Reset(const std::uint8_t initialRegister[8]) { Reset(kFixedKey, initialRegister); }
  // The next keystream byte: the first byte of DES(register); the register
  // then moves one byte towards its start and takes that byte as its last.
  std::uint8_t NextKeyByte();
  // `data` XOR the next keystream byte.
  std::uint8_t Step(std::uint8_t data) { return data ^ NextKeyByte(); }

  // One DES block encryption under the current key schedule.
  void EncryptBlock(const std::uint8_t in[8], std::uint8_t out[8]) const;

 private:
  platform::DesBlock des_;
  std::uint8_t register_[8] = {};
};

}  // namespace bcu::transfer
