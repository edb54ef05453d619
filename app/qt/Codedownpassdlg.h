#pragma once
// The password dialog: asks for the start password before the first update of
// a run, and for the codeplug password when the radio's codeplug is protected.
#include <QDialog>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace bcu::qt {

class TCodeDownPassDispDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TCodeDownPassDispDlg(QWidget* owner);

  // Set by OK, cleared by Cancel; false until one of them is pressed.
  bool m_Confirmed = false;

  QFrame* Panel1;
  QLabel* Label1;
  QLineEdit* m_PasswordEdit;
  QPushButton* BitBtn1;  // OK
  QPushButton* BitBtn2;  // Cancel

  void FormActivate();
  void BitBtn1Click();
  void BitBtn2Click();

 protected:
  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
};

}  // namespace bcu::qt
