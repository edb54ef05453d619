// The codeplug image: fields, text, finders, table access, moves, the check.
#include <gtest/gtest.h>

#include <random>

#include "codeplug/Blocks.h"
#include "codeplug/CodeplugFile.h"
#include "codeplug/Fields.h"
#include "codeplug/FormatVersion.h"
#include "codeplug/Moves.h"
#include "codeplug/TableAccess.h"
#include "codeplug/TableWordLayout.h"
#include "codeplug/Validity.h"
#include "support/CodeplugImages.h"

namespace bcu::codeplug {
namespace {

using testing::Build;
using testing::Shape;

constexpr FormatVersion k58{5, 8}, k59{5, 9}, k510{5, 10};

TEST(CodeplugFields, SetFieldKeepsLowBitsAndNeighbours) {
  auto image = std::make_unique<CodeplugImage>();
  (*image)[7] = 0xFFFF;
  EXPECT_EQ(SetField(*image, 7, 0x0F00, 8, 20), 4);
  EXPECT_EQ((*image)[7], 0xF4FF);
  EXPECT_EQ(GetField(*image, 7, 0x0F00, 8), 4);
  // Outside the buffer: reads 0, writes nothing.
  EXPECT_EQ(GetField(*image, kImageWords, 0xFFFF, 0), 0);
  SetField(*image, kImageWords + 5, 0xFFFF, 0, 1);
}

TEST(CodeplugFields, BlockTextPairsCharactersLowByteFirst) {
  auto image = std::make_unique<CodeplugImage>();
  PutBlockText(*image, 39, "FAVORITES");
  EXPECT_EQ((*image)[39], 'F' | 'A' << 8);
  EXPECT_EQ((*image)[40], 'V' | 'O' << 8);
  EXPECT_EQ((*image)[41], 'R' | 'I' << 8);
  EXPECT_EQ((*image)[42], 'T' | 'E' << 8);
  EXPECT_EQ((*image)[43], 'S' | ' ' << 8);
  PutBlockText(*image, 39, "1");
  EXPECT_EQ((*image)[39], '1' | ' ' << 8);
  for (int k = 40; k < 44; ++k) EXPECT_EQ((*image)[k], 0x2020);
  PutBlockText(*image, 100, "ABCDEFGHIJKLMNOP");  // cut at 10 characters
  EXPECT_EQ((*image)[104], 'I' | 'J' << 8);
  EXPECT_EQ((*image)[105], 0);
  PutBlockText(*image, kImageWords - 2, "XYZW");  // the part inside is written
  EXPECT_EQ((*image)[kImageWords - 1], 'Z' | 'W' << 8);
}

TEST(CodeplugFormat, IndexesOfVersions) {
  auto image = std::make_unique<CodeplugImage>();
  (*image)[kWordFormatVersion] = 0x050A;
  EXPECT_EQ(ParmsFormatIndex(*image), 5);
  (*image)[kWordFormatVersion] = 0x0508;
  EXPECT_EQ(ParmsFormatIndex(*image), 3);
  (*image)[kWordFormatVersion] = 0x0604;
  EXPECT_EQ(ParmsFormatIndex(*image), 255);
  EXPECT_EQ(ParmsFormatIndexOf(5, 4), 255);
  EXPECT_EQ(ParmsFormatIndexOf(5, 11), 255);
  EXPECT_EQ(ParmsFormatIndexOf(5, 5), 0);
  EXPECT_EQ(VersionOfFormatIndex(4), (FormatVersion{5, 9}));
  EXPECT_EQ(VersionOfFormatIndex(6), (FormatVersion{0, 0}));
}

TEST(CodeplugSwap, TwiceRestoresAndOddCountSwapsLastPair) {
  CodeplugImage* image = new CodeplugImage();
  for (std::uint32_t i = 0; i < kImageWords; ++i) (*image)[i] = static_cast<Word>(i * 7919);
  const CodeplugImage before = *image;
  ParmsImageSwapBytes(*image, 301);
  EXPECT_EQ((*image)[150], static_cast<Word>((before[150] >> 8) | (before[150] << 8)));
  EXPECT_EQ((*image)[151], before[151]);
  ParmsImageSwapBytes(*image, 301);
  EXPECT_EQ(*image, before);
  ParmsImageSwapBytes(*image, 1 << 20);  // cut to the buffer
  ParmsImageSwapBytes(*image, kImageBytes);
  EXPECT_EQ(*image, before);
  delete image;
}

TEST(CodeplugValidity, BuiltImagesOfEveryFormatAreValid) {
  for (FormatVersion v : {k58, k59, k510})
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
      auto shape = Shape(v, seed % 3, seed % 2, (seed / 2) % 3, seed % 4 == 0, 1,
                         static_cast<std::uint8_t>(seed), seed);
      auto built = Build(shape);
      const ImageCheck check = CheckParmsImage(*built.image);
      EXPECT_TRUE(check.valid) << int(v.minor) << " seed " << seed << ": " << check.reason;
      EXPECT_EQ(built.byteCount, 2u * ImageLength(*built.image));
    }
}

TEST(CodeplugValidity, HeaderLimits) {
  auto built = Build(Shape(k510, 1, 1, 0, 0, 0));
  CodeplugImage& image = *built.image;
  ASSERT_TRUE(ParmsImageIsValid(image));
  auto broken = [&](auto change) {
    auto copy = testing::Copy(image);
    change(*copy);
    return ParmsImageIsValid(*copy);
  };
  EXPECT_FALSE(broken([](CodeplugImage& i) { i[0] = 0x5F5E; }));
  for (Word kind : {1, 2, 3})
    EXPECT_FALSE(broken([&](CodeplugImage& i) { i[1] = static_cast<Word>(i[1] | kind << 14); }));
  EXPECT_FALSE(broken([](CodeplugImage& i) { i[kWordImageLength] = 128; }));
  EXPECT_FALSE(broken([](CodeplugImage& i) { i[kWordImageLength] = 40000; }));
  EXPECT_FALSE(broken([](CodeplugImage& i) { i[kWordBlockCounts] = 0x0002; }));
  EXPECT_FALSE(broken([](CodeplugImage& i) { i[kWordBlockCounts] = 55 << 8 | 2; }));
  EXPECT_FALSE(broken([](CodeplugImage& i) { i[kWordBlockCounts] = 1 << 8 | 0; }));
  EXPECT_FALSE(broken([](CodeplugImage& i) { i[kWordBlockCounts] = 1 << 8 | 17; }));
  // The right counts but for the limits.
  EXPECT_TRUE(Build(Shape(k59, 4, 3, 3, 3, 3, 54)).image != nullptr);
  auto full = Build(Shape(k59, 4, 3, 3, 3, 3, 54));
  EXPECT_EQ(SystemBlockCount(*full.image), 16);
  EXPECT_TRUE(ParmsImageIsValid(*full.image));
}

TEST(CodeplugValidity, ChainMustEndExactlyAtTheBlocksEnd) {
  auto built = Build(Shape(k59, 1, 0, 0, 0, 0));
  CodeplugImage& image = *built.image;
  const std::uint16_t group = FindGroupBlock(image, 1);
  ASSERT_NE(group, 0);
  {
    auto copy = testing::Copy(image);  // last block longer than what is left
    (*copy)[group + 1] = static_cast<Word>((*copy)[group + 1] + 1);
    EXPECT_FALSE(ParmsImageIsValid(*copy));
    (*copy)[kWordImageLength] = static_cast<Word>((*copy)[kWordImageLength] + 1);
    EXPECT_TRUE(ParmsImageIsValid(*copy));  // the trailer moved with it
  }
  {
    auto copy = testing::Copy(image);  // a word other than the mark before L
    (*copy)[group] = 0x1234;
    EXPECT_FALSE(ParmsImageIsValid(*copy));
  }
  {
    auto copy = testing::Copy(image);  // a block of length 0 never advances
    (*copy)[group + 1] = kGroupBlock << 14;
    EXPECT_FALSE(ParmsImageIsValid(*copy));
    EXPECT_EQ(FindGroupBlock(*copy, 2), 0);
    EXPECT_EQ(FindSystemBlock(*copy, 9), 0);
  }
}

TEST(CodeplugValidity, TablesMustFitTheirBlocks) {
  auto built = Build(Shape(k510, 1, 0, 0, 0, 0));
  CodeplugImage& image = *built.image;
  const std::uint16_t system = FindSystemBlock(image, 1);
  ASSERT_NE(system, 0);
  {
    auto copy = testing::Copy(image);  // one more row than the block holds
    const DirectoryEntry e = GetDirectoryEntry(*copy, system, 14);
    SetDirectoryEntry(*copy, system, 14, e.rows + 1, e.size == 0 ? 1 : e.size);
    EXPECT_FALSE(ParmsImageIsValid(*copy));
  }
  {
    auto copy = testing::Copy(image);  // directory offset past the block
    SetTableWord(*copy, system, 2000, -1);
    EXPECT_FALSE(ParmsImageIsValid(*copy));
  }
  {
    auto copy = testing::Copy(image);  // directory over the block header
    SetTableWord(*copy, system, 2, -1);
    EXPECT_FALSE(ParmsImageIsValid(*copy));
  }
  {
    auto copy = testing::Copy(image);  // the same image in the narrow layout is read as such
    (*copy)[kWordFormatVersion] = 0x0509;
    EXPECT_FALSE(ParmsImageIsValid(*copy));
    SetTableWordLayout(*copy, false);
    EXPECT_TRUE(ParmsImageIsValid(*copy));
  }
}

TEST(CodeplugValidity, SystemTypes1And3ShareOneSystemTypeBlock) {
  auto built = Build(Shape(k59, 0, 1, 1, 0, 0));
  EXPECT_TRUE(ParmsImageIsValid(*built.image));
  EXPECT_NE(FindSystemTypeBlock(*built.image, 1), 0);
  EXPECT_EQ(FindSystemTypeBlock(*built.image, 3), 0);
  // A second system-type block (code 3) makes two blocks for one shared type.
  auto two = Build(Shape(k59, 0, 1, 1, 0, 0));
  CodeplugImage& image = *two.image;
  const std::uint16_t code1 = FindSystemTypeBlock(image, 1);
  const std::uint16_t length = GetBlockLength(image, code1);
  const std::uint32_t end = ImageLength(image);
  MoveTail(image, code1 + length, code1);  // duplicate the block
  image[code1 + length + 3] = 0x3000;
  image[kWordImageLength] = static_cast<Word>(end + length);
  EXPECT_NE(FindSystemTypeBlock(image, 3), 0);
  EXPECT_FALSE(ParmsImageIsValid(image));
}

TEST(CodeplugFinders, AbsentBlocksAreNeverTheRadioBlock) {
  auto built = Build(Shape(k510, 1, 1, 0, 0, 0, 3));
  CodeplugImage& image = *built.image;
  const auto before = testing::Copy(image);
  EXPECT_EQ(FindSystemTypeBlock(image, 4), 0);
  EXPECT_EQ(FindSystemBlock(image, 3), 0);
  EXPECT_EQ(FindGroupBlock(image, 0), 0);
  EXPECT_EQ(FindGroupBlock(image, 4), 0);
  EXPECT_NE(FindGroupBlock(image, 3), 0);
  EXPECT_EQ(GetSystemType(image, 3), kNoSystemType);
  SetTableWord(image, SystemTypeBlock{4}, 7, 3);
  SetDirectoryEntry(image, SystemBlock{3}, 0, 1, 1);
  SetBlockLength(image, GroupBlock{9}, 4);
  EXPECT_EQ(GetBlockLength(image, SystemBlock{3}), 0);
  EXPECT_EQ(image, *before);
  // Found blocks: the addressed block changes.
  SetDirectoryEntry(image, GroupBlock{2}, 1, 0x12, -1);
  EXPECT_EQ(GetDirectoryEntry(image, GroupBlock{2}, 1).rows, 0x12);
  EXPECT_EQ(GetDirectoryEntry(image, GroupBlock{2}, 1).size, 15);
  EXPECT_EQ(GetTableWord(image, RadioBlock{}).offset, 69);
  EXPECT_EQ(GetTableWord(image, SystemBlock{1}).count, 15 + 2 * (GetSystemType(image, 1) == 1));
}

TEST(CodeplugMoves, ReplaceTableShrinksBlockAndImage) {
  auto built = Build(Shape(k510, 0, 0, 0, 0, 1));
  CodeplugImage& image = *built.image;
  const std::uint16_t block = FindSystemBlock(image, 1);
  // Table 4 as 40 words: 4 rows of 10.
  std::uint8_t rows = 0, size = 0;
  std::uint32_t start = TableStart(image, block, 4, &rows, &size);
  const std::int32_t oldWords = rows * size;
  const std::uint32_t tail = start + oldWords;
  const std::uint32_t imageEnd = ImageLength(image);
  MoveTail(image, start + 40, tail);
  SetDirectoryEntry(image, block, 4, 4, 10);
  SetBlockLength(image, block,
                 static_cast<std::uint16_t>(GetBlockLength(image, block) + 40 - oldWords));
  image[kWordImageLength] = static_cast<Word>(imageEnd + 40 - oldWords);
  ASSERT_TRUE(ParmsImageIsValid(image));
  const auto before = testing::Copy(image);
  Word row[37];
  for (int i = 0; i < 37; ++i) row[i] = static_cast<Word>(0xA000 + i);
  ReplaceTable(image, 1, 4, row, 1, 37);
  EXPECT_EQ(GetBlockLength(image, block), GetBlockLength(*before, block) - 3);
  EXPECT_EQ(ImageLength(image), ImageLength(*before) - 3);
  EXPECT_EQ(image[start + 36], 0xA024);
  for (std::uint32_t p = start + 40; p < ImageLength(*before); ++p)
    ASSERT_EQ(image[p - 3], (*before)[p]) << p;
  EXPECT_TRUE(ParmsImageIsValid(image));
  // Without a source the table's words go.
  ReplaceTable(image, 1, 4, nullptr, 0, 2);
  EXPECT_EQ(ImageLength(image), ImageLength(*before) - 40);
  EXPECT_EQ(GetDirectoryEntry(image, block, 4).size, 2);
  EXPECT_TRUE(ParmsImageIsValid(image));
}

TEST(CodeplugMoves, MoveTailStaysInsideTheBuffer) {
  auto image = std::make_unique<CodeplugImage>();
  for (std::uint32_t i = 0; i < kImageWords; ++i) (*image)[i] = static_cast<Word>(i);
  MoveTail(*image, 10, 4);  // insertion: the last 6 words fall off
  EXPECT_EQ((*image)[10], 4);
  EXPECT_EQ((*image)[kImageWords - 1], kImageWords - 1 - 6);
  MoveTail(*image, 4, 10);  // removal: the last 6 words stay as they were
  EXPECT_EQ((*image)[4], 4);
  EXPECT_EQ((*image)[kImageWords - 1], kImageWords - 1 - 6);
  MoveTail(*image, kImageWords + 3, 0);
  MoveTail(*image, 0, kImageWords);
  ZeroWords(*image, kImageWords - 2, 100);
  EXPECT_EQ((*image)[kImageWords - 1], 0);
  EXPECT_EQ((*image)[kImageWords - 3], kImageWords - 3 - 6);
}

// Random bytes, and random damage to valid images: the check and every finder
// run without leaving the buffer (checked under AddressSanitizer).
TEST(CodeplugRobustness, RandomImagesNeverLeaveTheBuffer) {
  std::mt19937 random(7);
  auto image = std::make_unique<CodeplugImage>();
  for (int round = 0; round < 300; ++round) {
    if (round % 2 == 0) {
      for (auto& w : *image) w = static_cast<Word>(random());
      (*image)[0] = kBlockMark;
      (*image)[kWordImageLength] = static_cast<Word>(random() % 40000);
    } else {
      std::size_t bytes = 0;
      auto shape = Shape(k510, 1, 1, 1, 1, 1, 3, round);
      ASSERT_TRUE(BuildCodeplug(shape, *image, bytes));
      for (int k = 0; k < 8; ++k) (*image)[random() % (bytes / 2)] = static_cast<Word>(random());
    }
    (void)ParmsImageIsValid(*image);
    for (std::uint16_t n = 0; n < 20; ++n) {
      (void)FindSystemBlock(*image, n);
      (void)FindSystemTypeBlock(*image, n);
      (void)FindGroupBlock(*image, n);
      (void)GetDirectoryEntry(*image, SystemBlock{n}, n);
      (void)TableStart(*image, FindGroupBlock(*image, n), 31);
    }
    SetTableWordLayout(*image, round % 3 == 0);
  }
}

TEST(CodeplugFile, BigEndianRoundTrip) {
  auto built = Build(Shape(k59, 1, 1, 1, 1, 1));
  const std::string path = ::testing::TempDir() + "/codeplug_roundtrip.bin";
  std::string error;
  ASSERT_TRUE(WriteCodeplugFile(path, *built.image, built.byteCount, error)) << error;
  const auto bytes = RadioBytesOfImage(*built.image, 4);
  EXPECT_EQ(bytes[0], 0x5F);
  EXPECT_EQ(bytes[2], (*built.image)[1] >> 8);
  auto back = std::make_unique<CodeplugImage>();
  std::size_t count = 0;
  ASSERT_TRUE(ReadCodeplugFile(path, *back, count, error)) << error;
  EXPECT_EQ(count, built.byteCount);
  EXPECT_EQ(*back, *built.image);
  const std::uint8_t odd[3] = {1, 2, 3};
  EXPECT_FALSE(ImageFromRadioBytes(odd, *back, error));
  EXPECT_FALSE(ReadCodeplugFile(path + ".missing", *back, count, error));
}

}  // namespace
}  // namespace bcu::codeplug
