#include "app/qt/PortComboBox.h"

#include <QAbstractItemView>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace bcu::qt {

PortItemColors ColorsForPortItem(bool available, bool selected, const QPalette& palette) {
  PortItemColors c;
  if (available) {
    c.background = selected ? palette.color(QPalette::Highlight) : palette.color(QPalette::Base);
    c.text = selected ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::Text);
  } else {
    c.background = selected ? QColor(Qt::white) : palette.color(QPalette::Base);
    c.text = QColor(128, 128, 128);
  }
  return c;
}

void DrawPortItem(QPainter* painter, const QRect& rect, const QString& text, bool available,
                  bool selected, const QPalette& palette) {
  const PortItemColors c = ColorsForPortItem(available, selected, palette);
  painter->save();
  painter->fillRect(rect, c.background);
  painter->setClipRect(rect);
  painter->setPen(c.text);
  painter->drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
  painter->restore();
}

PortItemDelegate::PortItemDelegate(QComboBox* combo, std::function<bool(int)> present)
    : QStyledItemDelegate(combo), combo_(combo), present_(std::move(present)) {}

bool PortItemDelegate::Available(int row) const {
  return combo_->isEnabled() && present_ && present_(row);
}

void PortItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  const bool selected = option.state & QStyle::State_Selected;
  DrawPortItem(painter, option.rect, index.data(Qt::DisplayRole).toString(), Available(index.row()),
               selected, option.palette);
}

QSize PortItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  size.setHeight(kPortItemHeight);
  return size;
}

TPortComboBox::TPortComboBox(QWidget* parent) : QComboBox(parent) {
  setEditable(false);
  delegate_ = new PortItemDelegate(this, nullptr);
  setItemDelegate(delegate_);
}

void TPortComboBox::SetPresentQuery(std::function<bool(int)> present) {
  delegate_->SetPresentQuery(std::move(present));
  update();
}

void TPortComboBox::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionComboBox opt;
  initStyleOption(&opt);
  opt.currentText.clear();
  opt.currentIcon = QIcon();
  painter.drawComplexControl(QStyle::CC_ComboBox, opt);
  const QRect field =
      style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
  if (currentIndex() >= 0) {
    DrawPortItem(&painter, field, currentText(), delegate_->Available(currentIndex()), hasFocus(),
                 palette());
  }
}

}  // namespace bcu::qt
