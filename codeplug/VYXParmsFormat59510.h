#pragma once
// Conversion between file formats 5.9 and 5.10. The radio block gains 20 fixed
// words and radio table 1 grows from 16 to 64 rows; systems of types 1, 3 and 4
// gain directory entries, several tables get wider rows, types 1, 3 and 4 get
// an index table built from their channel table, and a number of fields move
// to their 5.10 places.
#include "codeplug/VYXParmsFormatConvertBase.h"

namespace bcu::codeplug {

class VYXParmsFormat59510 : public VYXParmsFormatConvertBase {
 public:
  VYXParmsFormat59510() { formatIndex = 5; }

 protected:
  void OnRadioBlock() override;
  void OnSystemTypeBlock0() override;
  void OnSystemBlock0(std::uint16_t n) override;
  void OnSystemBlock1(std::uint16_t n) override;
  void OnSystemBlock3(std::uint16_t n) override;
  void OnSystemBlock4(std::uint16_t n) override;
  void OnSystemBlock5(std::uint16_t n) override;
  void OnSystemRelaid4(std::uint16_t n) override;
  void OnSystemRelaid5(std::uint16_t n) override;
  void OnGroupBlock0(std::uint16_t n) override;
  void OnGroupBlock1(std::uint16_t n) override;
  void OnGroupBlock2(std::uint16_t n) override;
  void OnGroupBlock3(std::uint16_t n) override;
  void OnGroupBlock4(std::uint16_t n) override;

 private:
  bool Active() const { return convertLayout || refreshOnly; }
  // Types 1 and 3: the shared table moves and fields.
  void SystemBlock13(std::uint16_t n, int size5Low, int size6Low, std::uint32_t declare,
                     std::uint32_t indexTable);
  // In every row of table k (rows of `stride` words): row word `to` bits 5-0
  // := row word `from` bits 12-9, then those bits := 0.
  void MoveBits12To9(std::uint16_t block, std::uint32_t k, std::uint32_t stride, std::uint32_t from,
                     std::uint32_t to);
  void BuildIndexTable(std::uint16_t n, std::uint32_t x, std::uint32_t y, Word mask);
  void FfffCleanUp(std::uint16_t n);
  void FourStepUp(std::uint32_t word, std::uint16_t mask, unsigned shift);
};

}  // namespace bcu::codeplug
