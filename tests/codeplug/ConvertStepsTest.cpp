// The hooks of the 5.8/5.9 and 5.9/5.10 converters and the 5.10 fix-up pass.
#include <gtest/gtest.h>

#include <random>

#include "codeplug/Blocks.h"
#include "codeplug/Fields.h"
#include "codeplug/ParmsFormat510Fixup.h"
#include "codeplug/ParmsFormatChain.h"
#include "codeplug/TableAccess.h"
#include "codeplug/Validity.h"
#include "support/CodeplugImages.h"

namespace bcu::codeplug {
namespace {

using testing::Shape;

constexpr FormatVersion k58{5, 8}, k59{5, 9}, k510{5, 10};

// An image with systems numbered in type order (0s, 1s, 3s, 4s, 5s), in the
// wide layout so that the test can shape its tables.
testing::BuiltImage Wide(FormatVersion v, std::uint8_t t0, std::uint8_t t1, std::uint8_t t3,
                         std::uint8_t t4, std::uint8_t t5, std::uint8_t variant = 0) {
  CodeplugShape shape = Shape(v, t0, t1, t3, t4, t5, 2, 21);
  shape.shuffleSystems = false;
  shape.variantCode = variant;
  auto built = testing::Build(shape);
  if (v.minor != 10) SetTableWordLayout(*built.image, true);
  return built;
}

// Narrows (below 5.10) and converts between the two formats.
void Convert(CodeplugImage& image, std::uint8_t from, std::uint8_t to) {
  if (from < 5) SetTableWordLayout(image, false);
  ASSERT_TRUE(ParmsImageIsValid(image)) << CheckParmsImage(image).reason;
  std::int32_t growth = 0;
  const bool ok = from <= to ? ParmsFormatUpgrade(growth, image, from, to)
                             : ParmsFormatDowngrade(growth, image, to, from);
  ASSERT_TRUE(ok);
  ASSERT_TRUE(ParmsImageIsValid(image)) << CheckParmsImage(image).reason;
  if (to < 5) SetTableWordLayout(image, true);
}

std::uint16_t Sys(const CodeplugImage& image, std::uint16_t n) {
  return FindSystemBlock(image, n);
}

TEST(Convert5859, RadioBlockGetsFavoritesTable0RowsAndWord25) {
  auto built = Wide(k58, 1, 0, 0, 0, 0);
  CodeplugImage& image = *built.image;
  testing::ResizeTable(image, 0, 0, 5, 3);
  image[25] = 0x0700;
  Convert(image, 3, 4);
  EXPECT_EQ(GetDirectoryEntry(image, std::uint16_t{0}, 0).rows, 16);
  EXPECT_EQ(testing::TableWords(image, 0, 0)[14], 0x100E);  // first 5 rows kept...
  EXPECT_EQ(testing::TableWords(image, 0, 0)[15], 0);       // ...then zero rows
  EXPECT_EQ(testing::TableWords(image, 0, 3), std::vector<Word>(16, 0xFF01));
  EXPECT_EQ(image[39], 'F' | 'A' << 8);
  EXPECT_EQ(image[43], 'S' | ' ' << 8);
  EXPECT_EQ(image[25], 0x0701);

  // A favorites table that already has a row size is left alone, text too.
  auto kept = Wide(k58, 1, 0, 0, 0, 0);
  testing::ResizeTable(*kept.image, 0, 3, 2, 1, 0x0202);
  (*kept.image)[39] = 0x1234;
  Convert(*kept.image, 3, 4);
  EXPECT_EQ(testing::TableWords(*kept.image, 0, 3), (std::vector<Word>{0x0202, 0x0203}));
  EXPECT_EQ((*kept.image)[39], 0x1234);
}

TEST(Convert5859, FourStepRuleBothWays) {
  // Type-1 word 10 bits 13-9 and type-4 word 248 bits 4-0.
  struct Case {
    FormatVersion v;
    std::uint8_t from, to;
    std::uint16_t value, expected;
  };
  for (const Case& c : {Case{k58, 3, 4, 13, 16}, Case{k58, 3, 4, 3, 7}, Case{k59, 4, 3, 16, 12},
                        Case{k59, 4, 3, 3, 0}, Case{k59, 4, 5, 14, 16}, Case{k59, 4, 5, 2, 6}}) {
    auto built = Wide(c.v, 0, 1, 0, 1, 0);
    CodeplugImage& image = *built.image;
    SetField(image, Sys(image, 1) + 10u, 0x3E00, 9, c.value);
    SetField(image, Sys(image, 2) + 248u, 0x001F, 0, c.value);
    Convert(image, c.from, c.to);
    EXPECT_EQ(GetField(image, Sys(image, 1) + 10u, 0x3E00, 9), c.expected)
        << int(c.from) << "->" << int(c.to) << " " << c.value;
    EXPECT_EQ(GetField(image, Sys(image, 2) + 248u, 0x001F, 0), c.expected);
  }
}

TEST(Convert5859, Word107OnlyWithRadioWord6Bits5) {
  for (std::uint16_t bits : {5, 4}) {
    auto built = Wide(k58, 0, 1, 1, 0, 0);
    CodeplugImage& image = *built.image;
    SetField(image, 6, 0x1C00, 10, bits);
    image[Sys(image, 1) + 107] = 0xFD8F;
    image[Sys(image, 2) + 107] = 0xFD8F;
    Convert(image, 3, 4);
    const Word expected = bits == 5 ? 0x8A93 : 0xFD8F;
    EXPECT_EQ(image[Sys(image, 1) + 107], expected);
    EXPECT_EQ(image[Sys(image, 2) + 107], expected);
  }
}

TEST(Convert5859, Type5BitMapFromTable1) {
  auto built = Wide(k58, 0, 0, 0, 0, 1);
  CodeplugImage& image = *built.image;
  const std::uint16_t block = Sys(image, 1);
  testing::ResizeTable(image, block, 0, 2, 10, 0x0100);
  testing::ResizeTable(image, block, 1, 3, 2);
  const std::uint32_t t1 = TableStart(image, block, 1);
  image[t1 + 1] = 0x0000;  // map word 0, bit 0
  image[t1 + 3] = 0x010F;  // map word 1, bit 15
  image[t1 + 5] = 0x2805;  // map word 40: outside the map, skipped
  const std::uint32_t lengthBefore = GetBlockLength(image, block);
  Convert(image, 3, 4);
  const std::uint16_t b = Sys(image, 1);
  const auto table0 = testing::TableWords(image, b, 0);
  ASSERT_EQ(table0.size(), 22u);
  EXPECT_EQ(table0[9], 0x0109);
  EXPECT_EQ(table0[10], 0);
  EXPECT_EQ(table0[11], 0x010A);
  EXPECT_EQ(GetDirectoryEntry(image, b, 1).rows, 0);
  EXPECT_EQ(GetDirectoryEntry(image, b, 1).size, 2);
  const auto table2 = testing::TableWords(image, b, 2);
  ASSERT_EQ(table2.size(), 37u);
  EXPECT_EQ(table2[0], '1' | ' ' << 8);
  EXPECT_EQ(table2[4], 0x2020);
  EXPECT_EQ(table2[5], 0x8000);
  EXPECT_EQ(table2[6], 0x0001);
  for (int w = 7; w < 37; ++w) EXPECT_EQ(table2[w], 0) << w;
  EXPECT_EQ(GetBlockLength(image, b), lengthBefore + 2 + 37 - 6);

  // An empty table 1: table 2 stays as it was.
  auto empty = Wide(k58, 0, 0, 0, 0, 1);
  const std::uint16_t e = Sys(*empty.image, 1);
  testing::ResizeTable(*empty.image, e, 1, 0, 2);
  testing::ResizeTable(*empty.image, e, 2, 1, 3, 0x0700);
  Convert(*empty.image, 3, 4);
  EXPECT_EQ(testing::TableWords(*empty.image, Sys(*empty.image, 1), 2),
            (std::vector<Word>{0x0700, 0x0701, 0x0702}));
}

TEST(Convert5859, Type0FieldsTablesAndAlias) {
  auto built = Wide(k58, 2, 0, 0, 0, 0);
  CodeplugImage& image = *built.image;
  const std::uint16_t s = FindSystemTypeBlock(image, 0);
  for (std::uint32_t w : {10, 11, 12, 13, 27, 28, 30}) image[s + w] = static_cast<Word>(0xA000 + w);
  testing::ResizeTable(image, 0, 0, 16, 3);  // radio word 70 stays in place
  testing::ResizeTable(image, Sys(image, 1), 2, 2, 2, 0x0300);
  const std::uint16_t second = Sys(image, 2);
  const std::vector<Word> secondFixed(image.begin() + second, image.begin() + second + 30);
  for (std::uint32_t k = 0; k < 5; ++k) image[Sys(image, 1) + 65 + k] = 0;
  image[second + 66] = 0x4142;  // a non-zero alias word
  image[70] = 0x1200;
  Convert(image, 3, 4);
  const std::uint16_t y = Sys(image, 1);
  EXPECT_EQ(image[y + 18], 0xA00A);
  EXPECT_EQ(image[y + 21], 0xA00C);
  EXPECT_EQ(image[y + 25], 0xA01E);
  EXPECT_EQ(std::vector<Word>(image.begin() + Sys(image, 2), image.begin() + Sys(image, 2) + 30),
            secondFixed);
  EXPECT_EQ(testing::TableWords(image, y, 2),
            (std::vector<Word>{0x0300, 0x0301, 549, 659, 0x0302, 0x0303, 549, 659}));
  EXPECT_EQ(image[y + 65], 'S' | 'Y' << 8);
  EXPECT_EQ(image[y + 68], 'I' | 'A' << 8);
  EXPECT_EQ(image[y + 69], 'S' | ' ' << 8);
  EXPECT_EQ(image[Sys(image, 2) + 66], 0x4142);
  EXPECT_EQ(GetDirectoryEntry(image, y, 6).size, 9);
  EXPECT_EQ(GetDirectoryEntry(image, y, 8).size, 2);
  EXPECT_EQ(image[70], 0x123C);

  // Going down copies the seven words back and keeps the 4-word rows.
  image[y + 19] = 0xB00B;
  Convert(image, 4, 3);
  EXPECT_EQ(image[FindSystemTypeBlock(image, 0) + 11], 0xB00B);
  EXPECT_EQ(GetDirectoryEntry(image, Sys(image, 1), 2).size, 4);
}

TEST(Convert5859, Type4Table0CleanUpOnlyForVariant8) {
  for (std::uint8_t variant : {8, 4}) {
    auto built = Wide(k58, 0, 0, 0, 1, 0, variant);
    CodeplugImage& image = *built.image;
    testing::ResizeTable(image, Sys(image, 1), 0, 3, 6, 0x0101);
    const std::uint32_t t0 = TableStart(image, Sys(image, 1), 0);
    image[t0 + 2] = 0;        // row 0: a zero word -> all 0xFFFF
    image[t0 + 12] = 0xFFFF;  // row 2 starts with 0xFFFF: never touched
    image[t0 + 13] = 0;
    Convert(image, 3, 4);
    const auto rows = testing::TableWords(image, Sys(image, 1), 0);
    EXPECT_EQ(rows[0], variant == 8 ? 0xFFFF : 0x0101);
    EXPECT_EQ(rows[5], variant == 8 ? 0xFFFF : 0x0106);
    EXPECT_EQ(rows[6], 0x0107);  // row 1 has no zero word
    EXPECT_EQ(rows[13], 0);
  }
}

TEST(Convert5859, DowngradeEmptiesTheTables59Adds) {
  auto built = Wide(k59, 0, 1, 1, 1, 0);
  CodeplugImage& image = *built.image;
  testing::ResizeTable(image, Sys(image, 1), 9, 2, 2);
  testing::ResizeTable(image, Sys(image, 1), 10, 1, 3);
  testing::ResizeTable(image, Sys(image, 2), 13, 1, 2);
  testing::ResizeTable(image, Sys(image, 3), 14, 2, 5);
  const std::int32_t before = ImageLength(image);
  SetTableWordLayout(image, false);
  std::int32_t growth = 0;
  ASSERT_TRUE(ParmsFormatDowngrade(growth, image, 3, 4));
  EXPECT_EQ(growth, -(4 + 3 + 2 + 10));
  EXPECT_EQ(ImageLength(image), before + growth);
  SetTableWordLayout(image, true);
  EXPECT_EQ(GetDirectoryEntry(image, Sys(image, 1), 9).rows, 0);
  EXPECT_EQ(GetDirectoryEntry(image, Sys(image, 1), 10).size, 3);
  EXPECT_EQ(GetDirectoryEntry(image, Sys(image, 3), 14).rows, 0);
}

TEST(Convert59510, GroupTable0RowsAndMovedBits) {
  auto built = Wide(k59, 1, 0, 0, 0, 0);
  CodeplugImage& image = *built.image;
  const std::uint16_t g = FindGroupBlock(image, 1);
  testing::ResizeTable(image, g, 0, 3, 17, 0);
  const std::uint32_t t0 = TableStart(image, g, 0);
  for (std::uint32_t r = 0; r < 3; ++r) image[t0 + 17 * r + 14] = static_cast<Word>(0x1230 + r + 7);
  Convert(image, 4, 5);
  const auto rows = testing::TableWords(image, FindGroupBlock(image, 1), 0);
  ASSERT_EQ(rows.size(), 54u);
  for (std::uint32_t r = 0; r < 3; ++r) {
    EXPECT_EQ(rows[18 * r], 17 * r);
    EXPECT_EQ(rows[18 * r + 14], 0x1230);
    EXPECT_EQ(rows[18 * r + 16], 7 + r);
    EXPECT_EQ(rows[18 * r + 17], 0);
  }
}

TEST(Convert59510, IndexTablesFromTheirSourceTables) {
  auto built = Wide(k59, 0, 2, 0, 1, 0);
  CodeplugImage& image = *built.image;
  testing::ResizeTable(image, Sys(image, 1), 5, 2, 4, 0xF000);
  testing::ResizeTable(image, Sys(image, 2), 5, 0, 4);
  testing::ResizeTable(image, Sys(image, 2), 10, 1, 2, 0x0505);  // already declared
  testing::ResizeTable(image, Sys(image, 3), 6, 1, 8, 0xF100);
  Convert(image, 4, 5);
  EXPECT_EQ(testing::TableWords(image, Sys(image, 1), 10),
            (std::vector<Word>{0x0000, 0xF001, 0xF002, 0x0004, 0xF005, 0xF006}));
  EXPECT_EQ(testing::TableWords(image, Sys(image, 2), 10), (std::vector<Word>{0x0505, 0x0506}));
  EXPECT_EQ(testing::TableWords(image, Sys(image, 3), 14),
            (std::vector<Word>{0xF100, 0xF101, 0xF102}));
  // An empty source gives an empty index table.
  auto empty = Wide(k59, 0, 1, 0, 0, 0);
  testing::ResizeTable(*empty.image, Sys(*empty.image, 1), 5, 0, 4);
  const std::uint16_t before = ImageLength(*empty.image);
  std::int32_t growth = 0;
  SetTableWordLayout(*empty.image, false);
  ASSERT_TRUE(ParmsFormatUpgrade(growth, *empty.image, 4, 5));
  EXPECT_EQ(GetDirectoryEntry(*empty.image, Sys(*empty.image, 1), 10).rows, 0);
  EXPECT_EQ(GetDirectoryEntry(*empty.image, Sys(*empty.image, 1), 10).size, 3);
  EXPECT_EQ(ImageLength(*empty.image), before + growth);
}

TEST(Convert59510, FfffCleanUpOnlyForVariant4) {
  for (std::uint8_t variant : {4, 8}) {
    auto built = Wide(k59, 0, 0, 0, 1, 0, variant);
    CodeplugImage& image = *built.image;
    testing::ResizeTable(image, Sys(image, 1), 6, 1, 8, 0);
    const std::uint32_t t6 = TableStart(image, Sys(image, 1), 6);
    image[t6 + 1] = 0xFFFF;
    image[t6 + 2] = 0xFFFF;
    image[t6 + 3] = 0xFFFF;
    Convert(image, 4, 5);
    const auto row = testing::TableWords(image, Sys(image, 1), 6);
    const auto index = testing::TableWords(image, Sys(image, 1), 14);
    const Word cleaned = variant == 4 ? 0x0FFF : 0xFFFF;
    EXPECT_EQ(row[1], cleaned);
    EXPECT_EQ(row[2], cleaned);
    EXPECT_EQ(index[1], cleaned);
    EXPECT_EQ(row[12], 0x000F);  // word 3 bits 12-9 moved to word 12
    EXPECT_EQ(row[3], 0xE1FF);
  }
}

// Builds a 5.10 image, applies `shape` to it and runs the fix-up.
TEST(Fixup510, Type0Word8BoundedByTable3Rows) {
  struct Case {
    std::uint8_t rows;
    Word word8, expected;
  };
  for (const Case& c :
       {Case{5, 0x7723, 0x7703}, Case{2, 0x7723, 0x7700}, Case{40, 0x7723, 0x7723}}) {
    auto built = Wide(k510, 1, 0, 0, 0, 0);
    CodeplugImage& image = *built.image;
    testing::ResizeTable(image, Sys(image, 1), 3, c.rows, 58);
    image[Sys(image, 1) + 8] = c.word8;
    EXPECT_EQ(ParmsFormat510Fixup(image), 0);
    EXPECT_EQ(image[Sys(image, 1) + 8], c.expected) << int(c.rows);
  }
}

TEST(Fixup510, FieldDefaultsWhenAllZero) {
  auto built = Wide(k510, 1, 0, 0, 1, 0);
  CodeplugImage& image = *built.image;
  const std::uint16_t t0 = Sys(image, 1), t4 = Sys(image, 2);
  image[t0 + 15] = image[t0 + 26] = image[t0 + 27] = 0;
  image[t4 + 261] = image[t4 + 262] = 0;
  image[t4 + 263] = 0x8000;  // bits 6-0 zero, the rest kept
  image[52] = 0x0001;
  ParmsFormat510Fixup(image);
  EXPECT_EQ(GetField(image, t0 + 27u, 0x007F, 0), 14);
  EXPECT_EQ(GetField(image, t0 + 15u, 0x03E0, 5), 15);
  EXPECT_EQ(GetField(image, t0 + 15u, 0xFC00, 10), 1);
  EXPECT_EQ(GetField(image, t0 + 26u, 0x7F00, 8), 40);
  EXPECT_EQ(GetField(image, t0 + 27u, 0x0780, 7), 4);
  EXPECT_EQ(GetField(image, t0 + 26u, 0x00FF, 0), 255);
  EXPECT_EQ(image[t4 + 263], 0x8000 | 40);
  EXPECT_EQ(GetField(image, t4 + 261u, 0x001E, 1), 4);
  EXPECT_EQ(GetField(image, t4 + 262u, 0x01FE, 1), 255);
  EXPECT_EQ(image[52], 0x9249);
  // One field set: nothing is defaulted.
  auto other = Wide(k510, 1, 0, 0, 0, 0);
  const std::uint16_t b = Sys(*other.image, 1);
  (*other.image)[b + 15] = (*other.image)[b + 26] = 0;
  (*other.image)[b + 27] = 0x0001;
  ParmsFormat510Fixup(*other.image);
  EXPECT_EQ((*other.image)[b + 26], 0);
}

TEST(Fixup510, Type3Table11CappedAt16Rows) {
  for (std::uint8_t rows : {18, 16}) {
    auto built = Wide(k510, 0, 0, 1, 0, 0);
    CodeplugImage& image = *built.image;
    testing::ResizeTable(image, Sys(image, 1), 11, rows, 64);
    const auto table12 = testing::TableWords(image, Sys(image, 1), 12);
    const Word last = image[ImageLength(image) - 1];
    const std::uint16_t length = ImageLength(image);
    const std::int32_t growth = ParmsFormat510Fixup(image);
    EXPECT_EQ(growth, rows == 18 ? -128 : 0);
    EXPECT_EQ(ImageLength(image), length + growth);
    EXPECT_EQ(GetDirectoryEntry(image, Sys(image, 1), 11).rows, 16);
    EXPECT_EQ(testing::TableWords(image, Sys(image, 1), 12), table12);
    EXPECT_EQ(image[ImageLength(image) - 1], last);
    EXPECT_TRUE(ParmsImageIsValid(image)) << CheckParmsImage(image).reason;
  }
}

TEST(Fixup510, InvalidHeaderGetsOnlyWord52) {
  auto built = Wide(k510, 1, 0, 0, 0, 0);
  CodeplugImage& image = *built.image;
  image[kWordBlockCounts] = 0;  // no group blocks: header check fails
  const std::uint16_t t0 = Sys(image, 1);
  image[t0 + 8] = 0x00FF;
  image[52] = 0;
  const auto before = testing::Copy(image);
  ParmsFormat510Fixup(image);
  EXPECT_EQ(image[52], 0x9248);
  image[52] = 0;
  EXPECT_EQ(image, *before);
}

}  // namespace
}  // namespace bcu::codeplug

