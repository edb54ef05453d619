// Every byte a conversion leaves in the buffer, pinned: each format pair both
// ways, the refresh of an image already in its format, tables that grow
// (rows appended, rows widened, index tables built) and shrink (rows cut,
// tables emptied, the 5.10 cap on type-3 table 11), the image filling most of
// the buffer, and words after the image that are not zero. The digests cover
// the whole 64 KiB buffer, the growth and the byte count, so a faster way of
// moving words that changed any of them fails here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "codeplug/Blocks.h"
#include "codeplug/CodeplugBuilder.h"
#include "codeplug/CodeplugConversion.h"
#include "codeplug/FormatVersion.h"
#include "codeplug/ParmsFormatChain.h"
#include "codeplug/TableAccess.h"
#include "support/CodeplugImages.h"

namespace bcu::codeplug {
namespace {

using testing::Shape;

// FNV-1a over the buffer's bytes in host order, then the result's numbers.
std::uint64_t Digest(const CodeplugImage& image, const ConversionResult& r) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  const auto mix = [&h](std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      h ^= (v >> (8 * i)) & 0xFF;
      h *= 0x100000001b3ull;
    }
  };
  for (const Word w : image) mix(w, 2);
  mix(r.converted ? 1 : 0, 1);
  mix(static_cast<std::uint32_t>(r.growth), 4);
  mix(static_cast<std::uint32_t>(r.fixupGrowth), 4);
  mix(r.byteCount, 4);
  return h;
}

struct Case {
  const char* name;
  CodeplugShape shape;
  // Words after the image: 0 leaves the builder's zeros, else a pattern
  // from this seed up to the end of the buffer.
  Word tailPattern = 0;
  // Rows of type-3 table 11 in a 5.10 image (0: as built), for the cap.
  std::uint8_t table11Rows = 0;
};

CodeplugShape Big(FormatVersion v, std::uint8_t rows) {
  CodeplugShape s;
  s.version = v;
  s.systemsType0 = 4;
  s.systemsType1 = s.systemsType3 = s.systemsType4 = s.systemsType5 = 3;
  s.groups = 54;
  s.maxRows = rows;
  s.seed = 1;
  return s;
}

CodeplugShape With(CodeplugShape s, std::uint8_t variant, std::uint8_t maxRows) {
  s.variantCode = variant;
  s.maxRows = maxRows;
  return s;
}

std::vector<Case> Cases(FormatVersion v) {
  std::vector<Case> cases = {
      {"one of each", Shape(v, 1, 1, 1, 1, 1, 2, 1)},
      {"several type 0, variant 8", With(Shape(v, 3, 1, 1, 2, 1, 5, 7), 8, 6)},
      {"variant 4, many rows", With(Shape(v, 1, 2, 2, 3, 2, 9, 11), 4, 20)},
      {"variant 1, empty tables", With(Shape(v, 1, 1, 1, 1, 1, 3, 5), 1, 0)},
      {"types 1 and 3 only", With(Shape(v, 0, 2, 2, 0, 0, 4, 3), 6, 9)},
      {"type 5 only", With(Shape(v, 0, 0, 0, 0, 3, 1, 9), 5, 12)},
      {"large", Big(v, 5)},
      {"words after the image", With(Shape(v, 2, 1, 1, 1, 2, 6, 21), 8, 8), 0x1357},
      {"large, words after the image", Big(v, 4), 0x2468},
  };
  if (v == FormatVersion{5, 10}) {
    cases.push_back(
        {"type-3 table 11 over 16 rows", With(Shape(v, 1, 0, 2, 1, 0, 3, 4), 0, 3), 0, 19});
  }
  return cases;
}

// A built image, adjusted as the case asks; false when the builder refused.
bool Prepare(const Case& c, CodeplugImage& image, std::size_t& bytes) {
  if (!BuildCodeplug(c.shape, image, bytes)) return false;
  if (c.table11Rows) {
    const std::uint16_t block = [&] {
      for (std::uint16_t n = 1; n <= SystemBlockCount(image); ++n)
        if (GetSystemType(image, n) == 3) return FindSystemBlock(image, n);
      return std::uint16_t{0};
    }();
    if (block == 0) return false;
    testing::ResizeTable(image, block, 11, c.table11Rows, 64, 0x3000);
    bytes = 2u * ImageLength(image);
  }
  if (c.tailPattern) {
    Word w = c.tailPattern;
    for (std::uint32_t i = ImageLength(image); i < kImageWords; ++i) {
      w = static_cast<Word>(w * 31 + 7);
      image[i] = w;
    }
  }
  return true;
}

