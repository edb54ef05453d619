#include "codeplug/CodeplugBuilder.h"

#include <random>
#include <utility>
#include <vector>

#include "codeplug/Fields.h"
#include "codeplug/TableAccess.h"
#include "codeplug/TableWordLayout.h"

namespace bcu::codeplug {
namespace {

struct Table {
  std::uint8_t rows;
  std::uint8_t size;
};

// Row count of an entry whose rows come from the random source.
constexpr std::uint8_t kRandomRows = 0xFF;

class Writer {
 public:
  Writer(CodeplugImage& image, std::uint32_t seed, std::uint8_t maxRows)
      : image_(image), random_(seed), maxRows_(maxRows) {}

  // Every draw takes exactly one number of the generator, whose sequence the
  // language fixes; the standard distributions and std::shuffle are left to
  // each library, so they are not used: a seed gives the same image with
  // every compiler.
  std::uint16_t RandomWord() { return static_cast<std::uint16_t>(random_() & 0xFFFF); }
  // 0 .. n - 1.
  std::uint32_t Below(std::uint32_t n) {
    return static_cast<std::uint32_t>((std::uint64_t{random_()} * n) >> 32);
  }
  std::uint8_t RandomRows() { return static_cast<std::uint8_t>(Below(maxRows_ + 1u)); }
  std::uint8_t RandomSize() { return static_cast<std::uint8_t>(1 + Below(8)); }
  // Fisher-Yates, from the back.
  template <typename T>
  void Shuffle(std::vector<T>& items) {
    for (std::size_t i = items.size(); i > 1; --i)
      std::swap(items[i - 1], items[Below(static_cast<std::uint32_t>(i))]);
  }

  // Appends one block at pos_: fixed part of `offset` words (words 4 onwards
  // random), then the directory and tables. Returns its position; false in
  // `ok_` when it does not fit.
  std::uint32_t Block(std::uint16_t kind, Word tag, std::uint16_t offset,
                      const std::vector<Table>& tables) {
    const std::uint32_t pos = pos_;
    std::uint32_t length = offset + static_cast<std::uint32_t>(tables.size());
    for (const Table& t : tables) length += static_cast<std::uint32_t>(t.rows) * t.size;
    if (pos + length + kTrailerWords > kImageWords || length > kMaxBlockLength) {
      ok_ = false;
      return pos;
    }
    image_[pos] = kBlockMark;
    image_[pos + 1] = static_cast<Word>((kind << 14) | length);
    image_[pos + 2] = EncodeTableWord({offset, static_cast<std::uint8_t>(tables.size())}, true);
    image_[pos + 3] = tag;
    for (std::uint32_t i = 4; i < offset; ++i) image_[pos + i] = RandomWord();
    std::uint32_t at = pos + offset;
    for (const Table& t : tables) image_[at++] = static_cast<Word>((t.rows << 8) | t.size);
    for (const Table& t : tables)
      for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(t.rows) * t.size; ++i)
        image_[at++] = RandomWord();
    pos_ = at;
    return pos;
  }

  std::uint32_t Position() const { return pos_; }
  bool Ok() const { return ok_; }

 private:
  CodeplugImage& image_;
  std::mt19937 random_;
  std::uint8_t maxRows_;
  std::uint32_t pos_ = 0;
  bool ok_ = true;
};

// 15 tables (or `count`) of random small shapes; `fixed` sets chosen ones.
std::vector<Table> Tables(Writer& w, std::size_t count,
                          std::initializer_list<std::pair<int, Table>> fixed) {
  std::vector<Table> tables(count);
  for (Table& t : tables) t = {w.RandomRows(), w.RandomSize()};
  for (const auto& [k, t] : fixed) {
    tables[k] = t;
    if (t.rows == kRandomRows) tables[k].rows = w.RandomRows();
  }
  return tables;
}

// A fixed entry with the given row size and random rows.
std::pair<int, Table> Sized(int k, std::uint8_t size) {
  return {k, {kRandomRows, size}};
}
// A fixed entry with exactly these rows and size.
std::pair<int, Table> Exact(int k, std::uint8_t rows, std::uint8_t size) {
  return {k, {static_cast<std::uint8_t>(rows), size}};
}

// Copies an index table (3-word rows: word 0 masked, words 1 and 2) from table
// y into table x of the block, which must already have room for it.
void FillIndexTable(CodeplugImage& image, std::uint16_t block, int x, int y, Word mask) {
  std::uint8_t rows = 0, size = 0;
  const std::uint32_t from = TableStart(image, block, y, &rows, &size);
  const std::uint32_t to = TableStart(image, block, x);
  for (std::uint32_t i = 0; i < rows; ++i) {
    image[to + 3 * i] = image[from + size * i] & mask;
    image[to + 3 * i + 1] = image[from + size * i + 1];
    image[to + 3 * i + 2] = image[from + size * i + 2];
  }
}

}  // namespace

