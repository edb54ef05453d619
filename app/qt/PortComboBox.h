#pragma once
// The owner-drawn COM port list. A port that was not present at the last scan,
// or any port while the list is disabled, is drawn grey (128, 128, 128); a
// selected grey item gets a white background instead of the highlight, so the
// user sees at once that the chosen port cannot be used.
#include <QColor>
#include <QComboBox>
#include <QStyledItemDelegate>
#include <functional>

namespace bcu::qt {

// Background and text colour of one item.
struct PortItemColors {
  QColor background;
  QColor text;
};

// The drawing rule: available = the port is present and the list is enabled.
PortItemColors ColorsForPortItem(bool available, bool selected, const QPalette& palette);

// Fills `rect` with the background and writes `text` at its left and top,
// clipped to it.
void DrawPortItem(QPainter* painter, const QRect& rect, const QString& text, bool available,
                  bool selected, const QPalette& palette);

class PortItemDelegate : public QStyledItemDelegate {
 public:
  // `present(row)` tells whether the port of item `row` was present at the
  // last scan.
  PortItemDelegate(QComboBox* combo, std::function<bool(int)> present);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  void SetPresentQuery(std::function<bool(int)> present) { present_ = std::move(present); }
  bool Available(int row) const;

 private:
  QComboBox* combo_;
  std::function<bool(int)> present_;
};

inline constexpr int kPortItemHeight = 13;

// The combo box itself: its closed face shows the selected item with the same
// rule (selected while it has the focus).
class TPortComboBox : public QComboBox {
  Q_OBJECT
 public:
  explicit TPortComboBox(QWidget* parent);
  // Where the list learns whether the port of an item is present.
  void SetPresentQuery(std::function<bool(int)> present);
  PortItemDelegate* Delegate() const { return delegate_; }

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  PortItemDelegate* delegate_ = nullptr;
};

}  // namespace bcu::qt