struct Golden {
  std::uint8_t from, to;
  const char* name;
  std::uint64_t digest;
};

// Taken from the conversion as it was before its moves were made faster.
const Golden kGolden[] = {
    {3, 3, "one of each", 0x6e80cd174954b7e0ull},
    {3, 4, "one of each", 0xd22f5e67b98b74a1ull},
    {3, 5, "one of each", 0xe398f0b54dc4e6a9ull},
    {3, 3, "several type 0, variant 8", 0xb3115cb827e287abull},
    {3, 4, "several type 0, variant 8", 0xece8f5f78677a130ull},
    {3, 5, "several type 0, variant 8", 0x785e81adab1b5c7aull},
    {3, 3, "variant 4, many rows", 0xa66b9a279e108403ull},
    {3, 4, "variant 4, many rows", 0xf782c212a197a660ull},
    {3, 5, "variant 4, many rows", 0x499a8a9f0302e319ull},
    {3, 3, "variant 1, empty tables", 0x38cd7d5b34152731ull},
    {3, 4, "variant 1, empty tables", 0x41199386a93ef528ull},
    {3, 5, "variant 1, empty tables", 0x5d3f038ec3c9dca0ull},
    {3, 3, "types 1 and 3 only", 0x81c2b78b564eb1c1ull},
    {3, 4, "types 1 and 3 only", 0xdbeabcee5506e1e9ull},
    {3, 5, "types 1 and 3 only", 0xab56808e99a956f7ull},
    {3, 3, "type 5 only", 0xd5be7be18bf31d60ull},
    {3, 4, "type 5 only", 0x4b55ff393b5d26d0ull},
    {3, 5, "type 5 only", 0x0f5627531a4e949full},
    {3, 3, "large", 0x08f44c38bb6f78dcull},
    {3, 4, "large", 0xdb8340c34a132e0full},
    {3, 5, "large", 0xb3a07fded97cc75aull},
    {3, 3, "words after the image", 0x08c2c7b98e4402f0ull},
    {3, 4, "words after the image", 0xd93f8ff5396cc16eull},
    {3, 5, "words after the image", 0x9f9913384e6a54ecull},
    {3, 3, "large, words after the image", 0x1b33b58f4ebeb38eull},
    {3, 4, "large, words after the image", 0xd447f634685ee426ull},
    {3, 5, "large, words after the image", 0x88c20254b5d24046ull},
    {4, 3, "one of each", 0x461c9970e0a60cdcull},
    {4, 4, "one of each", 0x9e9cc62251cbdb7eull},
    {4, 5, "one of each", 0xda47c209cb68f449ull},
    {4, 3, "several type 0, variant 8", 0xf1aad4c63e3a2043ull},
    {4, 4, "several type 0, variant 8", 0x773ad2b568914968ull},
    {4, 5, "several type 0, variant 8", 0xff6a0f8ca92dbac0ull},
    {4, 3, "variant 4, many rows", 0x57de0cd21c9e34d4ull},
    {4, 4, "variant 4, many rows", 0xde3d0dbcac0a64aaull},
    {4, 5, "variant 4, many rows", 0x6744dbfcbc9f82fbull},
    {4, 3, "variant 1, empty tables", 0x0cc02ceca7b4831bull},
    {4, 4, "variant 1, empty tables", 0x066f5a9248fc483dull},
    {4, 5, "variant 1, empty tables", 0x9bd742c4a9a06020ull},
    {4, 3, "types 1 and 3 only", 0xfc70915ec1df72e6ull},
    {4, 4, "types 1 and 3 only", 0x808e9ee9e65795fcull},
    {4, 5, "types 1 and 3 only", 0x544a91f909a4578full},
    {4, 3, "type 5 only", 0x63d8977d3c3f9c80ull},
    {4, 4, "type 5 only", 0xd48a138d752d9e61ull},
    {4, 5, "type 5 only", 0x6fee558fd4575139ull},
    {4, 3, "large", 0xd5cf97e6df9ca54aull},
    {4, 4, "large", 0x2afa0eb46ef76affull},
    {4, 5, "large", 0x612e2662f8defc95ull},
    {4, 3, "words after the image", 0x134ea619b1a82913ull},
    {4, 4, "words after the image", 0x24179f24afa0d715ull},
    {4, 5, "words after the image", 0x47ea743e906a58baull},
    {4, 3, "large, words after the image", 0x84f92cab0fdd5e03ull},
    {4, 4, "large, words after the image", 0x575c94168f7d9057ull},
    {4, 5, "large, words after the image", 0x6835d5913574ca12ull},
    {5, 3, "one of each", 0x4dbb9840a4ae18bcull},
    {5, 4, "one of each", 0xec455050f82c3f8cull},
    {5, 5, "one of each", 0x4e09f309eaf27e4aull},
    {5, 3, "several type 0, variant 8", 0x5d4caecc81de508full},
    {5, 4, "several type 0, variant 8", 0xef82ec918339bb76ull},
    {5, 5, "several type 0, variant 8", 0xf465fe7a58d852d3ull},
    {5, 3, "variant 4, many rows", 0x72643a7a334797acull},
    {5, 4, "variant 4, many rows", 0x91a5e180dab35a54ull},
    {5, 5, "variant 4, many rows", 0xdd142d85d861ccf2ull},
    {5, 3, "variant 1, empty tables", 0x355e8dc4ac5a8a53ull},
    {5, 4, "variant 1, empty tables", 0x2369a46b145b87ceull},
    {5, 5, "variant 1, empty tables", 0x0b0373c3fd93cd55ull},
    {5, 3, "types 1 and 3 only", 0xb033c2ea469e4c8eull},
    {5, 4, "types 1 and 3 only", 0xc8a4e82a21b43290ull},
    {5, 5, "types 1 and 3 only", 0xdffbf063ca41d931ull},
    {5, 3, "type 5 only", 0xcebce70c8eb8de8cull},
    {5, 4, "type 5 only", 0xa2a03a4cfe77578bull},
    {5, 5, "type 5 only", 0x13902afa32c4c1faull},
    {5, 3, "large", 0xf2b1184c23b817e6ull},
    {5, 4, "large", 0x73d97352f2a4407bull},
    {5, 5, "large", 0xaccd1553b795036eull},
    {5, 3, "words after the image", 0x20c4ab3eee8b3590ull},
    {5, 4, "words after the image", 0xc446cbda02f08534ull},
    {5, 5, "words after the image", 0x4ff8995345e0b8daull},
    {5, 3, "large, words after the image", 0x47c2c65dba7048b2ull},
    {5, 4, "large, words after the image", 0x5093f5e619c0dcc2ull},
    {5, 5, "large, words after the image", 0x8df769797fc46f0aull},
    {5, 3, "type-3 table 11 over 16 rows", 0xb95154d5922ed96aull},
    {5, 4, "type-3 table 11 over 16 rows", 0x07fe3f73271e911bull},
    {5, 5, "type-3 table 11 over 16 rows", 0x2c96df4477cd6926ull},
};

