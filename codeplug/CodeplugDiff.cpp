#include "codeplug/CodeplugDiff.h"

#include <algorithm>
#include <map>
#include <memory>
#include <span>
#include <utility>

#include "codeplug/Blocks.h"
#include "codeplug/CodeplugConversion.h"
#include "codeplug/Validity.h"

namespace bcu::codeplug {
namespace {

using Words = std::span<const Word>;

constexpr std::uint32_t kTagWord = 3;
constexpr std::uint32_t kHeaderWords = 4;  // mark, length, table word, tag

struct TableView {
  std::uint32_t start = 0;
  DirectoryEntry entry;
};

// One block as an image's own layout places it.
struct BlockView {
  BlockId id;
  BlockSide side;
  std::uint32_t fixedEnd = 0;     // one past the last fixed word, from the block
  std::vector<TableView> tables;  // by table number
  std::uint32_t afterTables = 0;  // first word after the last table, from the block
};

struct ImageLayout {
  ImageSummary summary;
  std::vector<BlockView> blocks;  // sorted by id
};

// The words from `pos` on, `count` of them, inside the buffer.
Words Run(const CodeplugImage& image, std::uint32_t pos, std::uint32_t count) {
  if (pos >= kImageWords) return {};
  return Words(image.data() + pos, std::min(count, kImageWords - pos));
}

BlockId IdOf(const CodeplugImage& image, std::uint32_t pos, std::uint16_t groupOrdinal) {
  const auto kind = static_cast<BlockKind>(KindOfBlock(image, pos));
  switch (kind) {
    case kSystemTypeBlock: {
      const std::uint16_t code = SystemTypeCodeOfBlock(image, pos);
      return {kind, static_cast<std::uint16_t>(code == 3 ? 1 : code), 0};
    }
    case kSystemBlock:
      return {kind, SystemNumberOfBlock(image, pos), 0};
    case kGroupBlock:
      return {kind, groupOrdinal, 0};
    default:
      return {kRadioBlock, 0, 0};
  }
}

ImageLayout ReadLayout(const CodeplugImage& image) {
  ImageLayout layout;
  ImageSummary& s = layout.summary;
  s.version = ImageFormatVersion(image);
  s.formatIndex = ParmsFormatIndex(image);
  s.imageWords = ImageLength(image);
  s.wideLayout = ImageUsesWideLayout(image);
  const ImageCheck check = CheckParmsImage(image);
  s.valid = check.valid;
  s.invalidReason = check.reason;
  s.readable = ParmsImageChainFits(image, s.wideLayout);
  if (!s.readable) {
    s.unreadable = check.reason;
    return layout;
  }

  std::map<std::pair<int, std::uint16_t>, std::uint16_t> seen;
  std::uint16_t groups = 0;
  const std::uint32_t end = BlocksEnd(image);
  for (std::uint32_t pos = 0; pos < end;) {
    BlockView block;
    if (KindOfBlock(image, pos) == kGroupBlock) ++groups;
    block.id = IdOf(image, pos, groups);
    block.id.repeat = seen[{block.id.kind, block.id.key}]++;
    block.side.position = pos;
    block.side.length = LengthOfBlock(image, pos);
    block.side.tag = WordAt(image, pos + kTagWord);
    block.side.tableWord = DecodeTableWord(WordAt(image, pos + 2), s.wideLayout);
    const TableWord& t = block.side.tableWord;
    block.fixedEnd = std::max<std::uint32_t>(t.offset, kHeaderWords);
    std::uint32_t at = pos + t.offset + t.count;
    for (std::uint32_t k = 0; k < t.count; ++k) {
      const Word e = WordAt(image, pos + t.offset + k);
      const DirectoryEntry entry{static_cast<std::uint8_t>(e >> 8),
                                 static_cast<std::uint8_t>(e & 0xFF)};
      block.tables.push_back({at, entry});
      at += static_cast<std::uint32_t>(entry.rows) * entry.size;
    }
    block.afterTables = std::max(at - pos, kHeaderWords);
    layout.blocks.push_back(std::move(block));
    pos += layout.blocks.back().side.length;
  }
  s.blocks = static_cast<std::uint32_t>(layout.blocks.size());
  std::stable_sort(layout.blocks.begin(), layout.blocks.end(),
                   [](const BlockView& x, const BlockView& y) { return x.id < y.id; });
  return layout;
}

bool AllZero(const std::vector<Word>& words) {
  return std::all_of(words.begin(), words.end(), [](Word w) { return w == 0; });
}

class Differ {
 public:
  Differ(const CodeplugImage& a, const CodeplugImage& b, DiffCounts& counts)
      : a_(a), b_(b), counts_(counts) {}

