// Platform codes: which radio hardware platform an updater is for, and which
// one a radio is by its boot version.
#include "app/CodeUpdater.h"

namespace bcu::app {

std::uint8_t PlatformCodeFromAttributes(std::uint8_t radioFamily, std::uint8_t series,
                                        std::uint8_t newPlatform) {
  if (radioFamily == 1) {
    if (newPlatform == 0) return 1;
    if (series == 4) return 7;
    if (series == 6) return 8;
    return 5;
  }
  if (radioFamily == 0) {
    if (series == 4) return 6;
    if (series == 6) return 0;
    return 4;
  }
  return 0;
}

std::uint8_t PlatformCodeFromBoot(std::uint8_t radioFamily, std::uint8_t bootMajor,
                                  std::uint8_t bootMinor) {
  if (radioFamily == 1) {
    if (bootMajor == 4) return 7;
    if (bootMajor == 6) return 8;
    if (bootMajor > 1 || (bootMajor == 1 && bootMinor > 8)) return 5;
    return 1;
  }
  if (radioFamily == 0) {
    if (bootMajor == 4 || bootMajor == 7) return 6;
    if (bootMajor == 6) return 0;
    return 4;
  }
  return 0;
}

std::string FamilyName(std::uint8_t radioFamily) {
  if (radioFamily == 0) return "6400";
  if (radioFamily == 1) return "6700";
  return {};
}

}  // namespace bcu::app
