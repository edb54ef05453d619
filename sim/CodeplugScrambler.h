#pragma once
// The keystream that masks codeplug blocks on their way into the radio: DES in
// 8-bit output feedback mode, keyed with the fixed text "Q$Q$Q$Q$", its
// register loaded with the radio's serial number once per download.
#include <array>
#include <cstdint>
#include <memory>

namespace bcu::sim {

class CodeplugScrambler {
 public:
  CodeplugScrambler();
  ~CodeplugScrambler();
  // Key schedule from the fixed key; register = `serial`, byte 0 first.
  void Reset(const std::array<std::uint8_t, 8>& serial);
  // The next keystream byte (the register moves on by one byte).
  std::uint8_t Next();
  // Undoes the masking of one 128-byte block in place (two keystream bytes).
  void UnscrambleBlock(std::uint8_t* block);

 private:
  struct Des;
  std::unique_ptr<Des> des_;
  std::array<std::uint8_t, 8> register_{};
};

// One DES encryption of an 8-byte block (FIPS 46), for the known-answer check.
std::array<std::uint8_t, 8> DesEncryptBlock(const std::array<std::uint8_t, 8>& key,
                                            const std::array<std::uint8_t, 8>& plain);

}  // namespace bcu::sim
