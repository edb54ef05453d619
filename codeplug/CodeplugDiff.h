#pragma once
// What differs between two codeplug images A and B, in the terms of their
// layout.
//
// Blocks are paired by what they are, not by where they sit: the radio block,
// the system-type block of a code (one block serves codes 1 and 3), the system
// block of a number, the n-th group block. Inside a pair of blocks the words
// are paired by their place in the block's layout: the header (length and
// table word), word 3 (the tag) and the fixed words by their block word index,
// each table's rows by row index and each row's fields by field index, and the
// words a block holds after its last table. The 128 words after the last
// block are compared by their index. A part that is longer in one image has
// words the other lacks: added (only in B) or dropped (only in A), as a
// conversion adds fixed words, directory entries, rows and fields at their
// ends.
//
// Each image is read in its own table word layout (wide for 5.10, narrow for
// every earlier format), so images of any two formats compare. An image must
// be readable as a chain of blocks (the header checks, and every block marked,
// at least 4 words long, inside the image and holding its tables); one that
// fails the rest of the validity check (block counts, system-type blocks) is
// compared all the same, and its summary says why it is invalid.
//
// Nothing here prints; the result is rendered by CodeplugDiffReport.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codeplug/CodeplugImage.h"
#include "codeplug/FormatVersion.h"
#include "codeplug/TableAccess.h"

