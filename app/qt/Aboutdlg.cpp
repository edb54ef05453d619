#include "app/qt/Aboutdlg.h"

#include <QFrame>
#include <QLabel>
#include <QMargins>
#include <QPixmap>
#include <QPushButton>
#include <QWindow>

#include "app/qt/DesignFont.h"

#include "app/qt/JpegImage.h"

namespace bcu::qt {

namespace {

constexpr int kOuterWidth = 302;
constexpr int kOuterHeight = 225;

}  // namespace

TAboutDialog::TAboutDialog(QWidget* owner) : QDialog(owner) {
  setObjectName("TAboutDialog");
  setWindowTitle("About");
  setFont(DesignFont());
  setModal(true);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kOuterWidth, kOuterHeight);  // until the frame is known

  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setLineWidth(2);
  Panel1->setGeometry(8, 8, 286, 170);

  Image1 = new QLabel(Panel1);
  Image1->setObjectName("Image1");
  Image1->setGeometry(12, 12, 64, 64);
  Image1->setScaledContents(true);
  Image1->setPixmap(QPixmap::fromImage(LoadJpeg(":/pictures/Logo.jpg")));

  NameLabel = new QLabel("Brisant Code Updater", Panel1);
  NameLabel->setObjectName("NameLabel");
  NameLabel->move(92, 20);
  QFont bold = NameLabel->font();
  bold.setBold(true);
  NameLabel->setFont(bold);
  NameLabel->adjustSize();

  VersionLabel = new QLabel(QString("Version ") + kUpdaterVersion, Panel1);
  VersionLabel->setObjectName("VersionLabel");
  VersionLabel->move(92, 44);
  VersionLabel->adjustSize();

  CopyrightLabel = new QLabel("Copyright (c) 2026 Brisant Radio Systems", Panel1);
  CopyrightLabel->setObjectName("CopyrightLabel");
  CopyrightLabel->move(12, 96);
  CopyrightLabel->adjustSize();

  OKButton = new QPushButton("OK", this);
  OKButton->setObjectName("OKButton");
  OKButton->setGeometry(113, 188, 75, 25);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
  if (owner != nullptr) {
    const QRect o = owner->frameGeometry();
    move(o.center() - QPoint(width() / 2, height() / 2));
  }
}

void TAboutDialog::showEvent(QShowEvent* e) {
  if (const QWindow* window = windowHandle()) {
    const QMargins frame = window->frameMargins();
    setFixedSize(kOuterWidth - frame.left() - frame.right(),
                 kOuterHeight - frame.top() - frame.bottom());
  }
  QDialog::showEvent(e);
}

}  // namespace bcu::qt
