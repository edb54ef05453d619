// The window's parts on their own: picture decoding, the two dialogs and the
// drawing of the port list.
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/qt/Aboutdlg.h"
#include "app/qt/Codedownpassdlg.h"
#include "app/qt/JpegImage.h"
#include "app/qt/PortComboBox.h"

using namespace bcu::qt;

namespace {

// Runs `action` on the active modal dialog as soon as the dialog is up.
void WhenModalShown(std::function<void(QWidget*)> action) {
  QTimer::singleShot(0, [action] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) {
      WhenModalShown(action);  // not up yet: look again on the next turn
      return;
    }
    action(modal);
  });
}

bool Near(QColor a, QColor b, int tolerance) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

}  // namespace

class PartsTest : public QObject {
  Q_OBJECT
 private slots:
  void picturesDecodeAtTheirDesignSizes_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QColor>("colour");
    // Corners show the window face colour; the logo's disc is blue, which
    // shows that the channels come out in RGB order.
    const QColor face(239, 239, 239);
    QTest::newRow("PortableX") << ":/pictures/PortableX.jpg" << QSize(113, 113) << QPoint(0, 0)
                               << face;
    QTest::newRow("PortableG") << ":/pictures/PortableG.jpg" << QSize(145, 121) << QPoint(0, 0)
                               << face;
    QTest::newRow("MobileX") << ":/pictures/MobileX.jpg" << QSize(145, 113) << QPoint(0, 0) << face;
    QTest::newRow("MobileG") << ":/pictures/MobileG.jpg" << QSize(145, 113) << QPoint(0, 0) << face;
    QTest::newRow("Logo corner") << ":/pictures/Logo.jpg" << QSize(64, 64) << QPoint(0, 0) << face;
    QTest::newRow("Logo disc") << ":/pictures/Logo.jpg" << QSize(64, 64) << QPoint(10, 32)
                               << QColor(60, 110, 190);
  }
  void picturesDecodeAtTheirDesignSizes() {
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(QPoint, at);
    QFETCH(QColor, colour);
    const QImage image = LoadJpeg(path);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), size);
    QVERIFY2(Near(image.pixelColor(at), colour, 12), qPrintable(image.pixelColor(at).name()));
  }

  void brokenJpegDataGivesANullImage() {
    QFile file(":/pictures/Logo.jpg");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray jpeg = file.readAll();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(jpeg.constData());
    QVERIFY(DecodeJpeg(nullptr, 0).isNull());
    const QByteArray text("not a picture at all");
    QVERIFY(
        DecodeJpeg(reinterpret_cast<const std::uint8_t*>(text.constData()), text.size()).isNull());
    // A stream cut inside its header.
    QVERIFY(DecodeJpeg(bytes, 40).isNull());
    // A stream with its entropy-coded data overwritten: libjpeg either gives
    // up or pads, but never takes the process down.
    QByteArray damaged = jpeg;
    for (int i = damaged.size() / 2; i < damaged.size() - 2; ++i) damaged[i] = char(0xFF);
    const QImage image =
        DecodeJpeg(reinterpret_cast<const std::uint8_t*>(damaged.constData()), damaged.size());
    QVERIFY(image.isNull() || image.size() == QSize(64, 64));
    QVERIFY(LoadJpeg(":/pictures/NoSuchPicture.jpg").isNull());
  }

  void passwordDialogLayout() {
    TCodeDownPassDispDlg dialog(nullptr);
    QCOMPARE(dialog.windowTitle(), QString("Radio Code Update - Enter Password"));
    QCOMPARE(dialog.size(), QSize(387, 107));
    QCOMPARE(dialog.Label1->text(), QString("Please enter your password:"));
    QCOMPARE(dialog.m_PasswordEdit->width(), 265);
    QCOMPARE(dialog.m_PasswordEdit->echoMode(), QLineEdit::Password);
    QCOMPARE(dialog.BitBtn1->text(), QString("OK"));
    QCOMPARE(dialog.BitBtn2->text(), QString("Cancel"));
    QVERIFY(!dialog.m_Confirmed);
    dialog.m_PasswordEdit->setText("gablers");
    QCOMPARE(dialog.m_PasswordEdit->displayText(), QString("*******"));
  }

  void passwordDialogOkConfirmsWithTheTypedText() {
    TCodeDownPassDispDlg dialog(nullptr);
    bool focusInEdit = false;
    WhenModalShown([&](QWidget* modal) {
      auto* dlg = qobject_cast<TCodeDownPassDispDlg*>(modal);
      QVERIFY(dlg != nullptr);
      QVERIFY(QTest::qWaitForWindowActive(dlg));
      focusInEdit = QApplication::focusWidget() == dlg->m_PasswordEdit;
      QTest::keyClicks(QApplication::focusWidget(), " gablers ");
      QTest::mouseClick(dlg->BitBtn1, Qt::LeftButton);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(focusInEdit);
    QVERIFY(dialog.m_Confirmed);
    QCOMPARE(dialog.m_PasswordEdit->text(), QString(" gablers "));
  }

  void passwordDialogCancelRefusesEvenWithText() {
    TCodeDownPassDispDlg dialog(nullptr);
    WhenModalShown([](QWidget* modal) {
      auto* dlg = qobject_cast<TCodeDownPassDispDlg*>(modal);
      QVERIFY(dlg != nullptr);
      QTest::keyClicks(dlg->m_PasswordEdit, "gablers");
      QTest::mouseClick(dlg->BitBtn2, Qt::LeftButton);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(!dialog.m_Confirmed);
  }

  void passwordDialogEnterMeansOk() {
    TCodeDownPassDispDlg dialog(nullptr);
    WhenModalShown([](QWidget* modal) {
      auto* dlg = qobject_cast<TCodeDownPassDispDlg*>(modal);
      QVERIFY(dlg != nullptr);
      QTest::keyClicks(dlg->m_PasswordEdit, "tollmore");
      QTest::keyClick(dlg->m_PasswordEdit, Qt::Key_Return);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(dialog.m_Confirmed);
  }

  void aboutBox() {
    TAboutDialog about(nullptr);
    QCOMPARE(about.windowTitle(), QString("About"));
    QCOMPARE(about.size(), QSize(302, 225));
    QCOMPARE(about.NameLabel->text(), QString("Brisant Code Updater"));
    QCOMPARE(about.VersionLabel->text(), QString("Version 1.3.2"));
    QVERIFY(!about.CopyrightLabel->text().isEmpty());
    QCOMPARE(about.OKButton->text(), QString("OK"));
    QVERIFY(!about.Image1->pixmap().isNull());
    QCOMPARE(about.Image1->pixmap().size(), QSize(64, 64));
    // On the screen the box measures 302 by 225 with its frame.
    QSize outer;
    WhenModalShown([&outer](QWidget* modal) {
      auto* dlg = qobject_cast<TAboutDialog*>(modal);
      QVERIFY(dlg != nullptr);
      outer = dlg->frameGeometry().size();
      QTest::mouseClick(dlg->OKButton, Qt::LeftButton);
    });
    QCOMPARE(about.exec(), int(QDialog::Accepted));
    QCOMPARE(outer, QSize(302, 225));
  }

  void portItemColours() {
    QPalette palette;
    palette.setColor(QPalette::Highlight, QColor(0, 0, 128));
    palette.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    palette.setColor(QPalette::Base, QColor(250, 250, 250));
    palette.setColor(QPalette::Text, QColor(0, 0, 0));
    const QColor grey(128, 128, 128);

    PortItemColors c = ColorsForPortItem(true, true, palette);
    QCOMPARE(c.background, QColor(0, 0, 128));
    QCOMPARE(c.text, QColor(255, 255, 255));
    c = ColorsForPortItem(true, false, palette);
    QCOMPARE(c.background, QColor(250, 250, 250));
    QCOMPARE(c.text, QColor(0, 0, 0));
    c = ColorsForPortItem(false, true, palette);
    QCOMPARE(c.background, QColor(Qt::white));
    QCOMPARE(c.text, grey);
    c = ColorsForPortItem(false, false, palette);
    QCOMPARE(c.background, QColor(250, 250, 250));
    QCOMPARE(c.text, grey);
  }

  // Renders items through the list's delegate and looks at the pixels: the
  // background fills the whole item and the text is drawn in its colour.
  void portListDelegateDrawsByPresence() {
    TPortComboBox combo(nullptr);
    for (int i = 1; i <= 4; ++i) combo.addItem(QString("COM%1").arg(i));
    combo.SetPresentQuery([](int row) { return row == 1 || row == 3; });
    QPalette palette = combo.palette();
    palette.setColor(QPalette::Highlight, QColor(0, 0, 128));
    palette.setColor(QPalette::HighlightedText, QColor(255, 255, 0));
    palette.setColor(QPalette::Base, QColor(255, 255, 255));
    palette.setColor(QPalette::Text, QColor(0, 0, 0));

    auto render = [&](int row, bool selected) {
      QImage image(60, kPortItemHeight, QImage::Format_RGB32);
      image.fill(Qt::magenta);
      QPainter painter(&image);
      QStyleOptionViewItem option;
      option.rect = image.rect();
      option.palette = palette;
      option.state =
          QStyle::State_Enabled | (selected ? QStyle::State_Selected : QStyle::State_None);
      combo.Delegate()->paint(&painter, option, combo.model()->index(row, 0));
      return image;
    };
    auto hasColour = [](const QImage& image, QColor colour) {
      for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
          if (image.pixelColor(x, y) == colour) return true;
      return false;
    };

    QImage present = render(1, true);
    QCOMPARE(present.pixelColor(59, 0), QColor(0, 0, 128));
    QVERIFY(hasColour(present, QColor(255, 255, 0)));
    QImage missing = render(2, true);
    QCOMPARE(missing.pixelColor(59, 0), QColor(Qt::white));
    QVERIFY(hasColour(missing, QColor(128, 128, 128)));
    QVERIFY(!hasColour(missing, QColor(255, 0, 255)));

    QCOMPARE(
        combo.Delegate()->sizeHint(QStyleOptionViewItem(), combo.model()->index(0, 0)).height(),
        kPortItemHeight);

    // A disabled list draws every port grey, present or not.
    QVERIFY(combo.Delegate()->Available(3));
    combo.setEnabled(false);
    QVERIFY(!combo.Delegate()->Available(3));
    QImage disabled = render(3, true);
    QCOMPARE(disabled.pixelColor(59, 0), QColor(Qt::white));
    QVERIFY(hasColour(disabled, QColor(128, 128, 128)));
  }
};

QTEST_MAIN(PartsTest)
#include "PartsTest.moc"
