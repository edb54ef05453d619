// The image is more than its blocks: the 128 words after the last block are
// data that every conversion carries unchanged, whatever they hold, even words
// that read like a block header. Nothing a converter writes lands outside the
// block it belongs to, and a whole conversion hands on only an image that
// passes the validity check. The builder gives the same image for a seed with
// every compiler.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "codeplug/Blocks.h"
#include "codeplug/CodeplugBuilder.h"
#include "codeplug/CodeplugConversion.h"
#include "codeplug/FormatVersion.h"
#include "codeplug/ParmsFormat510Fixup.h"
#include "codeplug/ParmsFormatChain.h"
#include "codeplug/TableAccess.h"
#include "codeplug/TableWordLayout.h"
#include "codeplug/Validity.h"
#include "support/CodeplugImages.h"

namespace bcu::codeplug {
namespace {

using testing::Build;
using testing::BuiltImage;
using testing::Shape;

constexpr FormatVersion k58{5, 8}, k59{5, 9}, k510{5, 10};
const FormatVersion kVersions[] = {k58, k59, k510};

std::vector<Word> Trailer(const CodeplugImage& image) {
  const std::uint32_t end = ImageLength(image);
  return std::vector<Word>(image.begin() + (end - kTrailerWords), image.begin() + end);
}

// A built image of `version` whose byte count ends `residue` bytes past a
// 128-byte boundary.
BuiltImage BuildEndingAt(FormatVersion version, std::size_t residue) {
  for (std::uint32_t seed = 1; seed < 20000; ++seed) {
    CodeplugShape shape = Shape(version, 1, 1, 1, 1, 1, 2, seed);
    auto image = std::make_unique<CodeplugImage>();
    std::size_t count = 0;
    if (BuildCodeplug(shape, *image, count) && count % 128 == residue)
      return {std::move(image), count};
  }
  ADD_FAILURE() << "no image ends " << residue << " bytes past a boundary";
  return Build(Shape(version, 1, 1, 1, 1, 1));
}

// Trailing words that read like a chain going on: a block mark, then a
// header of a system block (kind 2, numbered 1), of a system-type block of a
// code the image lacks, and so on.
void FillTrailerWithHeaders(CodeplugImage& image, Word systemTypeCode) {
  const std::uint32_t end = ImageLength(image) - kTrailerWords;
  const Word words[] = {
      kBlockMark, 0x8000 | 16, 0x7831,          0x0001,
      kBlockMark, 0x4000 | 40, (15 << 11) | 20, static_cast<Word>(systemTypeCode << 12)};
  for (std::uint32_t i = 0; i < kTrailerWords; ++i)
    image[end + i] = i < 8 ? words[i] : static_cast<Word>(0xA000 + i);
}

// Every format pair, images ending at, just after and just before a 128-byte
// boundary: the trailing words (here reading like block headers) come out as
// they went in, and the byte count to send covers the whole converted image.
TEST(WholeImage, TrailingWordsTravelThroughEveryConversion) {
  auto scratch = std::make_unique<CodeplugImage>();
  for (std::uint8_t from = 3; from <= 5; ++from) {
    for (const std::size_t residue : {0u, 2u, 126u}) {
      for (std::uint8_t to = 3; to <= 5; ++to) {
        if (from == to) continue;
        BuiltImage built = BuildEndingAt(kVersions[from - 3], residue);
        CodeplugImage& image = *built.image;
        FillTrailerWithHeaders(image, 5);
        ASSERT_TRUE(ParmsImageIsValid(image));
        const auto before = Trailer(image);
        const ConversionResult result =
            ConvertCodeplugImage(image, built.byteCount, from, to, *scratch);
        const std::string what = std::to_string(from) + "->" + std::to_string(to) + " residue " +
                                 std::to_string(residue);
        ASSERT_TRUE(result.converted) << what << ": " << result.failure;
        EXPECT_EQ(Trailer(image), before) << what;
        EXPECT_EQ(result.byteCount, 2u * ImageLength(image)) << what;
        EXPECT_EQ(ParmsFormatIndex(image), to) << what;
      }
    }
  }
}

// A trailer that reads like a system-type block of a code the image has none
// of is not taken for one: no step rewrites its words (its table word above
// all), and the system numbering check does not count a system block there.
TEST(WholeImage, TrailerThatReadsLikeABlockIsNeverOne) {
  auto scratch = std::make_unique<CodeplugImage>();
  for (const auto& [from, to] : {std::pair<std::uint8_t, std::uint8_t>{4, 5}, {5, 4}, {3, 5}}) {
    BuiltImage built = Build(Shape(kVersions[from - 3], 1, 1, 0, 1, 0, 2, 11));  // no code 5
    CodeplugImage& image = *built.image;
    FillTrailerWithHeaders(image, 5);
    ASSERT_TRUE(ParmsImageIsValid(image));
    EXPECT_TRUE(SystemNumbersAreComplete(image));
    EXPECT_EQ(FindSystemTypeBlock(image, 5), 0);
    EXPECT_LT(FindSystemBlock(image, 1), ImageLength(image) - kTrailerWords);
    const auto before = Trailer(image);
    const ConversionResult result =
        ConvertCodeplugImage(image, built.byteCount, from, to, *scratch);
    ASSERT_TRUE(result.converted) << int(from) << "->" << int(to) << ": " << result.failure;
    EXPECT_EQ(Trailer(image), before) << int(from) << "->" << int(to);
    SetTableWordLayout(image, to < 5);
    EXPECT_EQ(Trailer(image), before);
  }
}

// A type-4 system block of exactly 319 words (every table empty) followed by
// a block of 256 words: the 5.10 pass's default for "block word 320" would
// land on that block's length word, whose low byte reads 0.
TEST(WholeImage, Fixup510WritesOnlyInsideAType4Block) {
  CodeplugShape shape = Shape(k510, 0, 0, 0, 1, 0, 1, 3);
  shape.maxRows = 0;
  BuiltImage built = Build(shape);
  CodeplugImage& image = *built.image;
  const std::uint16_t type4 = FindSystemBlock(image, 1);
  ASSERT_NE(type4, 0);
  ASSERT_EQ(GetBlockLength(image, type4), 319);
  const std::uint16_t group = FindGroupBlock(image, 1);
  ASSERT_EQ(group, type4 + 319);
  testing::ResizeTable(image, group, 5, 1, static_cast<std::uint8_t>(256 - 38));
  ASSERT_EQ(GetBlockLength(image, group), 256);
  ASSERT_TRUE(ParmsImageIsValid(image));
  const Word lengthWord = image[group + 1];

  EXPECT_EQ(ParmsFormat510Fixup(image), 0);
  EXPECT_EQ(image[group + 1], lengthWord);
  EXPECT_TRUE(ParmsImageIsValid(image));
}

// A 5.8 radio block of 64 words (tables empty, the favorites list declared
// with 0 rows) ends before radio word 70, which is then a word of the next
// block: the 5.9 step leaves it alone.
TEST(WholeImage, Word70OnlyInsideTheRadioBlock) {
  CodeplugShape shape = Shape(k58, 1, 0, 0, 0, 0, 1, 5);
  shape.maxRows = 0;
  BuiltImage built = Build(shape);
  CodeplugImage& image = *built.image;
  SetTableWordLayout(image, true);
  testing::ResizeTable(image, 0, 0, 0, 0);
  testing::ResizeTable(image, 0, 1, 0, 2);
  testing::ResizeTable(image, 0, 3, 0, 5);
  SetTableWordLayout(image, false);
  ASSERT_EQ(GetBlockLength(image, 0), 64);
  image[70] &= 0xFF00;  // word 6 of the code-0 system-type block, low byte 0
  ASSERT_TRUE(ParmsImageIsValid(image));

  // The next block keeps its word; a radio block long enough gets the default.
  auto scratch = std::make_unique<CodeplugImage>();
  const ConversionResult result = ConvertCodeplugImage(image, built.byteCount, 3, 4, *scratch);
  ASSERT_TRUE(result.converted) << result.failure;
  const std::uint16_t typeBlock = FindSystemTypeBlock(image, 0);
  ASSERT_NE(typeBlock, 0);
  EXPECT_EQ(image[typeBlock + 6] & 0xFF, 0);

  BuiltImage longer = Build(Shape(k58, 1, 0, 0, 0, 0, 1, 5));
  (*longer.image)[70] &= 0xFF00;
  ASSERT_TRUE(ConvertCodeplugImage(*longer.image, longer.byteCount, 3, 4, *scratch).converted);
  EXPECT_EQ((*longer.image)[70] & 0xFF, 60);
}

// Differential run over many random shapes and trailers: a conversion either
// gives a valid image of the target format with the trailer intact and a byte
// count covering it, or refuses and leaves the image as it was.
TEST(WholeImage, EveryConversionIsWholeAndValidOrRefused) {
  auto scratch = std::make_unique<CodeplugImage>();
  int converted = 0;
  for (std::uint32_t seed = 1; seed <= 150; ++seed) {
    const std::uint8_t from = 3 + seed % 3, to = 3 + (seed / 3) % 3;
    if (from == to) continue;
    CodeplugShape shape = Shape(kVersions[from - 3], seed % 2, (seed / 2) % 2, (seed / 4) % 2,
                                (seed / 8) % 3, (seed / 16) % 2, std::uint8_t(1 + seed % 4), seed);
    if (shape.systemsType0 + shape.systemsType1 + shape.systemsType3 + shape.systemsType4 +
            shape.systemsType5 ==
        0)
      shape.systemsType4 = 1;
    shape.maxRows = static_cast<std::uint8_t>(seed % 4);
    shape.variantCode = static_cast<std::uint8_t>(seed % 9);
    BuiltImage built = Build(shape);
    CodeplugImage& image = *built.image;
    FillTrailerWithHeaders(image, static_cast<Word>(seed % 6));
    const auto original = testing::Copy(image);
    const auto trailer = Trailer(image);
    const ConversionResult result =
        ConvertCodeplugImage(image, built.byteCount, from, to, *scratch);
    if (!result.converted) {
      EXPECT_EQ(image, *original) << "seed " << seed;
      continue;
    }
    ++converted;
    const ImageCheck check = CheckParmsImage(image);
    EXPECT_TRUE(check.valid) << "seed " << seed << ": " << check.reason;
    EXPECT_EQ(Trailer(image), trailer) << "seed " << seed;
    EXPECT_EQ(result.byteCount, 2u * ImageLength(image)) << "seed " << seed;
  }
  EXPECT_GT(converted, 80);
}

// An image that will not fit the buffer once converted is refused whole:
// two type-0 systems whose table 3 rows (255 of 36 words) 5.10 widens by 22.
TEST(WholeImage, RefusedConversionLeavesTheImage) {
  BuiltImage built = Build(Shape(k59, 2, 0, 0, 0, 0, 54, 3));
  CodeplugImage& image = *built.image;
  SetTableWordLayout(image, true);
  testing::ResizeTable(image, FindSystemBlock(image, 1), 3, 255, 36);
  testing::ResizeTable(image, FindSystemBlock(image, 2), 3, 255, 36);
  SetTableWordLayout(image, false);
  ASSERT_TRUE(ParmsImageIsValid(image));
  auto scratch = std::make_unique<CodeplugImage>();
  const auto original = testing::Copy(image);
  const ConversionResult result =
      ConvertCodeplugImage(image, 2u * ImageLength(image), 4, 5, *scratch);
  EXPECT_FALSE(result.converted);
  EXPECT_FALSE(result.failure.empty());
  EXPECT_EQ(result.byteCount, 0u);
  EXPECT_EQ(image, *original);
}

// FNV-1a over the image's words up to ImageLength.
std::uint64_t Fingerprint(const CodeplugImage& image, std::size_t byteCount) {
  std::uint64_t h = 1469598103934665603ull;
  for (std::size_t i = 0; i < byteCount / 2; ++i) {
    h = (h ^ (image[i] & 0xFF)) * 1099511628211ull;
    h = (h ^ (image[i] >> 8)) * 1099511628211ull;
  }
  return h;
}

// The same seed gives the same bytes whatever compiled the builder: these
// fingerprints hold for gcc and clang builds alike (the 5.8 shape with type-5
// systems draws two numbers per bit-map row; every shape shuffles systems).
TEST(CodeplugBuilder, SameSeedSameImageWithEveryCompiler) {
  struct Case {
    CodeplugShape shape;
    std::uint64_t fingerprint;
  };
  CodeplugShape s58 = Shape(k58, 1, 1, 1, 1, 2, 2, 1);
  s58.maxRows = 6;
  const Case cases[] = {
      // `bcu codeplug sample --seed 1`, the virtual radio's 5.9 image
      {CodeplugShape{}, 14121279585329255183ull},
      {Shape(k510, 2, 1, 1, 1, 1, 3, 42), 3559301220147745481ull},
      {s58, 7648829191337701951ull},
  };
  for (const Case& c : cases) {
    BuiltImage built = Build(c.shape);
    EXPECT_EQ(Fingerprint(*built.image, built.byteCount), c.fingerprint)
        << "format " << int(c.shape.version.minor) << " seed " << c.shape.seed;
  }
}

}  // namespace
}  // namespace bcu::codeplug
