// The program's name and release, taken from its own file name.
#include "app/CodeUpdater.h"

namespace bcu::app {

namespace {

// Leading and trailing blanks and control characters removed.
std::string Trimmed(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

}  // namespace

std::string ProgramNameFromPath(const std::string& programPath) {
  std::string name = programPath;
  const auto slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const auto dot = name.find('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

std::string ReleaseFromNameLabel(const std::string& nameLabelText) {
  std::string text = Trimmed(nameLabelText);
  // An underscore becomes "." where "Release" and two characters stand before
  // it ("Release_4_1" -> "Release 4.1"), a blank everywhere else. The last
  // character is left alone.
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '_') continue;
    const bool afterRelease = i >= 9 && text.compare(i - 9, 7, "Release") == 0;
    text[i] = afterRelease ? '.' : ' ';
  }
  const auto at = text.find("Release ");
  if (at == std::string::npos) return "N/A";
  return text.substr(at + 8);
}

}  // namespace bcu::app
