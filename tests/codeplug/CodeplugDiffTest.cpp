// Comparing two codeplug images in the terms of their layout: every word of
// an image is compared and named by its place (block, table, row, field,
// trailing word); tables and rows that grow or shrink, blocks that come or go;
// images of every format pair, with the check that B is what converting A
// gives; older formats, invalid and unreadable images.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "codeplug/Blocks.h"
#include "codeplug/CodeplugConversion.h"
#include "codeplug/CodeplugDiff.h"
#include "codeplug/CodeplugDiffReport.h"
#include "codeplug/Moves.h"
#include "codeplug/TableAccess.h"
#include "codeplug/TableWordLayout.h"
#include "codeplug/Validity.h"
#include "support/CodeplugImages.h"

namespace bcu::codeplug {
namespace {

using testing::Build;
using testing::BuiltImage;
using testing::Copy;
using testing::ResizeTable;
using testing::Shape;

constexpr FormatVersion k58{5, 8}, k59{5, 9}, k510{5, 10};

// An image of every block kind and system type.
BuiltImage Full(FormatVersion version, std::uint32_t seed = 7) {
  return Build(Shape(version, 1, 1, 1, 1, 1, 2, seed));
}

// A converted copy of the image, as an update converts it.
std::unique_ptr<CodeplugImage> Converted(const BuiltImage& built, std::uint8_t to) {
  auto image = Copy(*built.image);
  auto scratch = std::make_unique<CodeplugImage>();
  const ConversionResult r =
      ConvertCodeplugImage(*image, built.byteCount, ParmsFormatIndex(*image), to, *scratch);
  EXPECT_TRUE(r.converted) << r.failure;
  return image;
}

// Gives table k of group `ordinal` `rows` rows of `size` words, in either
// table word layout.
void GroupTableRows(CodeplugImage& image, std::uint16_t ordinal, std::uint32_t k, std::uint8_t rows,
                    std::uint8_t size) {
  const bool narrow = !ImageUsesWideLayout(image);
  if (narrow) SetTableWordLayout(image, true);
  ResizeTable(image, FindGroupBlock(image, ordinal), k, rows, size, 0x2000);
  if (narrow) SetTableWordLayout(image, false);
  ASSERT_TRUE(ParmsImageIsValid(image));
}

// The sizes of an image's parts add up: B's length minus A's is what only B
// holds minus what only A holds.
void ExpectCountsAddUp(const CodeplugImage& a, const CodeplugImage& b, const CodeplugDiff& d) {
  EXPECT_EQ(std::int64_t{ImageLength(b)} - ImageLength(a),
            std::int64_t{d.counts.wordsAdded} - d.counts.wordsDropped);
}

// The positions whose words shape the chain of blocks: each block's mark,
// length and table word, its directory entries, and ImageLength.
std::vector<bool> StructuralWords(const CodeplugImage& image) {
  auto wide = Copy(image);
  if (!ImageUsesWideLayout(image)) SetTableWordLayout(*wide, true);
  std::vector<bool> structural(kImageWords, false);
  // The format version decides the table word layout.
  structural[kWordFormatVersion] = structural[kWordImageLength] = true;
  for (std::uint32_t pos = 0; pos < BlocksEnd(*wide); pos += LengthOfBlock(*wide, pos)) {
    structural[pos] = structural[pos + 1] = structural[pos + 2] = true;
    const TableWord t = GetTableWord(*wide, static_cast<std::uint16_t>(pos));
    for (std::uint32_t k = 0; k < t.count; ++k) structural[pos + t.offset + k] = true;
  }
  return structural;
}

// Where in image A the one word change of `d` lies, from its layout terms.
std::uint32_t PositionInA(const CodeplugImage& a, const CodeplugDiff& d) {
  auto wide = Copy(a);
  if (!ImageUsesWideLayout(a)) SetTableWordLayout(*wide, true);
  if (d.blocks.empty()) return BlocksEnd(a) + d.trailingWords.changed.at(0).index;
  const BlockDiff& block = d.blocks.at(0);
  const auto at = static_cast<std::uint16_t>(block.a.position);
  if (!block.fixed.Same()) return at + block.fixed.changed.at(0).index;
  if (!block.tables.empty()) {
    const TableDiff& t = block.tables.at(0);
    return TableStart(*wide, at, t.table) + t.rows.at(0).row * t.a.size +
           t.rows.at(0).fields.changed.at(0).index;
  }
  return TablesEnd(*wide, at, true) + block.afterTables.changed.at(0).index;
}

TEST(CodeplugDiff, ImageAgainstItselfIsTheSame) {
  for (const FormatVersion v : {k58, k59, k510}) {
    const BuiltImage a = Full(v);
    const auto b = Copy(*a.image);
    const CodeplugComparison c = CompareCodeplugImages(*a.image, a.byteCount, *b);
    EXPECT_TRUE(c.diff.Same());
    EXPECT_TRUE(c.Matches());
    EXPECT_EQ(c.diff.counts.blocksCompared, c.diff.a.blocks);
    EXPECT_EQ(c.diff.counts.blocksDiffering, 0u);
    EXPECT_EQ(c.conversion.status, ConversionCheckStatus::kSameFormat);
  }
}

// Every word of the image, one at a time: a word of a block's fixed part,
// table or tail, or of the trailing words, gives exactly one changed word,
// named where it lies; a word that shapes the chain never goes unseen.
TEST(CodeplugDiff, EveryWordIsComparedAndNamedWhereItLies) {
  for (const FormatVersion v : {k58, k510}) {
    BuiltImage a = Full(v, 3);
    // Group 2 gets two words after its last table.
    const std::uint16_t group = FindGroupBlock(*a.image, 2);
    const std::uint32_t end = group + LengthOfBlock(*a.image, group);
    MoveTail(*a.image, end + 2, end);
    (*a.image)[end] = 0x1111;
    (*a.image)[end + 1] = 0x2222;
    SetBlockLength(*a.image, group, static_cast<std::uint16_t>(end + 2 - group));
    (*a.image)[kWordImageLength] = static_cast<Word>(ImageLength(*a.image) + 2);
    ASSERT_TRUE(ParmsImageIsValid(*a.image));
    const std::vector<bool> structural = StructuralWords(*a.image);
    auto b = Copy(*a.image);
    for (std::uint32_t p = 0; p < ImageLength(*a.image); ++p) {
      (*b)[p] ^= 0x0100;
      const CodeplugDiff d = DiffCodeplugImages(*a.image, *b);
      if (structural[p]) {
        EXPECT_FALSE(d.Same()) << "word " << p;
      } else {
        ASSERT_TRUE(d.compared) << "word " << p;
        EXPECT_EQ(d.counts.wordsChanged, 1u) << "word " << p;
        EXPECT_EQ(d.counts.wordsAdded + d.counts.wordsDropped, 0u) << "word " << p;
        EXPECT_EQ(PositionInA(*a.image, d), p) << "word " << p;
      }
      (*b)[p] = (*a.image)[p];
    }
  }
}

// Gives every row of table k of the block `extra` more words at its end (or,
// with a negative `extra`, fewer); the new words are `fill`.
void ResizeRows(CodeplugImage& image, std::uint16_t block, std::uint32_t k, int extra,
                Word fill = 0) {
  std::uint8_t rows = 0, size = 0;
  const std::uint32_t start = TableStart(image, block, k, &rows, &size);
  const int newSize = size + extra;
  std::vector<Word> words;
  for (std::uint32_t r = 0; r < rows; ++r)
    for (int f = 0; f < newSize; ++f)
      words.push_back(f < size ? image[start + r * size + f] : fill);
  ResizeTable(image, block, k, rows, static_cast<std::uint8_t>(newSize));
  std::copy(words.begin(), words.end(), image.begin() + start);
}

// Rows added and dropped at a table's end, and rows that grow or shrink: the
// table says its new shape, rows one image lacks are listed with their words,
// and of rows both hold only those with more than new zero fields.
TEST(CodeplugDiff, TablesThatGrowOrShrink) {
  BuiltImage a = Full(k510, 5);
  const std::uint16_t group = FindGroupBlock(*a.image, 1);
  GroupTableRows(*a.image, 1, 2, 3, 13);
  const std::uint8_t rows = 3;

  // Two more rows.
  auto b = Copy(*a.image);
  const std::vector<Word> kept = testing::TableWords(*a.image, group, 2);
  ResizeTable(*b, group, 2, static_cast<std::uint8_t>(rows + 2), 13, 0x4000);
  std::copy(kept.begin(), kept.end(), b->begin() + TableStart(*b, group, 2));
  CodeplugDiff d = DiffCodeplugImages(*a.image, *b);
  ASSERT_EQ(d.blocks.size(), 2u);  // the radio block's ImageLength, the group
  EXPECT_EQ(d.blocks[0].id.kind, kRadioBlock);
  const BlockDiff& g = d.blocks[1];
  EXPECT_EQ(g.id.kind, kGroupBlock);
  EXPECT_EQ(g.id.key, 1);
  EXPECT_EQ(g.b.length, g.a.length + 2 * 13);
  ASSERT_EQ(g.tables.size(), 1u);
  EXPECT_EQ(g.tables[0].table, 2u);
  EXPECT_EQ(g.tables[0].a.rows, rows);
  EXPECT_EQ(g.tables[0].b.rows, rows + 2);
  ASSERT_EQ(g.tables[0].rows.size(), 2u);
  EXPECT_EQ(g.tables[0].rows[0].row, rows);
  EXPECT_EQ(g.tables[0].rows[0].presence, Presence::kOnlyB);
  EXPECT_EQ(g.tables[0].rows[0].fields.added.size(), 13u);
  EXPECT_EQ(g.tables[0].rows[1].fields.added[0], 0x4000 + kept.size() + 13);
  EXPECT_EQ(d.counts.rowsAdded, 2u);
  EXPECT_EQ(d.counts.wordsAdded, 26u);
  EXPECT_EQ(d.counts.wordsChanged, 1u);  // ImageLength
  ExpectCountsAddUp(*a.image, *b, d);

  // The other way round the same rows are dropped.
  d = DiffCodeplugImages(*b, *a.image);
  ASSERT_EQ(d.blocks.size(), 2u);
  EXPECT_EQ(d.blocks[1].tables[0].rows[0].presence, Presence::kOnlyA);
  EXPECT_EQ(d.blocks[1].tables[0].rows[0].fields.dropped.size(), 13u);
  EXPECT_EQ(d.counts.rowsDropped, 2u);
  ExpectCountsAddUp(*b, *a.image, d);

  // Rows three words longer, new words 0: the table says so, no row is listed.
  b = Copy(*a.image);
  ResizeRows(*b, group, 2, 3);
  d = DiffCodeplugImages(*a.image, *b);
  ASSERT_EQ(d.blocks.size(), 2u);
  ASSERT_EQ(d.blocks[1].tables.size(), 1u);
  EXPECT_EQ(d.blocks[1].tables[0].b.size, 16);
  EXPECT_TRUE(d.blocks[1].tables[0].rows.empty());
  EXPECT_EQ(d.counts.wordsAdded, 3u * rows);
  ExpectCountsAddUp(*a.image, *b, d);

  // A row with a value in a new field is listed with its new fields.
  const std::uint32_t start = TableStart(*b, group, 2);
  (*b)[start + 16 + 14] = 0x0007;  // row 1, field 14
  d = DiffCodeplugImages(*a.image, *b);
  ASSERT_EQ(d.blocks[1].tables[0].rows.size(), 1u);
  const RowDiff& row = d.blocks[1].tables[0].rows[0];
  EXPECT_EQ(row.row, 1u);
  EXPECT_EQ(row.fields.extraFrom, 13u);
  EXPECT_EQ(row.fields.added, (std::vector<Word>{0, 0x0007, 0}));

  // Rows cut short lose their last words, and the rows say which.
  b = Copy(*a.image);
  ResizeRows(*b, group, 2, -2);
  d = DiffCodeplugImages(*a.image, *b);
  ASSERT_EQ(d.blocks[1].tables[0].rows.size(), rows);
  for (std::uint32_t r = 0; r < rows; ++r) {
    EXPECT_EQ(d.blocks[1].tables[0].rows[r].fields.extraFrom, 11u);
    EXPECT_EQ(d.blocks[1].tables[0].rows[r].fields.dropped,
              (std::vector<Word>{kept[r * 13 + 11], kept[r * 13 + 12]}));
  }
  ExpectCountsAddUp(*a.image, *b, d);
}

// A group block more in B: listed as added with all its words; the blocks
// before it are paired, whatever their positions.
TEST(CodeplugDiff, BlocksAddedAndDropped) {
  const BuiltImage two = Build(Shape(k59, 1, 1, 1, 1, 1, 2, 9));
  const BuiltImage three = Build(Shape(k59, 1, 1, 1, 1, 1, 3, 9));
  CodeplugDiff d = DiffCodeplugImages(*two.image, *three.image);
  ASSERT_TRUE(d.compared);
  EXPECT_EQ(d.counts.blocksAdded, 1u);
  EXPECT_EQ(d.counts.blocksDropped, 0u);
  ASSERT_EQ(d.blocks.size(), 2u);
  EXPECT_EQ(d.blocks[0].id.kind, kRadioBlock);
  std::vector<std::uint32_t> words;
  for (const WordChange& c : d.blocks[0].fixed.changed) words.push_back(c.index);
  EXPECT_EQ(words, (std::vector<std::uint32_t>{kWordImageLength, kWordBlockCounts}));
  const BlockDiff& added = d.blocks[1];
  EXPECT_EQ(added.id.kind, kGroupBlock);
  EXPECT_EQ(added.id.key, 3);
  EXPECT_EQ(added.presence, Presence::kOnlyB);
  EXPECT_EQ(added.b.position, FindGroupBlock(*three.image, 3));
  EXPECT_EQ(added.tables.size(), 15u);
  ExpectCountsAddUp(*two.image, *three.image, d);
  EXPECT_FALSE(d.trailingWords.Same());  // drawn after the blocks

  d = DiffCodeplugImages(*three.image, *two.image);
  EXPECT_EQ(d.counts.blocksDropped, 1u);
  EXPECT_EQ(d.blocks[1].presence, Presence::kOnlyA);
  ExpectCountsAddUp(*three.image, *two.image, d);
}

// Each format pair: B converted from A differs from it as the conversion
// says, and the check finds B to be exactly A converted. A setting B does
// not hold as the conversion gives it is named.
TEST(CodeplugDiff, FormatPairsAndTheConversionCheck) {
  const FormatVersion versions[] = {k58, k59, k510};
  for (std::uint8_t from = 3; from <= 5; ++from) {
    for (std::uint8_t to = 3; to <= 5; ++to) {
      if (from == to) continue;
      const std::string what = std::to_string(from) + "->" + std::to_string(to);
      BuiltImage a = Full(versions[from - 3], 11);
      GroupTableRows(*a.image, 2, 2, 2, 13);
      const auto b = Converted(a, to);
      CodeplugComparison c = CompareCodeplugImages(*a.image, a.byteCount, *b);
      ASSERT_TRUE(c.diff.compared) << what;
      EXPECT_FALSE(c.diff.Same()) << what;
      EXPECT_EQ(c.conversion.status, ConversionCheckStatus::kCompared) << what;
      EXPECT_TRUE(c.conversion.Carried()) << what;
      EXPECT_TRUE(c.Matches()) << what;
      EXPECT_EQ(c.conversion.growth, ImageLength(*b) - ImageLength(*a.image)) << what;
      ExpectCountsAddUp(*a.image, *b, c.diff);

      // A setting every conversion carries: group 2, table 2, row 0, field 5.
      const std::uint16_t group = FindGroupBlock(*b, 2);
      auto wide = Copy(*b);
      if (to < 5) SetTableWordLayout(*wide, true);
      std::uint8_t rows = 0;
      const std::uint32_t field = TableStart(*wide, group, 2, &rows) + 5;
      ASSERT_GT(rows, 0) << what;
      (*b)[field] ^= 0x00F0;
      c = CompareCodeplugImages(*a.image, a.byteCount, *b);
      EXPECT_FALSE(c.Matches()) << what;
      const CodeplugDiff& left = c.conversion.remaining;
      ASSERT_EQ(left.blocks.size(), 1u) << what;
      EXPECT_EQ(left.blocks[0].id.kind, kGroupBlock) << what;
      EXPECT_EQ(left.blocks[0].id.key, 2) << what;
      ASSERT_EQ(left.blocks[0].tables.size(), 1u) << what;
      EXPECT_EQ(left.blocks[0].tables[0].table, 2u) << what;
      ASSERT_EQ(left.blocks[0].tables[0].rows.size(), 1u) << what;
      EXPECT_EQ(left.blocks[0].tables[0].rows[0].row, 0u) << what;
      ASSERT_EQ(left.blocks[0].tables[0].rows[0].fields.changed.size(), 1u) << what;
      const WordChange& change = left.blocks[0].tables[0].rows[0].fields.changed[0];
      EXPECT_EQ(change.index, 5u) << what;
      EXPECT_EQ(change.a ^ change.b, 0x00F0) << what;
    }
  }
}

// 5.9 to 5.10 in the layout's terms: the radio block's 20 new fixed words and
// its table 1 of 64 rows, the new directory entries of type 1, 3 and 4
// systems, longer rows, and index tables filled from their source tables.
TEST(CodeplugDiff, Upgrade59To510InLayoutTerms) {
  const BuiltImage a = Build(Shape(k59, 0, 1, 0, 1, 0, 1, 21));
  const auto b = Converted(a, 5);
  const CodeplugDiff d = DiffCodeplugImages(*a.image, *b);
  ASSERT_TRUE(d.compared);
  EXPECT_FALSE(d.a.wideLayout);
  EXPECT_TRUE(d.b.wideLayout);
  const auto find = [&](BlockKind kind, std::uint16_t key) -> const BlockDiff& {
    for (const BlockDiff& block : d.blocks)
      if (block.id.kind == kind && block.id.key == key) return block;
    ADD_FAILURE() << "no block " << kind << "/" << key;
    return d.blocks.at(0);
  };
  const auto table = [](const BlockDiff& block, std::uint32_t k) -> const TableDiff* {
    for (const TableDiff& t : block.tables)
      if (t.table == k) return &t;
    return nullptr;
  };

  const BlockDiff& radio = find(kRadioBlock, 0);
  EXPECT_EQ(radio.a.tableWord.offset, 49);
  EXPECT_EQ(radio.b.tableWord.offset, 69);
  EXPECT_EQ(radio.fixed.extraFrom, 49u);
  EXPECT_EQ(radio.fixed.added.size(), 20u);
  const TableDiff* t1 = table(radio, 1);
  ASSERT_NE(t1, nullptr);
  EXPECT_EQ(t1->a.rows, 16);
  EXPECT_EQ(t1->b.rows, 64);
  EXPECT_EQ(t1->rows.size(), 48u);

  const std::uint16_t type1 = GetSystemType(*a.image, 1) == 1 ? 1 : 2;
  const BlockDiff& sys1 = find(kSystemBlock, type1);
  EXPECT_EQ(sys1.SystemTypeA(), 1);
  EXPECT_EQ(sys1.a.tableWord.count, 15);
  EXPECT_EQ(sys1.b.tableWord.count, 17);
  for (const std::uint32_t k : {15u, 16u}) {
    const TableDiff* t = table(sys1, k);
    ASSERT_NE(t, nullptr) << k;
    EXPECT_EQ(t->presence, Presence::kOnlyB) << k;
  }
  const TableDiff* t5 = table(sys1, 5);
  ASSERT_NE(t5, nullptr);
  EXPECT_EQ(t5->a.size, 4);
  EXPECT_EQ(t5->b.size, 5);
  const TableDiff* index = table(sys1, 10);
  ASSERT_NE(index, nullptr);
  EXPECT_EQ(index->b.rows, t5->a.rows);
  EXPECT_EQ(index->b.size, 3);
  EXPECT_EQ(index->rows.size(), t5->a.rows);  // every row added

  const BlockDiff& sys4 = find(kSystemBlock, type1 == 1 ? 2 : 1);
  EXPECT_EQ(sys4.b.tableWord.count, 21);
  const BlockDiff& group = find(kGroupBlock, 1);
  const TableDiff* g0 = table(group, 0);
  ASSERT_NE(g0, nullptr);
  EXPECT_EQ(g0->a.size, 17);
  EXPECT_EQ(g0->b.size, 18);
  ExpectCountsAddUp(*a.image, *b, d);
}

// Formats before 5.8 and unknown ones compare in the narrow layout; the check
// says they do not convert. A readable image that fails the validity check is
// compared and said to be invalid; one whose chain breaks is not compared.
TEST(CodeplugDiff, OtherFormatsInvalidAndUnreadableImages) {
  const BuiltImage a = Full(k58, 2);
  for (const Word version : {Word{0x0507}, Word{0x0505}, Word{0x0604}}) {
    auto old = Copy(*a.image);
    (*old)[kWordFormatVersion] = version;
    const CodeplugComparison c = CompareCodeplugImages(*old, a.byteCount, *a.image);
    ASSERT_TRUE(c.diff.compared) << version;
    EXPECT_FALSE(c.diff.a.wideLayout);
    ASSERT_EQ(c.diff.blocks.size(), 1u) << version;
    ASSERT_EQ(c.diff.blocks[0].fixed.changed.size(), 1u) << version;
    EXPECT_EQ(c.diff.blocks[0].fixed.changed[0].index, kWordFormatVersion);
    EXPECT_EQ(c.conversion.status, ConversionCheckStatus::kNotConvertible) << version;
    EXPECT_FALSE(c.Matches());
  }

  // One system block more than the counts say: compared, B invalid.
  auto counted = Copy(*a.image);
  (*counted)[kWordBlockCounts] = static_cast<Word>((*counted)[kWordBlockCounts] + 1);
  CodeplugComparison c = CompareCodeplugImages(*a.image, a.byteCount, *counted);
  ASSERT_TRUE(c.diff.compared);
  EXPECT_TRUE(c.diff.a.valid);
  EXPECT_FALSE(c.diff.b.valid);
  EXPECT_FALSE(c.diff.b.invalidReason.empty());
  EXPECT_EQ(c.diff.counts.wordsChanged, 1u);
  // An invalid A is not converted, as an update does not convert it.
  const auto b510 = Converted(a, 5);
  c = CompareCodeplugImages(*counted, a.byteCount, *b510);
  EXPECT_EQ(c.conversion.status, ConversionCheckStatus::kNotConvertible);
  EXPECT_NE(c.conversion.reason.find("invalid"), std::string::npos);

  // A block mark gone: not compared, and the summary says why.
  auto broken = Copy(*a.image);
  (*broken)[FindGroupBlock(*broken, 1)] = 0x1234;
  c = CompareCodeplugImages(*a.image, a.byteCount, *broken);
  EXPECT_FALSE(c.diff.compared);
  EXPECT_FALSE(c.diff.Same());
  EXPECT_FALSE(c.Matches());
  EXPECT_TRUE(c.diff.a.readable);
  EXPECT_FALSE(c.diff.b.readable);
  EXPECT_NE(c.diff.b.unreadable.find("block mark"), std::string::npos) << c.diff.b.unreadable;
  EXPECT_EQ(c.conversion.status, ConversionCheckStatus::kNotCompared);
}

// A 5.9 image too large to convert to 5.10: the check says the conversion
// fails, and B cannot match.
TEST(CodeplugDiff, ConversionThatDoesNotFit) {
  CodeplugShape shape = Shape(k59, 4, 3, 3, 3, 3, 54, 1);
  shape.maxRows = 60;
  BuiltImage big;
  for (; shape.maxRows > 0; --shape.maxRows) {
    big.image = std::make_unique<CodeplugImage>();
    if (BuildCodeplug(shape, *big.image, big.byteCount)) break;
  }
  ASSERT_GT(shape.maxRows, 0);
  const BuiltImage b = Full(k510);
  const CodeplugComparison c = CompareCodeplugImages(*big.image, big.byteCount, *b.image);
  ASSERT_TRUE(c.diff.compared);
  EXPECT_EQ(c.conversion.status, ConversionCheckStatus::kFailed);
  EXPECT_FALSE(c.conversion.reason.empty());
  EXPECT_FALSE(c.Matches());
}

// The text and the JSON of a 5.9 to 5.10 comparison say the same things.
TEST(CodeplugDiffReport, TextAndJsonOfAConversion) {
  const BuiltImage a = Build(Shape(k59, 0, 1, 0, 0, 0, 1, 4));
  auto b = Converted(a, 5);
  CodeplugComparison c = CompareCodeplugImages(*a.image, a.byteCount, *b);
  std::string text = CodeplugComparisonText(c, "before.bin", "after.bin");
  for (const char* expected :
       {"A: before.bin: format 5.9, ", "B: after.bin: format 5.10, ",
        "radio block (A word 0, B word 0)", "directory at word 49 -> 69",
        "  words 49-68 added: ", "  table 1: 16 -> 64 rows of 2 words",
        "    rows 16-63 added: all 0", "table 15 added: 0 rows of 0 words",
        "Conversion check: B is A converted from 5.9 to 5.10 as an update converts it, word for "
        "word: every setting the conversion carries over was carried."})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;

  nlohmann::ordered_json j = CodeplugComparisonJson(c);
  EXPECT_EQ(j["a"]["codeplugFormat"], "5.9");
  EXPECT_EQ(j["b"]["tableWordLayout"], "wide");
  EXPECT_EQ(j["same"], false);
  EXPECT_EQ(j["matches"], true);
  EXPECT_EQ(j["counts"]["blocksCompared"], c.diff.counts.blocksCompared);
  const auto& radio = j["blocks"][0];
  EXPECT_EQ(radio["block"], "radio");
  EXPECT_EQ(radio["in"], "both");
  EXPECT_EQ(radio["a"]["directoryOffset"], 49);
  EXPECT_EQ(radio["b"]["directoryOffset"], 69);
  EXPECT_EQ(radio["fixedWords"]["added"]["from"], 49);
  EXPECT_EQ(radio["fixedWords"]["added"]["words"].size(), 20u);
  EXPECT_EQ(j["conversionCheck"]["status"], "compared");
  EXPECT_EQ(j["conversionCheck"]["carried"], true);
  EXPECT_FALSE(j["conversionCheck"].contains("differences"));

  // A word of B changed: the text names it under the check, the JSON too.
  const std::uint16_t group = FindGroupBlock(*b, 1);
  const std::uint32_t word = TableStart(*b, group, 1) + 3;
  ASSERT_GT(GetDirectoryEntry(*b, group, 1).rows, 0);
  const Word before = (*b)[word];
  (*b)[word] = static_cast<Word>(before ^ 0x8000);
  c = CompareCodeplugImages(*a.image, a.byteCount, *b);
  text = CodeplugComparisonText(c, "before.bin", "after.bin");
  const std::string checkLine = "Conversion check: B differs from A converted from 5.9 to 5.10";
  const std::size_t at = text.find(checkLine);
  ASSERT_NE(at, std::string::npos) << text;
  char change[64];
  std::snprintf(change, sizeof change, "row 0: field 3 0x%04X -> 0x%04X", before,
                static_cast<Word>(before ^ 0x8000));
  EXPECT_NE(text.find("group 1 (converted A word ", at), std::string::npos) << text;
  EXPECT_NE(text.find(change, at), std::string::npos) << change << "\n" << text;
  j = CodeplugComparisonJson(c);
  EXPECT_EQ(j["matches"], false);
  const auto& left = j["conversionCheck"]["differences"];
  EXPECT_EQ(left["counts"]["wordsChanged"], 1);
  EXPECT_EQ(left["blocks"][0]["block"], "group");
  EXPECT_EQ(left["blocks"][0]["tables"][0]["table"], 1);
  EXPECT_EQ(left["blocks"][0]["tables"][0]["rows"][0]["changed"][0]["field"], 3);
  EXPECT_EQ(left["blocks"][0]["tables"][0]["rows"][0]["changed"][0]["b"], before ^ 0x8000);
}

}  // namespace
}  // namespace bcu::codeplug