namespace bcu::codeplug {

struct WordChange {
  std::uint32_t index = 0;  // block word, field, or word index, as the run names it
  Word a = 0;
  Word b = 0;
};

// Two runs of words compared index by index. `first` is the index of the
// runs' first word (3 for a block's tag and fixed words, 0 otherwise).
struct WordRunDiff {
  std::uint32_t first = 0;
  std::vector<WordChange> changed;  // indexes both runs have whose words differ
  std::uint32_t extraFrom = 0;      // index of the first word only one run has
  std::vector<Word> added;          // B's words from extraFrom on (B's run is longer)
  std::vector<Word> dropped;        // A's words from extraFrom on (A's run is longer)
  bool Same() const { return changed.empty() && added.empty() && dropped.empty(); }
};

// Which image holds a block, table or row.
enum class Presence : std::uint8_t { kBoth, kOnlyA, kOnlyB };

struct RowDiff {
  std::uint32_t row = 0;
  Presence presence = Presence::kBoth;
  WordRunDiff fields;  // indexes are field numbers; all added or dropped for a row one image lacks
};

struct TableDiff {
  std::uint32_t table = 0;
  Presence presence = Presence::kBoth;
  DirectoryEntry a, b;  // rows and row size; {0, 0} in the image that lacks the table
  // Rows that differ, by row index. A row both images hold whose only
  // difference is zero fields past the shorter row size is not listed: that
  // is what a change of row size adds or removes, and the sizes say it.
  std::vector<RowDiff> rows;
};

// What a block is: its kind and, per kind, the system-type code (1 for codes
// 1 and 3), the system number or the group ordinal (0 for the radio block).
// A damaged image may hold two blocks of one kind and key: `repeat` counts
// the earlier ones.
struct BlockId {
  BlockKind kind = kRadioBlock;
  std::uint16_t key = 0;
  std::uint16_t repeat = 0;
  friend auto operator<=>(const BlockId&, const BlockId&) = default;
};

// One image's side of a block.
struct BlockSide {
  std::uint32_t position = 0;  // word position in the image
  std::uint16_t length = 0;    // words
  Word tag = 0;                // word 3
  TableWord tableWord;         // decoded in the image's own layout
};

struct BlockDiff {
  BlockId id;
  Presence presence = Presence::kBoth;
  BlockSide a, b;                 // all zero in the image that lacks the block
  WordRunDiff fixed;              // word 3 (the tag) .. directory offset - 1, by block word
  std::vector<TableDiff> tables;  // tables that differ, by table number
  WordRunDiff afterTables;        // words after the last table, to the block's end, from 0
  // The system type in each image (bits 15-12 of the tag); system blocks only.
  std::uint16_t SystemTypeA() const { return a.tag >> 12; }
  std::uint16_t SystemTypeB() const { return b.tag >> 12; }
};

// One image as the comparison read it.
struct ImageSummary {
  bool readable = false;   // a chain of blocks that can be compared
  std::string unreadable;  // why not
  bool valid = false;      // passes the whole validity check
  std::string invalidReason;
  FormatVersion version;
  std::uint8_t formatIndex = 255;
  std::uint16_t imageWords = 0;  // ImageLength
  bool wideLayout = false;
  std::uint32_t blocks = 0;
};

// Tables and rows are counted in the blocks both images hold (an added or
// dropped block counts as a block); words everywhere, so that B's
// ImageLength minus A's is wordsAdded - wordsDropped.
struct DiffCounts {
  std::uint32_t blocksCompared = 0;   // blocks both images hold
  std::uint32_t blocksDiffering = 0;  // of those, the ones that differ
  std::uint32_t blocksAdded = 0;
  std::uint32_t blocksDropped = 0;
  std::uint32_t tablesAdded = 0;
  std::uint32_t tablesDropped = 0;
  std::uint32_t rowsAdded = 0;  // in tables both images hold or only B holds
  std::uint32_t rowsDropped = 0;
  // Paired words whose values differ: tags, fixed words, fields, words after
  // the tables, trailing words.
  std::uint32_t wordsChanged = 0;
  // Words only B (A) holds: whole blocks, directory entries, rows, fields,
  // fixed words, words after the tables.
  std::uint32_t wordsAdded = 0;
  std::uint32_t wordsDropped = 0;
};

struct CodeplugDiff {
  ImageSummary a, b;
  bool compared = false;  // both images readable
  // Blocks that differ (a different position alone is no difference): the
  // radio block, system-type blocks by code, system blocks by number, group
  // blocks by ordinal.
  std::vector<BlockDiff> blocks;
  WordRunDiff trailingWords;  // the 128 words after the last block
  DiffCounts counts;
  bool Same() const { return compared && blocks.empty() && trailingWords.Same(); }
};

CodeplugDiff DiffCodeplugImages(const CodeplugImage& a, const CodeplugImage& b);

// Whether B holds what converting A gives. When the formats differ, A is
// converted to B's format as an update converts it (the chain of converters,
// the 5.10 pass, the validity check of the result) and the result is compared
// with B: every difference left is a setting the conversion carries over (or
// sets) that B does not hold as it would.
enum class ConversionCheckStatus : std::uint8_t {
  kNotCompared,     // an image is not readable
  kSameFormat,      // nothing to convert: an update writes A back as it is
  kNotConvertible,  // a format outside 5.8 to 5.10, or A fails the validity check
  kFailed,          // the conversion of A does not fit or its result is invalid
  kCompared,        // A converted to B's format, compared with B
};

struct ConversionCheck {
  ConversionCheckStatus status = ConversionCheckStatus::kNotCompared;
  FormatVersion from, to;
  std::string reason;       // kNotConvertible, kFailed: why
  std::int32_t growth = 0;  // words the conversion of A added (negative: removed)
  // kCompared: B against A converted (its side A is the converted image).
  CodeplugDiff remaining;
  bool Carried() const { return status == ConversionCheckStatus::kCompared && remaining.Same(); }
};

// `aByteCount`: the bytes A came with (a file's or an upload's size).
ConversionCheck CheckConversion(const CodeplugImage& a, std::size_t aByteCount,
                                const CodeplugImage& b);

// The layout diff of A against B with the conversion check.
struct CodeplugComparison {
  CodeplugDiff diff;
  ConversionCheck conversion;
  // B holds what A holds: the same image, or exactly what converting A to
  // B's format gives.
  bool Matches() const { return diff.Same() || conversion.Carried(); }
};

CodeplugComparison CompareCodeplugImages(const CodeplugImage& a, std::size_t aByteCount,
                                         const CodeplugImage& b);

}  // namespace bcu::codeplug
