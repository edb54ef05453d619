// The codeplug scrambler: DES itself against the FIPS 46 known answer, and the
// 8-bit output feedback keystream against bytes computed independently with
// DES-ECB (openssl) by feeding back the first output byte.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "transfer/CodeplugScrambler.h"

namespace bcu::transfer {
namespace {

TEST(CodeplugScramblerTest, DesKnownAnswer) {
  CodeplugScrambler scrambler;
  const std::uint8_t key[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
  const std::uint8_t zero[8] = {};
  scrambler.Reset(key, zero);
  const std::uint8_t plain[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  const std::array<std::uint8_t, 8> expected = {0x85, 0xE8, 0x13, 0x54, 0x0F, 0x0A, 0xB4, 0x05};
  std::array<std::uint8_t, 8> out{};
  scrambler.EncryptBlock(plain, out.data());
  EXPECT_EQ(out, expected);
}

TEST(CodeplugScramblerTest, ParityBitsOfTheKeyAreIgnored) {
  // Flipping the low (parity) bit of every key byte gives the same cipher.
  CodeplugScrambler a;
  CodeplugScrambler b;
  const std::uint8_t key[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
  std::uint8_t flipped[8];
  for (int i = 0; i < 8; ++i) flipped[i] = key[i] ^ 1;
  const std::uint8_t reg[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  a.Reset(key, reg);
  b.Reset(flipped, reg);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(a.NextKeyByte(), b.NextKeyByte()) << i;
}

TEST(CodeplugScramblerTest, OutputFeedbackKeystreamWithTheFixedKey) {
  CodeplugScrambler scrambler;
  const std::uint8_t reg[8] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  scrambler.Reset(reg);
  const std::array<std::uint8_t, 6> expected = {0xAA, 0x8D, 0x1F, 0xFE, 0x7E, 0x2D};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(scrambler.NextKeyByte(), expected[i]) << "keystream byte " << i;
  }
  // A reset starts the same stream again; Step masks the data with it.
  scrambler.Reset(reg);
  EXPECT_EQ(scrambler.Step(0x0F), 0xAA ^ 0x0F);
  EXPECT_EQ(scrambler.Step(0x00), 0x8D);
}

TEST(CodeplugScramblerTest, RegisterChangesTheStream) {
  CodeplugScrambler a;
  CodeplugScrambler b;
  const std::uint8_t regA[8] = {0, 0, 0, 0, 0, 0, 0, 1};
  const std::uint8_t regB[8] = {0, 0, 0, 0, 0, 0, 0, 2};
  a.Reset(regA);
  b.Reset(regB);
  int same = 0;
  for (int i = 0; i < 32; ++i) same += a.NextKeyByte() == b.NextKeyByte();
  EXPECT_LT(same, 8);
}

}  // namespace
}  // namespace bcu::transfer
