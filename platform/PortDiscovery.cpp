#include "platform/PortDiscovery.h"

#include <cstdlib>

namespace bcu::platform {

namespace {

// Rank of a device name's family and the number at its end.
void SplitName(const std::string& name, int& rank, std::string& stem, long& number) {
  std::size_t digits = name.size();
  while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
  stem = name.substr(0, digits);
  number = digits < name.size() ? std::strtol(name.c_str() + digits, nullptr, 10) : -1;
  if (stem == "ttyS")
    rank = 0;
  else if (stem == "ttyUSB")
    rank = 1;
  else if (stem == "ttyACM")
    rank = 2;
  else
    rank = 3;
}

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
  int rankA = 0, rankB = 0;
  std::string stemA, stemB;
  long numberA = 0, numberB = 0;
  SplitName(a, rankA, stemA, numberA);
  SplitName(b, rankB, stemB, numberB);
  if (rankA != rankB) return rankA < rankB;
  if (stemA != stemB) return stemA < stemB;
  if (numberA != numberB) return numberA < numberB;
  return a < b;
}

int UsbBoxKindFromText(const std::string& text) {
  if (text.find("USB XIF VYX 6400") != std::string::npos) return 1;
  if (text.find("USB XIF VYX 6700") != std::string::npos) return 2;
  return 0;
}

int ComNumberFromFriendlyName(const std::string& name) {
  if (name.size() <= 21) return 0;
  std::string rest = name.substr(21);
  // Without the closing parenthesis the name is not read at all.
  const auto close = rest.find(')');
  if (close == std::string::npos) return 0;
  rest.erase(close);
  // A decimal number and nothing else; leading zeros do not count, and any
  // value above 64 is out of range however many digits it has.
  if (rest.empty()) return 0;
  int n = 0;
  for (char c : rest) {
    if (c < '0' || c > '9') return 0;
    if (n <= 64) n = n * 10 + (c - '0');
  }
  return (n >= 1 && n <= 64) ? n : 0;
}

}  // namespace bcu::platform
