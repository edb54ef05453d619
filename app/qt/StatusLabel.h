#pragma once
// The status line. Short texts look as the design has them: one line, left
// aligned, vertically centred in the label's 16 pixels. A text longer than the
// label is wide (a failure with the path of the file that holds the radio's
// codeplug) is wrapped into as many lines as it takes: at word boundaries,
// and inside a word only where one is longer than a whole line, as a path
// often is. The window makes room for the lines (see TCodeUpdaterMainDispForm).
#include <QLabel>

namespace bcu::qt {

class TStatusLabel : public QLabel {
 public:
  explicit TStatusLabel(QWidget* parent);

  // True when `text` does not fit on one line of `width` pixels in `font`.
  static bool NeedsWrapping(const QString& text, const QFont& font, int width);
  // The height that `text` takes when wrapped into lines of `width` pixels.
  static int WrappedHeight(const QString& text, const QFont& font, int width);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace bcu::qt
