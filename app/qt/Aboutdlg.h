#pragma once
// The about box: logo, program name, version and copyright.
#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace bcu::qt {

// The updater's own version, shown as "Version 1.3.2".
inline constexpr const char* kUpdaterVersion = "1.3.2";

class TAboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutDialog(QWidget* owner);

  QFrame* Panel1;
  QLabel* Image1;
  QLabel* NameLabel;
  QLabel* VersionLabel;
  QLabel* CopyrightLabel;
  QPushButton* OKButton;

 protected:
  // The box measures 302 by 225 on the screen, its frame included: once the
  // frame is known the inside shrinks by it.
  void showEvent(QShowEvent* e) override;
};

}  // namespace bcu::qt
