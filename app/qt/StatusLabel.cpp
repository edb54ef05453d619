#include "app/qt/StatusLabel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>
#include <cmath>

namespace bcu::qt {

namespace {

// Lays `text` out in lines of `width` pixels; returns the height used.
qreal Layout(QTextLayout& layout, int width) {
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  qreal y = 0;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    line.setPosition(QPointF(0, y));
    y += line.height();
  }
  layout.endLayout();
  return y;
}

}  // namespace

TStatusLabel::TStatusLabel(QWidget* parent) : QLabel(parent) {}

bool TStatusLabel::NeedsWrapping(const QString& text, const QFont& font, int width) {
  return QFontMetrics(font).horizontalAdvance(text) > width;
}

int TStatusLabel::WrappedHeight(const QString& text, const QFont& font, int width) {
  QTextLayout layout(text, font);
  return static_cast<int>(std::ceil(Layout(layout, width)));
}

void TStatusLabel::paintEvent(QPaintEvent* event) {
  if (!NeedsWrapping(text(), font(), width())) {
    QLabel::paintEvent(event);
    return;
  }
  QPainter painter(this);
  painter.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
  QTextLayout layout(text(), font());
  Layout(layout, width());
  layout.draw(&painter, QPointF(0, 0));
}

}  // namespace bcu::qt
