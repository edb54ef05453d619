#pragma once
// The block layouts of formats 5.9 and 5.10: per block class, where table 0
// starts, how many fixed words and directory entries the higher format adds,
// and the table count. Formats 5.5 to 5.7 have no entries; 5.8 shares the 5.9
// layout.
#include <cstdint>

namespace bcu::codeplug {

enum class BlockClass : std::uint8_t {
  kRadio,
  kSystemTypeCode0,
  kSystemTypeCode1,  // serves system types 1 and 3
  kSystemTypeCode4,
  kSystemTypeCode5,
  kSystemType0,
  kSystemType1,
  kSystemType3,
  kSystemType4,
  kSystemType5,
  kGroup,
};

struct LayoutStep {
  std::uint16_t firstTable = 0;   // position of table 0 in the higher format
  std::uint16_t fixedAdded = 0;   // fixed words the higher format adds
  std::uint16_t tableCount = 0;   // table count in the higher format
  std::uint16_t tablesAdded = 0;  // directory entries the higher format adds
};

// The entry for a block class and the format index that a step produces
// going up (all zero below index 3; index 3 reads as index 4).
LayoutStep LayoutStepFor(BlockClass blockClass, std::uint8_t formatIndex);

// The block class of a system block of `systemType`; false for a type without
// a class (2, 6 and above).
bool SystemBlockClass(std::uint16_t systemType, BlockClass& blockClass);

}  // namespace bcu::codeplug
