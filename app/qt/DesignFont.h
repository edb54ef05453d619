#pragma once
// The font the window and its dialogs are laid out for: a narrow sans serif at
// 8 points, so the captions fit the fixed design positions.
#include <QFont>
#include <QStringList>

namespace bcu::qt {

inline QFont DesignFont() {
  QFont font;
  font.setFamilies(
      {"MS Sans Serif", "Liberation Sans", "Arial", "DejaVu Sans Condensed", "DejaVu Sans"});
  font.setPointSize(8);
  return font;
}

}  // namespace bcu::qt
