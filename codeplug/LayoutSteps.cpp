#include "codeplug/LayoutSteps.h"

namespace bcu::codeplug {
namespace {

constexpr int kClasses = 11;

// Rows in BlockClass order.
constexpr LayoutStep kIndex4[kClasses] = {
    {64, 0, 15, 0},  {69, 0, 15, 0}, {70, 0, 15, 0},  {76, 0, 15, 0},
    {65, 0, 15, 0},  {96, 0, 15, 0}, {144, 0, 15, 0}, {348, 0, 15, 0},
    {313, 0, 15, 0}, {57, 0, 15, 0}, {38, 0, 15, 0},
};
constexpr LayoutStep kIndex5[kClasses] = {
    {84, 20, 15, 0}, {69, 0, 15, 0}, {70, 0, 15, 0},  {76, 0, 15, 0},
    {65, 0, 15, 0},  {96, 0, 15, 0}, {146, 0, 17, 2}, {354, 0, 21, 6},
    {319, 0, 21, 6}, {57, 0, 15, 0}, {38, 0, 15, 0},
};

}  // namespace

LayoutStep LayoutStepFor(BlockClass blockClass, std::uint8_t formatIndex) {
  const auto row = static_cast<int>(blockClass);
  if (formatIndex == 3 || formatIndex == 4) return kIndex4[row];
  if (formatIndex == 5) return kIndex5[row];
  return {};
}

bool SystemBlockClass(std::uint16_t systemType, BlockClass& blockClass) {
  switch (systemType) {
    case 0:
      blockClass = BlockClass::kSystemType0;
      return true;
    case 1:
      blockClass = BlockClass::kSystemType1;
      return true;
    case 3:
      blockClass = BlockClass::kSystemType3;
      return true;
    case 4:
      blockClass = BlockClass::kSystemType4;
      return true;
    case 5:
      blockClass = BlockClass::kSystemType5;
      return true;
    default:
      return false;
  }
}

}  // namespace bcu::codeplug