  // Compares two runs index by index and counts what it found.
  WordRunDiff Runs(Words a, Words b, std::uint32_t first) {
    WordRunDiff d;
    d.first = first;
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i)
      if (a[i] != b[i]) d.changed.push_back({static_cast<std::uint32_t>(first + i), a[i], b[i]});
    d.extraFrom = static_cast<std::uint32_t>(first + common);
    d.added.assign(b.begin() + static_cast<std::ptrdiff_t>(common), b.end());
    d.dropped.assign(a.begin() + static_cast<std::ptrdiff_t>(common), a.end());
    counts_.wordsChanged += static_cast<std::uint32_t>(d.changed.size());
    counts_.wordsAdded += static_cast<std::uint32_t>(d.added.size());
    counts_.wordsDropped += static_cast<std::uint32_t>(d.dropped.size());
    return d;
  }

  // Either block may be missing; `countShape` counts tables and rows (for a
  // block both images hold).
  BlockDiff Blocks(const BlockView* a, const BlockView* b) {
    BlockDiff d;
    d.id = a ? a->id : b->id;
    d.presence = a && b ? Presence::kBoth : a ? Presence::kOnlyA : Presence::kOnlyB;
    if (a) d.a = a->side;
    if (b) d.b = b->side;
    countShape_ = a && b;
    d.fixed = Runs(FixedWords(a_, a), FixedWords(b_, b), kTagWord);
    const std::size_t tables = std::max(a ? a->tables.size() : 0, b ? b->tables.size() : 0);
    for (std::size_t k = 0; k < tables; ++k) {
      const TableView* ta = a && k < a->tables.size() ? &a->tables[k] : nullptr;
      const TableView* tb = b && k < b->tables.size() ? &b->tables[k] : nullptr;
      // The directory entry of a table one image lacks is a word of its own.
      if (!ta) ++counts_.wordsAdded;
      if (!tb) ++counts_.wordsDropped;
      if (countShape_ && !ta) ++counts_.tablesAdded;
      if (countShape_ && !tb) ++counts_.tablesDropped;
      TableDiff t = Tables(static_cast<std::uint32_t>(k), ta, tb);
      if (t.presence != Presence::kBoth || !(t.a.rows == t.b.rows && t.a.size == t.b.size) ||
          !t.rows.empty())
        d.tables.push_back(std::move(t));
    }
    d.afterTables = Runs(AfterTables(a_, a), AfterTables(b_, b), 0);
    // The 3 words before the tag of a block one image lacks.
    if (!a) counts_.wordsAdded += kTagWord;
    if (!b) counts_.wordsDropped += kTagWord;
    return d;
  }

  static bool Differs(const BlockDiff& d) {
    return d.presence != Presence::kBoth || d.a.length != d.b.length ||
           d.a.tableWord.offset != d.b.tableWord.offset ||
           d.a.tableWord.count != d.b.tableWord.count || !d.fixed.Same() || !d.tables.empty() ||
           !d.afterTables.Same();
  }

 private:
  static Words FixedWords(const CodeplugImage& image, const BlockView* block) {
    if (!block) return {};
    return Run(image, block->side.position + kTagWord, block->fixedEnd - kTagWord);
  }
  static Words AfterTables(const CodeplugImage& image, const BlockView* block) {
    if (!block || block->afterTables >= block->side.length) return {};
    return Run(image, block->side.position + block->afterTables,
               block->side.length - block->afterTables);
  }
  static Words RowWords(const CodeplugImage& image, const TableView* table, std::uint32_t r) {
    if (!table || r >= table->entry.rows) return {};
    return Run(image, table->start + r * table->entry.size, table->entry.size);
  }

  TableDiff Tables(std::uint32_t k, const TableView* a, const TableView* b) {
    TableDiff t;
    t.table = k;
    t.presence = a && b ? Presence::kBoth : a ? Presence::kOnlyA : Presence::kOnlyB;
    if (a) t.a = a->entry;
    if (b) t.b = b->entry;
    const std::uint32_t rows = std::max(t.a.rows, t.b.rows);
    for (std::uint32_t r = 0; r < rows; ++r) {
      const bool inA = a && r < t.a.rows, inB = b && r < t.b.rows;
      if (countShape_ && !inA) ++counts_.rowsAdded;
      if (countShape_ && !inB) ++counts_.rowsDropped;
      RowDiff row;
      row.row = r;
      row.presence = inA && inB ? Presence::kBoth : inA ? Presence::kOnlyA : Presence::kOnlyB;
      row.fields = Runs(RowWords(a_, a, r), RowWords(b_, b, r), 0);
      const bool listed = row.presence != Presence::kBoth || !row.fields.changed.empty() ||
                          !AllZero(row.fields.added) || !AllZero(row.fields.dropped);
      if (listed) t.rows.push_back(std::move(row));
    }
    return t;
  }

