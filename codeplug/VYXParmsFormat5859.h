#pragma once
// Conversion between file formats 5.8 and 5.9. No block changes its layout in
// this step (only the directory offsets are rewritten); the hooks add the
// favorites list, widen type-0 table 2 and type-5 table 0 rows, turn the
// type-5 bit map list into a bit map row, declare the new tables' row sizes
// and move the fields that 5.9 keeps elsewhere.
#include "codeplug/VYXParmsFormatConvertBase.h"

namespace bcu::codeplug {

class VYXParmsFormat5859 : public VYXParmsFormatConvertBase {
 public:
  VYXParmsFormat5859() { formatIndex = 4; }

 protected:
  void OnRadioBlock() override;
  void OnSystemTypeBlock0() override;
  void OnSystemBlock0(std::uint16_t n) override;
  void OnSystemBlock1(std::uint16_t n) override;
  void OnSystemBlock3(std::uint16_t n) override;
  void OnSystemBlock4(std::uint16_t n) override;
  void OnSystemBlock5(std::uint16_t n) override;
  void OnSystemRelaid1(std::uint16_t n) override;
  void OnSystemRelaid3(std::uint16_t n) override;
  void OnSystemRelaid4(std::uint16_t n) override;

 private:
  // Types 1 and 3: tables emptied going down, tables declared going up.
  void SystemBlock13(std::uint16_t n, std::uint32_t emptyFirst, std::uint32_t declare9);
  void FourStep(std::uint32_t word, std::uint16_t mask, unsigned shift);
  void Word107Step(std::uint16_t n);
  void Table0CleanUp(std::uint16_t n);
  bool Active() const { return convertLayout || refreshOnly; }
};

}  // namespace bcu::codeplug
