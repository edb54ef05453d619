#pragma once
// The base of the format converters: moves an image one format step up to the
// converter's format or down from it.
//
// RunSteps visits the radio block, the system-type blocks (codes 0, 1/3, 4,
// 5), the system blocks by number and the group blocks by ordinal; for each it
// relays the block as the layout step table prescribes and calls the block's
// hook, which the derived converters override. The shared moves below change
// tables and keep the block length and ImageLength in step.
//
// Images come from radios: every move checks that what it touches lies inside
// the image and that the image stays within the buffer (and each block within
// its 14-bit length). The first move that cannot do so marks the run as failed
// and every later move does nothing; the caller then drops the image (the
// chain functions work on a copy).
#include <cstdint>

#include "codeplug/CodeplugImage.h"
#include "codeplug/LayoutSteps.h"

namespace bcu::codeplug {

class VYXParmsFormatConvertBase {
 public:
  VYXParmsFormatConvertBase() = default;

  // Convert mode: relays the blocks, writes the format version, runs the hooks.
  void Convert(CodeplugImage* image, bool backward);
  // Refresh mode (used upward, on an image already in the converter's format):
  // runs the hooks' refresh parts and leaves the version alone; going up it
  // leaves the layout alone too, going down the blocks are still relaid.
  void Refresh(CodeplugImage* image, bool backward);

  std::int32_t GetGrowth() const { return growth; }
  bool IsConverting() const { return convertLayout; }
  bool IsRefreshing() const { return refreshOnly; }
  int Direction() const { return backward ? -1 : 1; }
  // True when a move met a table or a size that does not fit; the image is
  // then only partly converted and must be dropped.
  bool Failed() const { return failed; }

 protected:
  // Slot 0-1: the radio block and its upward relayout.
  virtual void OnRadioBlock() {}
  virtual void OnRadioRelaid() {}
  // Slots 2-9: the system-type blocks with codes 0, 1 (types 1 and 3), 4, 5.
  virtual void OnSystemTypeBlock0() {}
  virtual void OnSystemTypeBlock1() {}
  virtual void OnSystemTypeBlock4() {}
  virtual void OnSystemTypeBlock5() {}
  virtual void OnSystemTypeRelaid0() {}
  virtual void OnSystemTypeRelaid1() {}
  virtual void OnSystemTypeRelaid4() {}
  virtual void OnSystemTypeRelaid5() {}
  // Slots 10-19: system block n by its type 0, 1, 3, 4, 5.
  virtual void OnSystemBlock0(std::uint16_t) {}
  virtual void OnSystemBlock1(std::uint16_t) {}
  virtual void OnSystemBlock3(std::uint16_t) {}
  virtual void OnSystemBlock4(std::uint16_t) {}
  virtual void OnSystemBlock5(std::uint16_t) {}
  virtual void OnSystemRelaid0(std::uint16_t) {}
  virtual void OnSystemRelaid1(std::uint16_t) {}
  virtual void OnSystemRelaid3(std::uint16_t) {}
  virtual void OnSystemRelaid4(std::uint16_t) {}
  virtual void OnSystemRelaid5(std::uint16_t) {}
  // Slots 20-25: group block n, all five in order, then its upward relayout.
  virtual void OnGroupBlock0(std::uint16_t) {}
  virtual void OnGroupBlock1(std::uint16_t) {}
  virtual void OnGroupBlock2(std::uint16_t) {}
  virtual void OnGroupBlock3(std::uint16_t) {}
  virtual void OnGroupBlock4(std::uint16_t) {}
  virtual void OnGroupRelaid(std::uint16_t) {}

