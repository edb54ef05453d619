#pragma once
// One DES block encryption (FIPS 46) under a key: the cipher the codeplug
// keystream is made of. The system's well-kept implementations do the work
// (nettle on Linux, the CryptoAPI on Windows); the program has no DES of its
// own.
#include <cstdint>
#include <memory>

namespace bcu::platform {

class DesBlock {
 public:
  DesBlock();
  ~DesBlock();
  DesBlock(const DesBlock&) = delete;
  DesBlock& operator=(const DesBlock&) = delete;

  // The key schedule of `key` (its parity bits are ignored, as DES does).
  void SetKey(const std::uint8_t key[8]);
  // `out` = DES(in) under the key.
  void Encrypt(const std::uint8_t in[8], std::uint8_t out[8]) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace bcu::platform
