#include "app/qt/Codedownpassdlg.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/qt/DesignFont.h"

namespace bcu::qt {

TCodeDownPassDispDlg::TCodeDownPassDispDlg(QWidget* owner) : QDialog(owner) {
  setObjectName("TCodeDownPassDispDlg");
  setWindowTitle("Radio Code Update - Enter Password");
  setFont(DesignFont());
  setModal(true);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(387, 107);

  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setGeometry(8, 8, 289, 91);

  Label1 = new QLabel("Please enter your password:", Panel1);
  Label1->setObjectName("Label1");
  Label1->move(12, 18);
  Label1->adjustSize();

  m_PasswordEdit = new QLineEdit(Panel1);
  m_PasswordEdit->setObjectName("m_PasswordEdit");
  m_PasswordEdit->setGeometry(12, 42, 265, 21);
  m_PasswordEdit->setEchoMode(QLineEdit::Password);
  // Every character shows as "*" whatever the style's own mask character is.
  m_PasswordEdit->setStyleSheet("lineedit-password-character: 42");

  BitBtn1 = new QPushButton("OK", this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setGeometry(304, 8, 75, 25);
  BitBtn1->setDefault(true);

  BitBtn2 = new QPushButton("Cancel", this);
  BitBtn2->setObjectName("BitBtn2");
  BitBtn2->setGeometry(304, 40, 75, 25);

  connect(BitBtn1, &QPushButton::clicked, this, &TCodeDownPassDispDlg::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TCodeDownPassDispDlg::BitBtn2Click);
  if (owner != nullptr) {
    // Centred on the main window.
    const QRect o = owner->frameGeometry();
    move(o.center() - QPoint(width() / 2, height() / 2));
  }
}

void TCodeDownPassDispDlg::FormActivate() {
  m_PasswordEdit->setFocus(Qt::ActiveWindowFocusReason);
}

void TCodeDownPassDispDlg::BitBtn1Click() {
  m_Confirmed = true;
  accept();
}

void TCodeDownPassDispDlg::BitBtn2Click() {
  m_Confirmed = false;
  reject();
}

bool TCodeDownPassDispDlg::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) FormActivate();
  return QDialog::event(e);
}

void TCodeDownPassDispDlg::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  FormActivate();
}

}  // namespace bcu::qt