  // Shared moves. Sizes and rows of -1 leave that part of the entry unchanged.
  // Radio table k: rows added (up) or removed (down) at the table's end.
  void SetRadioTableRows(bool skipMove, std::uint32_t k, int rowsLow, int rowsHigh, int sizeLow,
                         int sizeHigh);
  // Table k of system block n: each row grows (up) or shrinks (down) at its end
  // from sizeLow to sizeHigh words when moveRows is 1.
  void SetSystemRowSize(int moveRows, std::uint16_t n, std::uint32_t k, int rowsLow, int rowsHigh,
                        int sizeLow, int sizeHigh);
  // The same on group block n.
  void SetGroupRowSize(int moveRows, std::uint16_t n, std::uint32_t k, int rowsLow, int rowsHigh,
                       int sizeLow, int sizeHigh);
  // Going down: removes the rows of table k of system block n (row size kept).
  void EmptySystemTable(std::uint16_t n, std::uint32_t k);
  // Declares row size `size` for table k of system block n when it has none.
  void DeclareSystemRowSize(std::uint16_t n, std::uint32_t k, std::uint8_t size);

  // Checked helpers for the hooks.
  // Position of table k of the block, with rows and row size; marks the run
  // failed and answers false when the table is not inside the block.
  bool Table(std::uint16_t block, std::uint32_t k, std::uint32_t& start, std::uint8_t& rows,
             std::uint8_t& size);
  // Inserts n zero words at pos (inside the image) for the block at `block`,
  // whose length and ImageLength grow by n; false (run failed) when it would
  // not fit.
  bool InsertWords(std::uint16_t block, std::uint32_t pos, std::uint32_t n);
  // Removes n words at pos; the block and ImageLength shrink by n.
  bool RemoveWords(std::uint16_t block, std::uint32_t pos, std::uint32_t n);
  // Replaces table k of system block n (see ReplaceTable), checked.
  bool ReplaceSystemTable(std::uint16_t n, std::uint32_t k, const Word* source, std::uint8_t rows,
                          std::uint8_t rowSize);
  // FindGroupBlock (n), from the step of group block n without a walk: while
  // that step runs, only words inside the group block change, so the blocks
  // before it and its own position stay as they were.
  std::uint16_t GroupBlockAt(std::uint16_t n) const;
  // Position of system block n; 0 (and the run failed) when there is none.
  std::uint16_t SystemBlockOf(std::uint16_t n);
  // Directory entry k of system block n, which must have that many tables.
  void SetSystemEntry(std::uint16_t n, std::uint32_t k, int rows, int size);
  // Declares table k of system block n as 0 rows of `size` words, the way a
  // new format adds a table. Rows already there would lose their words to the
  // tables after them, so such a table fails the run instead.
  void DeclareEmptyTable(std::uint16_t n, std::uint32_t k, std::uint8_t size);
  void Fail() { failed = true; }
  bool Up() const { return !backward; }

  CodeplugImage* image = nullptr;
  bool backward = true;
  bool convertLayout = true;
  bool refreshOnly = false;
  std::int32_t growth = 0;
  std::uint8_t formatIndex = 255;
  bool failed = false;

 private:
  void RunSteps();
  void RelayBlock(std::uint16_t block, const LayoutStep& entry);
  void CallRelaid(std::uint16_t block);
  void SetRowSize(std::uint16_t block, int moveRows, std::uint32_t k, int rowsLow, int rowsHigh,
                  int sizeLow, int sizeHigh);
  // Grows (or shrinks) the block length and ImageLength by delta; false when
  // either would leave its range.
  bool CanResize(std::uint16_t block, std::int64_t delta) const;
  void Resize(std::uint16_t block, std::int64_t delta);

  // MoveTail (Moves.h) with the same result, word for word, that moves only
  // the words that can differ from 0: those below live_.
  void Shift(std::uint32_t dst, std::uint32_t src);
  // Raises live_ over every word a hook may write: the image and a margin
  // past it (fields of a short last block).
  void CoverImage();

  // Every word from live_ to the end of the buffer is 0. Inserts and removals
  // then move only the words below it, and every row of a table that changes
  // its row size moves once, with one move of what follows the table.
  std::uint32_t live_ = kImageWords;
  // The group block whose step runs (number 0: none) and its position.
  std::uint16_t groupNumber_ = 0;
  std::uint16_t groupBlock_ = 0;
  // Which block RunSteps is relaying, for the after-relayout hook.
  BlockClass relaidClass_ = BlockClass::kRadio;
  std::uint16_t relaidNumber_ = 0;
};

}  // namespace bcu::codeplug