  const CodeplugImage& a_;
  const CodeplugImage& b_;
  DiffCounts& counts_;
  bool countShape_ = false;
};

}  // namespace

CodeplugDiff DiffCodeplugImages(const CodeplugImage& a, const CodeplugImage& b) {
  CodeplugDiff diff;
  ImageLayout la = ReadLayout(a), lb = ReadLayout(b);
  diff.a = std::move(la.summary);
  diff.b = std::move(lb.summary);
  diff.compared = diff.a.readable && diff.b.readable;
  if (!diff.compared) return diff;

  Differ differ(a, b, diff.counts);
  DiffCounts& counts = diff.counts;
  auto ia = la.blocks.begin(), ib = lb.blocks.begin();
  while (ia != la.blocks.end() || ib != lb.blocks.end()) {
    const BlockView* pa = nullptr;
    const BlockView* pb = nullptr;
    if (ib == lb.blocks.end() || (ia != la.blocks.end() && ia->id < ib->id)) {
      pa = &*ia++;
      ++counts.blocksDropped;
    } else if (ia == la.blocks.end() || ib->id < ia->id) {
      pb = &*ib++;
      ++counts.blocksAdded;
    } else {
      pa = &*ia++;
      pb = &*ib++;
      ++counts.blocksCompared;
    }
    BlockDiff d = differ.Blocks(pa, pb);
    if (!Differ::Differs(d)) continue;
    if (d.presence == Presence::kBoth) ++counts.blocksDiffering;
    diff.blocks.push_back(std::move(d));
  }
  diff.trailingWords =
      differ.Runs(Run(a, BlocksEnd(a), kTrailerWords), Run(b, BlocksEnd(b), kTrailerWords), 0);
  return diff;
}

ConversionCheck CheckConversion(const CodeplugImage& a, std::size_t aByteCount,
                                const CodeplugImage& b) {
  ConversionCheck check;
  check.from = ImageFormatVersion(a);
  check.to = ImageFormatVersion(b);
  if (!ParmsImageChainFits(a, ImageUsesWideLayout(a)) ||
      !ParmsImageChainFits(b, ImageUsesWideLayout(b)))
    return check;
  if (check.from == check.to) {
    check.status = ConversionCheckStatus::kSameFormat;
    return check;
  }
  const std::uint8_t from = ParmsFormatIndex(a), to = ParmsFormatIndex(b);
  const auto convertible = [](std::uint8_t index) {
    return index >= kFormatIndex58 && index <= kFormatIndex510;
  };
  if (!convertible(from) || !convertible(to)) {
    check.status = ConversionCheckStatus::kNotConvertible;
    check.reason = "no conversion from " + std::to_string(check.from.major) + "." +
                   std::to_string(check.from.minor) + " to " + std::to_string(check.to.major) +
                   "." + std::to_string(check.to.minor) + ": only 5.8, 5.9 and 5.10 convert";
    return check;
  }
  const ImageCheck valid = CheckParmsImage(a);
  if (!valid.valid) {
    check.status = ConversionCheckStatus::kNotConvertible;
    check.reason = "A is invalid (" + valid.reason + "): an update does not convert it";
    return check;
  }
  auto work = std::make_unique<CodeplugImage>(a);
  auto scratch = std::make_unique<CodeplugImage>();
  const ConversionResult result = ConvertCodeplugImage(*work, aByteCount, from, to, *scratch);
  if (!result.converted) {
    check.status = ConversionCheckStatus::kFailed;
    check.reason = result.failure;
    return check;
  }
  check.status = ConversionCheckStatus::kCompared;
  check.growth = result.growth;
  check.remaining = DiffCodeplugImages(*work, b);
  return check;
}

CodeplugComparison CompareCodeplugImages(const CodeplugImage& a, std::size_t aByteCount,
                                         const CodeplugImage& b) {
  CodeplugComparison comparison;
  comparison.diff = DiffCodeplugImages(a, b);
  if (comparison.diff.compared) comparison.conversion = CheckConversion(a, aByteCount, b);
  return comparison;
}

}  // namespace bcu::codeplug