namespace bcu::codeplug {
namespace {

TEST(Convert59510, RadioTable1MovesFromTheRowsItHolds) {
  // A 5.9 radio table 1 of 20 rows grows to 64 rows (44 appended), not 68.
  auto built = Wide(k59, 1, 0, 0, 0, 0);
  CodeplugImage& image = *built.image;
  testing::ResizeTable(image, 0, 1, 20, 2);
  const auto table2 = testing::TableWords(image, 0, 2);
  Convert(image, 4, 5);
  EXPECT_EQ(GetDirectoryEntry(image, std::uint16_t{0}, 1).rows, 64);
  EXPECT_EQ(testing::TableWords(image, 0, 2), table2);
  Convert(image, 5, 4);
  EXPECT_EQ(GetDirectoryEntry(image, std::uint16_t{0}, 1).rows, 16);
  EXPECT_EQ(testing::TableWords(image, 0, 2), table2);
}

// Valid images damaged word by word: every conversion either succeeds with a
// whole chain of blocks or fails and leaves the image untouched.
TEST(ConvertRobustness, DamagedImagesConvertWholeOrNotAtAll) {
  std::mt19937 random(11);
  auto scratch = std::make_unique<CodeplugImage>();
  int failures = 0;
  for (int round = 0; round < 150; ++round) {
    const std::uint8_t from = 3 + round % 3, to = 3 + (round / 3) % 3;
    CodeplugShape shape = Shape(VersionOfFormatIndex(from), 1, 1, 1, 1, 1, 2, round);
    shape.variantCode = static_cast<std::uint8_t>(round % 16);
    auto built = testing::Build(shape);
    CodeplugImage& image = *built.image;
    const std::uint32_t length = ImageLength(image);
    for (int k = 0; k < 3; ++k) image[random() % length] = static_cast<Word>(random() & 0xFFFF);
    const auto before = testing::Copy(image);
    std::int32_t growth = 0;
    const bool ok = from <= to ? ParmsFormatUpgrade(growth, image, from, to, *scratch)
                               : ParmsFormatDowngrade(growth, image, to, from, *scratch);
    if (!ok) {
      ++failures;
      EXPECT_EQ(growth, 0);
      EXPECT_EQ(image, *before);
      continue;
    }
    EXPECT_TRUE(ParmsImageChainFits(image, to == 5));
    EXPECT_EQ(ImageLength(image), ImageLength(*before) + growth);
    if (to == 5) ParmsFormat510Fixup(image);
  }
  EXPECT_GT(failures, 0);
}

}  // namespace
}  // namespace bcu::codeplug
