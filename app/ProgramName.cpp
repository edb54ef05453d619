// The program's name and release, taken from its own file name, or from the
// firmware set when the file name carries no release.
#include <optional>

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

// The release a name label text carries, if it carries one.
std::optional<std::string> ReleaseInNameLabel(const std::string& nameLabelText) {
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
  if (at == std::string::npos) return std::nullopt;
  return text.substr(at + 8);
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
  return ReleaseInNameLabel(nameLabelText).value_or("N/A");
}

void NameAndRelease(const std::string& programPath, const FirmwareSetIdentity& set,
                    std::string& nameLabel, std::string& release) {
  nameLabel = "Name: " + ProgramNameFromPath(programPath);
  if (auto fromName = ReleaseInNameLabel(nameLabel)) {
    release = *fromName;
    return;
  }
  // Started by its installed name or from the menu: the file name says
  // nothing about the set, the set itself does.
  if (!set.name.empty()) nameLabel = "Name: " + set.name;
  release = set.release.empty() ? "N/A" : set.release;
}

}  // namespace bcu::app
