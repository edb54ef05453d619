// The structural check, the finders and the table access on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "codeplug/Blocks.h"
#include "codeplug/CodeplugFile.h"
#include "codeplug/TableAccess.h"
#include "codeplug/TableWordLayout.h"
#include "codeplug/Validity.h"

using namespace bcu::codeplug;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto image = std::make_unique<CodeplugImage>();
  std::string error;
  if (size > kImageBytes) size = kImageBytes;
  if (!ImageFromRadioBytes(std::span(data, size & ~std::size_t{1}), *image, error)) return 0;
  (void)CheckParmsImage(*image);
  for (std::uint16_t n = 0; n < 20; ++n) {
    const std::uint16_t s = FindSystemBlock(*image, n);
    (void)FindSystemTypeBlock(*image, n);
    const std::uint16_t g = FindGroupBlock(*image, n);
    (void)GetSystemType(*image, n);
    (void)TableStart(*image, s, n % 32);
    (void)TableFits(*image, g, n);
    (void)GetDirectoryEntry(*image, GroupBlock{n}, 31);
  }
  SetTableWordLayout(*image, true);
  (void)ParmsImageIsValid(*image);
  return 0;
}
