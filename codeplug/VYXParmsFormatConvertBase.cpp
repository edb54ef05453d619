#include "codeplug/VYXParmsFormatConvertBase.h"

#include <algorithm>
#include <cstring>

#include "codeplug/Blocks.h"
#include "codeplug/FormatVersion.h"
#include "codeplug/Moves.h"
#include "codeplug/TableAccess.h"

namespace bcu::codeplug {

namespace {

// Past the image, hooks write at most the fixed fields of a last block that
// is shorter than its kind (up to block word 263, beyond the 128 trailing
// words); every other write lies inside the image.
constexpr std::uint32_t kWriteMargin = 1024;

}  // namespace

void VYXParmsFormatConvertBase::CoverImage() {
  live_ = std::max(live_, std::min(kImageWords, ImageLength(*image) + kWriteMargin));
}

void VYXParmsFormatConvertBase::Shift(std::uint32_t dst, std::uint32_t src) {
  if (dst == src || dst >= kImageWords || src >= kImageWords) return;
  Word* words = image->data();
  if (dst > src) {
    // Up: what lies at src and above moves; above live_ only zeros, which
    // land on zeros. Words pushed past the buffer are lost, as in MoveTail.
    if (live_ <= src) return;
    const std::uint32_t top = std::min(kImageWords, live_ + (dst - src));
    std::memmove(words + dst, words + src, (top - dst) * sizeof(Word));
    live_ = top;
    return;
  }
  const std::uint32_t gap = src - dst;
  if (live_ > kImageWords - gap) {
    // The buffer's last words are not all zero: MoveTail leaves the last
    // `gap` of them as they were, which only MoveTail itself reproduces.
    MoveTail(*image, dst, src);
    return;
  }
  if (live_ > src) {
    std::memmove(words + dst, words + src, (live_ - src) * sizeof(Word));
    std::fill(words + live_ - gap, words + live_, Word{0});
    live_ -= gap;
  } else if (live_ > dst) {
    std::fill(words + dst, words + live_, Word{0});
    live_ = dst;
  }
}

void VYXParmsFormatConvertBase::Convert(CodeplugImage* target, bool down) {
  image = target;
  backward = down;
  convertLayout = true;
  refreshOnly = false;
  RunSteps();
}

void VYXParmsFormatConvertBase::Refresh(CodeplugImage* target, bool down) {
  image = target;
  backward = down;
  convertLayout = false;
  refreshOnly = true;
  RunSteps();
}

void VYXParmsFormatConvertBase::RunSteps() {
  CodeplugImage& img = *image;
  failed = false;
  growth = 0;
  const std::uint16_t before = ImageLength(img);
  groupNumber_ = 0;
  live_ = kImageWords;
  while (live_ > 0 && img[live_ - 1] == 0) --live_;
  CoverImage();
  // Going up only convert mode relays a block before its hook; going down
  // every run relays it back after the hook.
  const bool relayUp = convertLayout && Up();
  const bool relayDown = backward;

  // Radio block.
  {
    const LayoutStep entry = LayoutStepFor(BlockClass::kRadio, formatIndex);
    relaidClass_ = BlockClass::kRadio;
    if (relayUp) RelayBlock(0, entry);
    if (!failed) OnRadioBlock();
    if (!failed && relayDown) RelayBlock(0, entry);
    if (convertLayout) {
      const FormatVersion v =
          VersionOfFormatIndex(static_cast<std::uint8_t>(backward ? formatIndex - 1 : formatIndex));
      img[kWordFormatVersion] = static_cast<Word>(v.major << 8 | v.minor);
    }
  }

  // System-type blocks. The block serving types 1 and 3 is addressed by code 1,
  // or by code 3 when the image has only that one (never the radio block).
  struct TypeStep {
    std::uint16_t code;
    BlockClass blockClass;
    void (VYXParmsFormatConvertBase::*hook)();
  };
  static constexpr TypeStep kTypeSteps[] = {
      {0, BlockClass::kSystemTypeCode0, &VYXParmsFormatConvertBase::OnSystemTypeBlock0},
      {1, BlockClass::kSystemTypeCode1, &VYXParmsFormatConvertBase::OnSystemTypeBlock1},
      {4, BlockClass::kSystemTypeCode4, &VYXParmsFormatConvertBase::OnSystemTypeBlock4},
      {5, BlockClass::kSystemTypeCode5, &VYXParmsFormatConvertBase::OnSystemTypeBlock5},
  };
  for (const TypeStep& step : kTypeSteps) {
    if (failed) break;
    auto find = [&] {
      std::uint16_t pos = FindSystemTypeBlock(img, step.code);
      if (pos == 0 && step.code == 1) pos = FindSystemTypeBlock(img, 3);
      return pos;
    };
    if (find() == 0) continue;
    const LayoutStep entry = LayoutStepFor(step.blockClass, formatIndex);
    relaidClass_ = step.blockClass;
    if (relayUp) RelayBlock(find(), entry);
    if (!failed) (this->*step.hook)();
    if (!failed && relayDown) RelayBlock(find(), entry);
  }

  // System blocks, by number; the count is read once.
  const std::uint16_t systems = SystemBlockCount(img);
  for (std::uint16_t n = 1; n <= systems && !failed; ++n) {
    const std::uint16_t type = GetSystemType(img, n);
    BlockClass blockClass;
    if (!SystemBlockClass(type, blockClass)) continue;
    const LayoutStep entry = LayoutStepFor(blockClass, formatIndex);
    relaidClass_ = blockClass;
    relaidNumber_ = n;
    if (relayUp) RelayBlock(FindSystemBlock(img, n), entry);
    if (failed) break;
    switch (type) {
      case 0:
        OnSystemBlock0(n);
        break;
      case 1:
        OnSystemBlock1(n);
        break;
      case 3:
        OnSystemBlock3(n);
        break;
      case 4:
        OnSystemBlock4(n);
        break;
      case 5:
        OnSystemBlock5(n);
        break;
    }
    if (!failed && relayDown) RelayBlock(FindSystemBlock(img, n), entry);
  }

  // Group blocks, by ordinal; the count is read once.
  const std::uint16_t groups = GroupBlockCount(img);
  const LayoutStep groupEntry = LayoutStepFor(BlockClass::kGroup, formatIndex);
  for (std::uint16_t n = 1; n <= groups && !failed; ++n) {
    groupNumber_ = 0;
    groupBlock_ = FindGroupBlock(img, n);
    if (groupBlock_ == 0) continue;
    groupNumber_ = n;
    relaidClass_ = BlockClass::kGroup;
    relaidNumber_ = n;
    if (relayUp) RelayBlock(GroupBlockAt(n), groupEntry);
    if (!failed) OnGroupBlock0(n);
    if (!failed) OnGroupBlock1(n);
    if (!failed) OnGroupBlock2(n);
    if (!failed) OnGroupBlock3(n);
    if (!failed) OnGroupBlock4(n);
    if (!failed && relayDown) RelayBlock(GroupBlockAt(n), groupEntry);
  }
  groupNumber_ = 0;

  growth = static_cast<std::int32_t>(ImageLength(img)) - before;
}

bool VYXParmsFormatConvertBase::CanResize(std::uint16_t block, std::int64_t delta) const {
  const std::int64_t length = GetBlockLength(*image, block) + delta;
  const std::int64_t total = ImageLength(*image) + delta;
  return length >= 0 && length <= kMaxBlockLength && total >= 0 && total <= kImageWords;
}

void VYXParmsFormatConvertBase::Resize(std::uint16_t block, std::int64_t delta) {
  SetBlockLength(*image, block, static_cast<std::uint16_t>(GetBlockLength(*image, block) + delta));
  (*image)[kWordImageLength] = static_cast<Word>(ImageLength(*image) + delta);
  CoverImage();
}

void VYXParmsFormatConvertBase::RelayBlock(std::uint16_t block, const LayoutStep& entry) {
  CodeplugImage& img = *image;
  if (block == 0 && relaidClass_ != BlockClass::kRadio) {
    Fail();  // a block that vanished is never the radio block
    return;
  }
  const int d = Direction();
  const int count = GetTableWord(img, block).count;
  const int offset = Up() ? entry.firstTable - entry.tableCount
                          : entry.firstTable - entry.fixedAdded - entry.tableCount;
  const int newCount = count + d * entry.tablesAdded;
  const std::int64_t added = entry.fixedAdded + entry.tablesAdded;
  const std::uint32_t a = block + static_cast<std::uint32_t>(offset < 0 ? 0 : offset);
  const std::uint32_t end = ImageLength(img);
  // The moved words must lie inside the image: up, the fixed words go in at
  // a - fixedAdded and the entries at the end of the directory; down, both
  // removals end at a + fixedAdded + tableCount at the latest.
  const bool inside = Up() ? a + entry.tableCount <= end + entry.fixedAdded
                           : a + entry.fixedAdded + entry.tableCount <= end;
  if (offset < 0 || newCount < 0 || newCount > 31 || !inside || !CanResize(block, d * added)) {
    Fail();
    return;
  }
  SetTableWord(img, block, offset, newCount);
  if (Up()) {
    Shift(a, a - entry.fixedAdded);
    ZeroWords(img, a - entry.fixedAdded, entry.fixedAdded);
    const std::uint32_t p = a + entry.tableCount - entry.tablesAdded;
    Shift(p + entry.tablesAdded, p);
    ZeroWords(img, p, entry.tablesAdded);
    if (block == 0) {
      Resize(block, added);
      CallRelaid(block);
    } else {
      CallRelaid(block);
      Resize(block, added);
    }
  } else {
    const std::uint32_t entriesEnd = a + entry.fixedAdded + entry.tableCount;
    Shift(entriesEnd - entry.tablesAdded, entriesEnd);
    Shift(a, a + entry.fixedAdded);
    Resize(block, -added);
  }
}

void VYXParmsFormatConvertBase::CallRelaid(std::uint16_t) {
  const std::uint16_t n = relaidNumber_;
  switch (relaidClass_) {
    case BlockClass::kRadio:
      OnRadioRelaid();
      break;
    case BlockClass::kSystemTypeCode0:
      OnSystemTypeRelaid0();
      break;
    case BlockClass::kSystemTypeCode1:
      OnSystemTypeRelaid1();
      break;
    case BlockClass::kSystemTypeCode4:
      OnSystemTypeRelaid4();
      break;
    case BlockClass::kSystemTypeCode5:
      OnSystemTypeRelaid5();
      break;
    case BlockClass::kSystemType0:
      OnSystemRelaid0(n);
      break;
    case BlockClass::kSystemType1:
      OnSystemRelaid1(n);
      break;
    case BlockClass::kSystemType3:
      OnSystemRelaid3(n);
      break;
    case BlockClass::kSystemType4:
      OnSystemRelaid4(n);
      break;
    case BlockClass::kSystemType5:
      OnSystemRelaid5(n);
      break;
    case BlockClass::kGroup:
      OnGroupRelaid(n);
      break;
  }
}

bool VYXParmsFormatConvertBase::Table(std::uint16_t block, std::uint32_t k, std::uint32_t& start,
                                      std::uint8_t& rows, std::uint8_t& size) {
  if (failed || !TableFits(*image, block, k)) {
    Fail();
    return false;
  }
  start = TableStart(*image, block, k, &rows, &size);
  if (start + static_cast<std::uint32_t>(rows) * size > ImageLength(*image)) {
    Fail();
    return false;
  }
  return true;
}

bool VYXParmsFormatConvertBase::InsertWords(std::uint16_t block, std::uint32_t pos,
                                            std::uint32_t n) {
  if (failed) return false;
  if (n == 0) return true;
  if (pos > ImageLength(*image) || !CanResize(block, n)) {
    Fail();
    return false;
  }
  Shift(pos + n, pos);
  ZeroWords(*image, pos, n);
  Resize(block, n);
  return true;
}

bool VYXParmsFormatConvertBase::RemoveWords(std::uint16_t block, std::uint32_t pos,
                                            std::uint32_t n) {
  if (failed) return false;
  if (n == 0) return true;
  if (pos + n > ImageLength(*image) || !CanResize(block, -static_cast<std::int64_t>(n))) {
    Fail();
    return false;
  }
  Shift(pos, pos + n);
  Resize(block, -static_cast<std::int64_t>(n));
  return true;
}

bool VYXParmsFormatConvertBase::ReplaceSystemTable(std::uint16_t n, std::uint32_t k,
                                                   const Word* source, std::uint8_t rows,
                                                   std::uint8_t rowSize) {
  const std::uint16_t block = FindSystemBlock(*image, n);
  std::uint32_t start = 0;
  std::uint8_t oldRows = 0, oldSize = 0;
  if (block == 0 || !Table(block, k, start, oldRows, oldSize)) {
    Fail();
    return false;
  }
  const std::int64_t diff =
      (source ? std::int64_t{rows} * rowSize : 0) - std::int64_t{oldRows} * oldSize;
  if (!CanResize(block, diff)) {
    Fail();
    return false;
  }
  // As ReplaceTable does it, with the bounded move.
  const std::uint32_t oldWords = static_cast<std::uint32_t>(oldRows) * oldSize;
  const std::uint32_t newWords = source ? static_cast<std::uint32_t>(rows) * rowSize : 0;
  Shift(start + newWords, start + oldWords);
  for (std::uint32_t i = 0; i < newWords; ++i) PutWord(*image, start + i, source[i]);
  SetDirectoryEntry(*image, block, k, rows, rowSize);
  Resize(block, diff);
  return true;
}

void VYXParmsFormatConvertBase::SetRadioTableRows(bool skipMove, std::uint32_t k, int rowsLow,
                                                  int rowsHigh, int sizeLow, int sizeHigh) {
  std::uint32_t start = 0;
  std::uint8_t rows = 0, size = 0;
  if (!Table(0, k, start, rows, size)) return;
  SetDirectoryEntry(*image, 0, k, Up() ? rowsHigh : rowsLow, Up() ? sizeHigh : sizeLow);
  if (skipMove) return;
  // The table must hold the rows the move starts from.
  if (rows != (Up() ? rowsLow : rowsHigh)) {
    Fail();
    return;
  }
  const std::uint32_t end = start + static_cast<std::uint32_t>(rows) * size;
  const std::int64_t delta = std::int64_t{size} * (rowsHigh - rowsLow) * Direction();
  if (delta > 0) {
    InsertWords(0, end, static_cast<std::uint32_t>(delta));
  } else if (delta < 0) {
    RemoveWords(0, static_cast<std::uint32_t>(end + delta), static_cast<std::uint32_t>(-delta));
  }
}

void VYXParmsFormatConvertBase::SetRowSize(std::uint16_t block, int moveRows, std::uint32_t k,
                                           int rowsLow, int rowsHigh, int sizeLow, int sizeHigh) {
  std::uint32_t start = 0;
  std::uint8_t rows = 0, size = 0;
  if (block == 0 || !Table(block, k, start, rows, size)) {
    Fail();
    return;
  }
  SetDirectoryEntry(*image, block, k, Up() ? rowsHigh : rowsLow, Up() ? sizeHigh : sizeLow);
  if (moveRows != 1) return;
  const int w = sizeHigh - sizeLow;
  if (rows == 0 || w == 0) return;
  // Rows of another size than the move starts from would be cut apart.
  if (w < 0 || size != (Up() ? sizeLow : sizeHigh)) {
    Fail();
    return;
  }
  const std::uint32_t uw = static_cast<std::uint32_t>(w);
  const std::int64_t total = std::int64_t{rows} * w * Direction();
  if (!CanResize(block, total)) {
    Fail();
    return;
  }
  // The same words as inserting (removing) w words at the end of each row in
  // turn: what follows the table moves once by rows x w, then each row moves
  // to its place inside the table.
  Word* words = image->data();
  const std::uint32_t low = static_cast<std::uint32_t>(sizeLow);
  const std::uint32_t high = low + uw;
  const std::uint32_t moved = rows * uw;
  if (Up()) {
    const std::uint32_t end = start + rows * low;
    Shift(end + moved, end);
    for (std::uint32_t i = rows; i-- > 0;) {
      std::memmove(words + start + i * high, words + start + i * low, low * sizeof(Word));
      std::fill_n(words + start + i * high + low, uw, Word{0});
    }
  } else if (live_ > kImageWords - moved) {
    // The buffer's end is not all zero: row by row, as MoveTail leaves it.
    for (std::uint32_t i = 1; i <= rows; ++i) {
      const std::uint32_t p = start + low * i;
      MoveTail(*image, p, p + uw);
    }
  } else {
    for (std::uint32_t i = 1; i < rows; ++i)
      std::memmove(words + start + i * low, words + start + i * high, low * sizeof(Word));
    const std::uint32_t end = start + rows * high;
    Shift(end - moved, end);
  }
  Resize(block, total);
}

void VYXParmsFormatConvertBase::SetSystemRowSize(int moveRows, std::uint16_t n, std::uint32_t k,
                                                 int rowsLow, int rowsHigh, int sizeLow,
                                                 int sizeHigh) {
  if (failed) return;
  SetRowSize(FindSystemBlock(*image, n), moveRows, k, rowsLow, rowsHigh, sizeLow, sizeHigh);
}

void VYXParmsFormatConvertBase::SetGroupRowSize(int moveRows, std::uint16_t n, std::uint32_t k,
                                                int rowsLow, int rowsHigh, int sizeLow,
                                                int sizeHigh) {
  if (failed) return;
  SetRowSize(GroupBlockAt(n), moveRows, k, rowsLow, rowsHigh, sizeLow, sizeHigh);
}

void VYXParmsFormatConvertBase::EmptySystemTable(std::uint16_t n, std::uint32_t k) {
  if (Up() || failed) return;
  const std::uint16_t block = FindSystemBlock(*image, n);
  std::uint32_t start = 0;
  std::uint8_t rows = 0, size = 0;
  if (block == 0 || !Table(block, k, start, rows, size)) {
    Fail();
    return;
  }
  if (!RemoveWords(block, start, static_cast<std::uint32_t>(rows) * size)) return;
  SetDirectoryEntry(*image, block, k, 0, -1);
}

std::uint16_t VYXParmsFormatConvertBase::GroupBlockAt(std::uint16_t n) const {
  if (n != 0 && n == groupNumber_ && groupBlock_ < BlocksEnd(*image)) return groupBlock_;
  return FindGroupBlock(*image, n);
}

std::uint16_t VYXParmsFormatConvertBase::SystemBlockOf(std::uint16_t n) {
  const std::uint16_t block = FindSystemBlock(*image, n);
  if (block == 0) Fail();
  return block;
}

void VYXParmsFormatConvertBase::SetSystemEntry(std::uint16_t n, std::uint32_t k, int rows,
                                               int size) {
  if (failed) return;
  const std::uint16_t block = SystemBlockOf(n);
  if (block == 0 || k >= GetTableWord(*image, block).count) {
    Fail();
    return;
  }
  SetDirectoryEntry(*image, block, k, rows, size);
}

void VYXParmsFormatConvertBase::DeclareEmptyTable(std::uint16_t n, std::uint32_t k,
                                                  std::uint8_t size) {
  if (failed) return;
  const std::uint16_t block = SystemBlockOf(n);
  if (block == 0) return;
  if (k < GetTableWord(*image, block).count && GetDirectoryEntry(*image, block, k).rows != 0 &&
      GetDirectoryEntry(*image, block, k).size != 0) {
    Fail();
    return;
  }
  SetSystemEntry(n, k, 0, size);
}

void VYXParmsFormatConvertBase::DeclareSystemRowSize(std::uint16_t n, std::uint32_t k,
                                                     std::uint8_t size) {
  if (failed) return;
  const std::uint16_t block = FindSystemBlock(*image, n);
  if (block == 0 || k >= GetTableWord(*image, block).count) {
    Fail();
    return;
  }
  if (GetDirectoryEntry(*image, block, k).size == 0) SetDirectoryEntry(*image, block, k, -1, size);
}

}  // namespace bcu::codeplug