std::uint64_t Expected(std::uint8_t from, std::uint8_t to, const std::string& name) {
  for (const Golden& g : kGolden)
    if (g.from == from && g.to == to && name == g.name) return g.digest;
  return 0;
}

TEST(ConversionGolden, EveryPairKeepsEveryByte) {
  const FormatVersion versions[] = {{5, 8}, {5, 9}, {5, 10}};
  auto image = std::make_unique<CodeplugImage>();
  auto scratch = std::make_unique<CodeplugImage>();
  std::string table;
  int compared = 0;
  for (const FormatVersion from : versions) {
    for (const Case& c : Cases(from)) {
      for (const FormatVersion to : versions) {
        std::size_t bytes = 0;
        ASSERT_TRUE(Prepare(c, *image, bytes)) << c.name;
        const std::uint8_t fi = ParmsFormatIndexOf(from.major, from.minor);
        const std::uint8_t ti = ParmsFormatIndexOf(to.major, to.minor);
        ConversionResult result;
        if (fi == ti) {
          // The refresh of an image already in the target format.
          std::int32_t growth = 0;
          result.converted = ParmsFormatUpgrade(growth, *image, fi, ti, *scratch);
          result.growth = growth;
        } else {
          result = ConvertCodeplugImage(*image, bytes, fi, ti, *scratch);
          EXPECT_TRUE(result.converted) << c.name << ": " << result.failure;
        }
        const std::uint64_t digest = Digest(*image, result);
        char line[160];
        std::snprintf(line, sizeof line, "    {%u, %u, \"%s\", 0x%016llxull},\n", fi, ti, c.name,
                      static_cast<unsigned long long>(digest));
        table += line;
        const std::uint64_t expected = Expected(fi, ti, c.name);
        EXPECT_EQ(expected, digest) << c.name << ", " << int{fi} << " -> " << int{ti};
        ++compared;
      }
    }
  }
  EXPECT_EQ(compared, static_cast<int>(std::size(kGolden)));
  if (::testing::Test::HasFailure()) std::printf("The digests of this build:\n%s", table.c_str());
}

}  // namespace
}  // namespace bcu::codeplug