bool BuildCodeplug(const CodeplugShape& shape, CodeplugImage& image, std::size_t& byteCount) {
  const std::uint8_t index = ParmsFormatIndexOf(shape.version.major, shape.version.minor);
  if (index < kFormatIndex58 || index > kFormatIndex510) return false;
  const unsigned systemCount = shape.systemsType0 + shape.systemsType1 + shape.systemsType3 +
                               shape.systemsType4 + shape.systemsType5;
  if (systemCount < 1 || systemCount > 16 || shape.groups < 1 || shape.groups > 54) return false;

  const bool v58 = index == kFormatIndex58, v510 = index == kFormatIndex510;
  image.fill(0);
  // Built in the wide layout, which the table operations read; narrowed at
  // the end for 5.8 and 5.9.
  Writer w(image, shape.seed, shape.maxRows);

  // Radio block: table 0 has 16 rows from 5.9 on, table 1 16 rows (64 in
  // 5.10), table 3 the favorites list of one-word rows from 5.9 on.
  {
    const std::uint8_t rows0 = v58 ? w.RandomRows() : 16;
    auto tables = Tables(
        w, 15,
        {Exact(0, rows0, 3), Exact(1, v510 ? 64 : 16, 2), v58 ? Exact(3, 0, 0) : Exact(3, 16, 1)});
    w.Block(kRadioBlock, Word(shape.version.major << 8 | shape.version.minor), v510 ? 69 : 49,
            tables);
    image[kWordVariantCode] =
        static_cast<Word>((image[kWordVariantCode] & 0xFFF0) | (shape.variantCode & 0x0F));
    image[kWordBlockCounts] = static_cast<Word>(shape.groups << 8 | systemCount);
    if (!v58) PutBlockText(image, 39, "FAVORITES");
  }

  // System-type blocks for the types in use.
  if (shape.systemsType0) w.Block(kSystemTypeBlock, 0x0000, 54, Tables(w, 15, {}));
  if (shape.systemsType1 || shape.systemsType3)
    w.Block(kSystemTypeBlock, 0x1000, 55, Tables(w, 15, {}));
  if (shape.systemsType4) w.Block(kSystemTypeBlock, 0x4000, 61, Tables(w, 15, {}));
  if (shape.systemsType5) w.Block(kSystemTypeBlock, 0x5000, 50, Tables(w, 15, {}));

  // System blocks, numbered 1 .. n.
  std::vector<std::uint16_t> types;
  types.insert(types.end(), shape.systemsType0, 0);
  types.insert(types.end(), shape.systemsType1, 1);
  types.insert(types.end(), shape.systemsType3, 3);
  types.insert(types.end(), shape.systemsType4, 4);
  types.insert(types.end(), shape.systemsType5, 5);
  if (shape.shuffleSystems) w.Shuffle(types);
  const std::uint8_t big = v510 ? 58 : 36;
  for (std::size_t i = 0; i < types.size(); ++i) {
    const Word tag = static_cast<Word>(types[i] << 12 | (i + 1));
    std::uint16_t block = 0;
    switch (types[i]) {
      case 0:
        block = static_cast<std::uint16_t>(w.Block(
            kSystemBlock, tag, 81,
            Tables(w, 15,
                   {Sized(2, v58 ? 2 : 4), Sized(3, big), v58 ? Exact(6, 0, 0) : Sized(6, 9),
                    v58 ? Exact(7, 0, 0) : Sized(7, 9), v58 ? Exact(8, 0, 0) : Sized(8, 2)})));
        break;
      case 1: {
        const std::uint8_t rows5 = w.RandomRows();
        auto t = Tables(w, v510 ? 17 : 15,
                        {Exact(5, rows5, v510 ? 5 : 4), Sized(6, v510 ? 19 : 18), Sized(7, big),
                         v58 ? Exact(8, 0, 0) : Sized(8, 9), v58 ? Exact(9, 0, 0) : Exact(9, 0, 2),
                         v510 ? Exact(10, rows5, 3) : Exact(10, 0, 0)});
        if (v510) t[15] = t[16] = {0, 0};
        block = static_cast<std::uint16_t>(w.Block(kSystemBlock, tag, 129, t));
        if (v510 && w.Ok()) FillIndexTable(image, block, 10, 5, 0x0FFF);
        break;
      }
      case 3: {
        const std::uint8_t rows5 = w.RandomRows();
        auto t = Tables(
            w, v510 ? 21 : 15,
            {Exact(5, rows5, v510 ? 7 : 6), Sized(6, v510 ? 21 : 20), Sized(7, big), Sized(11, 64),
             v58 ? Exact(12, 0, 0) : Sized(12, 9), v58 ? Exact(13, 0, 0) : Exact(13, 0, 2),
             v510 ? Exact(14, rows5, 3) : Exact(14, 0, 0)});
        if (v510)
          for (int k = 15; k < 21; ++k) t[k] = {0, 0};
        block = static_cast<std::uint16_t>(w.Block(kSystemBlock, tag, 333, t));
        if (v510 && w.Ok()) FillIndexTable(image, block, 14, 5, 0x0FFF);
        break;
      }
      case 4: {
        const std::uint8_t rows6 = w.RandomRows();
        auto t =
            Tables(w, v510 ? 21 : 15,
                   {Sized(0, 6), Exact(6, rows6, v510 ? 13 : 8), Sized(7, v510 ? 26 : 22),
                    Sized(9, big), Sized(11, v510 ? 64 : 32), v58 ? Exact(12, 0, 0) : Sized(12, 9),
                    v58 ? Exact(13, 0, 0) : Exact(13, 0, 2),
                    v510 ? Exact(14, rows6, 3) : Exact(14, 0, 0)});
        if (v510) {
          t[15] = {0, 2};
          for (int k = 16; k < 21; ++k) t[k] = {0, 0};
        }
        block = static_cast<std::uint16_t>(w.Block(kSystemBlock, tag, 298, t));
        if (v510 && w.Ok()) FillIndexTable(image, block, 14, 6, 0xFFFF);
        break;
      }
      case 5: {
        // 5.8 keeps its bit map as 2-word rows in table 1 (word 1: map word in
        // the high byte, bit in the low byte); 5.9 holds it in table 2.
        auto t =
            Tables(w, 15,
                   {Sized(0, v58 ? 10 : 11), v58 ? Exact(1, w.RandomRows(), 2) : Exact(1, 0, 2),
                    v58 ? Exact(2, 0, 0) : Exact(2, 1, v510 ? 59 : 37)});
        t[3] = {0, static_cast<std::uint8_t>(v510 ? 37 : 0)};
        block = static_cast<std::uint16_t>(w.Block(kSystemBlock, tag, 42, t));
        if (v58 && w.Ok()) {
          std::uint8_t rows = 0;
          const std::uint32_t start = TableStart(image, block, 1, &rows);
          for (std::uint32_t k = 0; k < rows; ++k) {
            // One draw after the other: map word, then bit.
            const Word mapWord = w.RandomWord() % 32;
            const Word bit = w.RandomWord() % 16;
            image[start + 2 * k + 1] = static_cast<Word>(mapWord << 8 | bit);
          }
        }
        break;
      }
    }
    if (!w.Ok()) return false;
  }

  for (unsigned g = 0; g < shape.groups; ++g) {
    // The tag is drawn before the tables (arguments of one call have no order).
    const Word tag = w.RandomWord();
    w.Block(
        kGroupBlock, tag, 23,
        Tables(w, 15,
               {Sized(0, v510 ? 18 : 17), Sized(1, 15), Sized(2, 13), Sized(3, 13), Sized(4, 14)}));
  }
  if (!w.Ok()) return false;

  const std::uint32_t end = w.Position();
  for (std::uint32_t i = 0; i < kTrailerWords; ++i) image[end + i] = w.RandomWord();
  image[kWordImageLength] = static_cast<Word>(end + kTrailerWords);
  if (!v510) SetTableWordLayout(image, false);
  byteCount = 2 * static_cast<std::size_t>(end + kTrailerWords);
  return true;
}

}  // namespace bcu::codeplug
