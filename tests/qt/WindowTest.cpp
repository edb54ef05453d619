// The real main window, started as the program starts it, against a virtual
// radio on a pseudo-terminal with a fast clock.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <memory>
#include <vector>

#include "app/ResourceAttributes.h"
#include "app/UpdateHistory.h"
#include "app/qt/Aboutdlg.h"
#include "app/qt/Codedownpassdlg.h"
#include "app/qt/Codeupdatermainform.h"
#include "app/qt/PortComboBox.h"
#include "app/qt/WindowSetup.h"
#include "platform/EmbeddedResources.h"
#include "sim/BuiltinCodeplug.h"
#include "tests/qt/ModalScript.h"

using namespace bcu;
using namespace bcu::qt;
using bcu::qt::test::ModalScript;

namespace {

constexpr int kLongWaitMs = 120000;  // an upper bound for a whole update, never a measurement

// No ports of the machine: the list holds the virtual radio only.
class NoSystemPorts final : public platform::PortDiscovery {
 public:
  bool ListDevices(std::vector<platform::SerialDeviceInfo>& devices) override {
    devices.clear();
    return true;
  }
  platform::PortTestResult TestOpen(const std::string& path) override {
    return platform::TestOpenDevice(path);
  }
};

// The status texts the window showed, in order, sampled while the event loop
// runs: a failure message says how the run got where it ended.
QStringList statusTrail;
// What the virtual radio saw, for the same messages.
std::function<QString()> radioSummary;

// Where a script stopped, for failure messages.
QByteArray Why(const ModalScript& script, TCodeUpdaterMainDispForm& form) {
  return (QString("waiting for \"%1\"; status \"%2\"; unexpected: %3; statuses: %4; radio: %5")
              .arg(script.Pending(), form.m_StatusLabel->text(), script.unexpected.join("; "),
                   statusTrail.join(" | "), radioSummary ? radioSummary() : QString()))
      .toLocal8Bit();
}

QMessageBox* ActiveBox() {
  return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}
TCodeDownPassDispDlg* ActivePasswordDialog() {
  return qobject_cast<TCodeDownPassDispDlg*>(QApplication::activeModalWidget());
}

// The demo firmware set with other attributes.
class AttributesOverride final : public platform::ResourceSource {
 public:
  explicit AttributesOverride(const app::ResourceAttributes& a) {
    app::EncodeResourceAttributes(a, bytes_);
  }
  bool Find(std::string_view type, std::string_view name,
            std::span<const std::uint8_t>& bytes) const override {
    if (platform::ResourceKey(type, name) == platform::ResourceKey("TEXT", "ResourceAttributes_")) {
      bytes = std::span<const std::uint8_t>(bytes_, sizeof bytes_);
      return true;
    }
    return platform::EmbeddedResources().Find(type, name, bytes);
  }

 private:
  std::uint8_t bytes_[app::kResourceAttributesSize] = {};
};

app::ResourceAttributes EmbeddedAttributes() {
  std::span<const std::uint8_t> bytes;
  if (!platform::EmbeddedResources().Find("TEXT", "ResourceAttributes_", bytes) ||
      bytes.size() < app::kResourceAttributesSize) {
    return {};
  }
  return app::DecodeResourceAttributes(bytes.data());
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> workDir_;
  std::unique_ptr<QTemporaryDir> backupDir_;
  // Changes to the next window's request (the virtual radio, the clock).
  std::function<void(WindowSetupRequest&)> adjust_;
  NoSystemPorts ports_;
  std::unique_ptr<WindowSetup> setup_;
  std::unique_ptr<QTimer> trail_;

  // The window on a virtual radio whose boot code is current, so that Start
  // runs the application update straight away.
  TCodeUpdaterMainDispForm& Open(const platform::ResourceSource* resources = nullptr,
                                 bool simulate = true, std::array<std::uint8_t, 2> boot = {4, 2}) {
    trail_.reset();
    workDir_ = std::make_unique<QTemporaryDir>();
    WindowSetupRequest request;
    request.programPath = "/opt/bcu/BrisantCodeUpdater_6700_Series_4_Release_4_2";
    request.simulate = simulate;
    request.delayScale = 0.01;
    request.discovery = &ports_;
    request.resources = resources;
    request.workDir = workDir_->path().toStdString();
    backupDir_ = std::make_unique<QTemporaryDir>();
    request.backupRoot = backupDir_->path().toStdString() + "/backups";
    request.historyPath = HistoryPath().toStdString();
    if (adjust_) adjust_(request);
    request.radio.bootVersion = boot;
    std::string error;
    setup_ = WindowSetup::Create(request, error);
    if (!setup_) qFatal("cannot open the window: %s", error.c_str());
    setup_->Form().show();
    statusTrail.clear();
    trail_ = std::make_unique<QTimer>();
    QObject::connect(trail_.get(), &QTimer::timeout, [this] {
      const QString text = setup_->Form().m_StatusLabel->text();
      if (statusTrail.isEmpty() || statusTrail.back() != text) statusTrail.append(text);
    });
    trail_->start(2);
    radioSummary = [this]() -> QString {
      sim::PtyRadio* radio = setup_ ? setup_->Radio() : nullptr;
      if (radio == nullptr) return "none";
      return radio->With([](sim::VirtualRadio& r) {
        const sim::RadioCounters& c = r.Counters();
        return QString(
                   "%1 frames in, %2 bad, %3 ignored, %4 out, %5 blocks, %6 busy, %7 sums "
                   "differed, %8 files")
            .arg(c.framesReceived)
            .arg(c.badFrames)
            .arg(c.framesIgnored)
            .arg(c.framesSent)
            .arg(c.blocksReceived)
            .arg(c.busyReplies)
            .arg(c.sumsDiffered)
            .arg(r.Files().size());
      });
    };
    return setup_->Form();
  }

  // The update history of the window's runs (beside the backups).
  QString HistoryPath() const { return backupDir_->path() + "/history.jsonl"; }
  std::vector<app::HistoryRecord> HistoryLines() const {
    std::vector<app::HistoryRecord> records;
    int skipped = 0;
    std::string error;
    if (!app::ReadHistory(HistoryPath().toStdString(), records, skipped, error) || skipped != 0)
      qWarning("the history: %s, %d lines skipped", error.c_str(), skipped);
    return records;
  }

  static void AnswerPassword(ModalScript& script, QString password, bool ok) {
    script.Then(
        "password dialog", [] { return ActivePasswordDialog() != nullptr; },
        [password, ok] {
          TCodeDownPassDispDlg* dialog = ActivePasswordDialog();
          QTest::keyClicks(dialog->m_PasswordEdit, password);
          (ok ? dialog->BitBtn1 : dialog->BitBtn2)->click();
        });
  }

  // The flash download sets the bar's range to its own block count.
  static bool Downloading(TCodeUpdaterMainDispForm& form) {
    const QProgressBar* bar = form.m_ProgressBar;
    const int span = bar->maximum() - bar->minimum();
    if (!form.Updater().m_Running || span <= 0) return false;
    const int percent = (bar->value() - bar->minimum()) * 100 / span;
    return form.m_StatusLabel->text() != "Extracting embedded files..." && percent >= 5 &&
           percent < 90;
  }

 private slots:
  void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
  void cleanup() {
    trail_.reset();
    setup_.reset();
    adjust_ = nullptr;
  }

  void startUpShowsTheIntendedTarget() {
    TCodeUpdaterMainDispForm& form = Open();
    const app::ResourceAttributes a = EmbeddedAttributes();
    QCOMPARE(form.windowTitle(), QString("Brisant Code Updater"));
    QCOMPARE(form.m_NameLabel->text(),
             QString("Name: BrisantCodeUpdater_6700_Series_4_Release_4_2"));
    QCOMPARE(form.m_TargetReleaseLabel->text(), QString("4.2"));
    QCOMPARE(form.m_TargetRadioLabel->text(), QString(a.RadioFamily == 0 ? "6400" : "6700"));
    QCOMPARE(form.m_TargetSeriesLabel->text(), QString::number(a.Series));
    QCOMPARE(form.m_TargetUpgradeTypeLabel->text(), QString(app::UpgradeTypeName(a.UpgradeType)));
    QCOMPARE(form.ConfigDeskVersionLabel->text(),
             QString::fromStdString(app::AttributeText(a.ConfigDeskVersion)));
    QCOMPARE(form.m_StatusLabel->text(), QString("Idle"));
    QCOMPARE(form.m_StartButton->text(), QString("Start"));
    QCOMPARE(form.HWControllerVersionHeadingLabel->text(), QString("HC08 Software Version:"));
    QVERIFY(form.FileVersionLabel->text().isEmpty());
    // The demo set is a series-4 mobile "Application/Boot" updater: the boot
    // code is brought up to date by itself, so the choice is not shown.
    QCOMPARE(form.MobileXPicture->isVisible(), a.RadioFamily == 1 && a.Series != 6);
    QVERIFY(!form.PortableXPicture->isVisible());
    QVERIFY(!form.PortableGPicture->isVisible());
    QVERIFY(!form.MobileGPicture->isVisible());
    QVERIFY(!form.m_ApplicationRadioButton->isVisible());
    QVERIFY(!form.m_BootRadioButton->isVisible());
    QVERIFY(!form.m_UpgradeTypeLabel->isVisible());
    // 64 items, the virtual radio first and selected.
    QCOMPARE(form.m_ComportComboBox->count(), 64);
    QCOMPARE(form.m_ComportComboBox->currentIndex(), 0);
    QVERIFY(form.m_ComportComboBox->Delegate()->Available(0));
    QVERIFY(!form.m_ComportComboBox->Delegate()->Available(1));
  }

  void versionPanelToggleWidths() {
    TCodeUpdaterMainDispForm& form = Open();
    QCOMPARE(form.OuterWidth(), 417);
    QCOMPARE(form.height(), 409);
    QCOMPARE(form.m_ToggleVersionInfoSpeedButton->text(), QString(">>"));
    QVERIFY(!form.m_TargetVersionInfoGroupBox->isVisible());
    QTest::mouseClick(form.m_ToggleVersionInfoSpeedButton, Qt::LeftButton);
    QCOMPARE(form.OuterWidth(), 695);
    QCOMPARE(form.m_ToggleVersionInfoSpeedButton->text(), QString("<<"));
    QVERIFY(form.m_TargetVersionInfoGroupBox->isVisible());
    QTest::mouseClick(form.m_ToggleVersionInfoSpeedButton, Qt::LeftButton);
    QCOMPARE(form.OuterWidth(), 417);
    QCOMPARE(form.m_ToggleVersionInfoSpeedButton->text(), QString(">>"));
    QVERIFY(!form.m_TargetVersionInfoGroupBox->isVisible());
  }

  // The downloads set the bar's range and position; a position past the
  // range shows a full (or empty) bar instead of being ignored.
  void progressPositionStopsAtTheRangeEnds() {
    TCodeUpdaterMainDispForm& form = Open(nullptr, false);
    platform::ProgressBar& bar = form.Progress();
    bar.SetMin(0);
    bar.SetMax(100);
    bar.SetPosition(40);
    QCOMPARE(form.m_ProgressBar->value(), 40);
    bar.SetPosition(130);
    QCOMPARE(form.m_ProgressBar->value(), 100);
    QCOMPARE(bar.Position(), 100);
    bar.SetPosition(-5);
    QCOMPARE(form.m_ProgressBar->value(), 0);
  }

  void retrieveFillsThePanel() {
    TCodeUpdaterMainDispForm& form = Open();
    QTest::mouseClick(form.m_ToggleVersionInfoSpeedButton, Qt::LeftButton);
    ModalScript script;
    QTest::mouseClick(form.m_RetrieveVersionInfoButton, Qt::LeftButton);
    QVERIFY2(script.unexpected.isEmpty(), qPrintable(script.unexpected.join("; ")));
    // The virtual radio's defaults: format 5.9, DSP 3.2.1, controller 4.3.0,
    // hardware 1.4.0, boot 4.2 (set above), SEM 1.2.
    QCOMPARE(form.FileVersionLabel->text(), QString("5.9"));
    QCOMPARE(form.DSPVersionLabel->text(), QString("3.2.1"));
    QCOMPARE(form.HWControllerVersionHeadingLabel->text(), QString("Controller Version:"));
    QCOMPARE(form.HWControllerVersionLabel->text(), QString("4.3.0"));
    QCOMPARE(form.HWRevisionLabel->text(), QString("1.4.0"));  // platform code 7
    QCOMPARE(form.SerialNumberLabel->text(), QString("00-1A-2B-3C-4D-5E-6F-70"));
    QCOMPARE(form.BootLoadVersionLabel->text(), QString("4.2"));
    QCOMPARE(form.SEMVersionLabel->text(), QString("1.2"));
    QVERIFY(form.m_RetrieveVersionInfoButton->isEnabled());
    QCOMPARE(form.m_StatusLabel->text(), QString("Idle"));
  }

  // A run that fails ends with "Idle" in the status line, as the window
  // shows it; its tooltip says how the run ended.
  void aFailedRunSaysWhyInTheStatusTooltip() {
    TCodeUpdaterMainDispForm& form = Open(nullptr, false);  // no port present at all
    ModalScript script;
    AnswerPassword(script, "gablers", true);
    script.Then(
        "COM Port box", [] { return ActiveBox() != nullptr; },
        [] { ActiveBox()->button(QMessageBox::Ok)->click(); });
    QTest::mouseClick(form.m_StartButton, Qt::LeftButton);
    QVERIFY2(script.Finished(), Why(script, form).constData());
    QCOMPARE(form.m_StatusLabel->text(), QString("Idle"));
    const QString tip = form.m_StatusLabel->toolTip();
    QVERIFY2(tip.startsWith("Last run: Selected COM port is in use or not available. ("),
             qPrintable(tip));
  }

  void retrieveWithoutAPortOnlyComplains() {
    TCodeUpdaterMainDispForm& form = Open(nullptr, false);  // no port present at all
    ModalScript script;
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    script.Then(
        "COM Port box", [] { return ActiveBox() != nullptr; },
        [&] {
          QMessageBox* box = ActiveBox();
          caption = box->windowTitle();
          text = box->text();
          icon = box->icon();
          box->button(QMessageBox::Ok)->click();
        });
    QTest::mouseClick(form.m_RetrieveVersionInfoButton, Qt::LeftButton);
    QVERIFY2(script.Finished(), Why(script, form).constData());
    QVERIFY2(script.unexpected.isEmpty(), Why(script, form).constData());
    QCOMPARE(caption, QString("COM Port"));
    QCOMPARE(text, QString("Selected COM port is in use or not available."));
    QCOMPARE(icon, QMessageBox::Critical);
    QVERIFY(form.FileVersionLabel->text().isEmpty());
    QCOMPARE(form.HWControllerVersionHeadingLabel->text(), QString("HC08 Software Version:"));
    QVERIFY(form.m_RetrieveVersionInfoButton->isEnabled());
  }

  void fullUpdateEndsDone() {
    TCodeUpdaterMainDispForm& form = Open();
    QTest::mouseClick(form.m_RetrieveVersionInfoButton, Qt::LeftButton);
    QCOMPARE(form.FileVersionLabel->text(), QString("5.9"));
    const QString controllerBefore = form.HWControllerVersionLabel->text();
    QVERIFY(!controllerBefore.isEmpty());
    QVERIFY(HistoryLines().empty());  // a Retrieve is no run
    ModalScript script;
    AnswerPassword(script, "gablers", true);
    bool sawStop = false;
    script.Then(
        "downloading", [&] { return Downloading(form); },
        [&] {
          sawStop = form.m_StartButton->text() == "Stop" && !form.m_ComportComboBox->isEnabled() &&
                    !form.m_RetrieveVersionInfoButton->isEnabled();
        });
    QTest::mouseClick(form.m_StartButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!form.Updater().m_Running, kLongWaitMs);
    QVERIFY2(script.Finished(), Why(script, form).constData());
    QVERIFY2(script.unexpected.isEmpty(), qPrintable(script.unexpected.join("; ")));
    QVERIFY(sawStop);
    QCOMPARE(form.m_StatusLabel->text(), QString("Done."));
    QCOMPARE(form.m_ProgressBar->value(), 100);
    QCOMPARE(form.m_StartButton->text(), QString("Start"));
    QVERIFY(form.m_ComportComboBox->isEnabled());
    QVERIFY(form.m_RetrieveVersionInfoButton->isEnabled());
    QVERIFY(QDir(workDir_->path()).isEmpty());  // work files deleted
    // The radio took the new code and the converted codeplug.
    QVERIFY(setup_->Radio()->With([](sim::VirtualRadio& r) { return r.FormatVersion(); }) ==
            (std::array<std::uint8_t, 2>{5, 10}));
    // The versions read before the update are no longer shown beside it.
    QVERIFY(form.FileVersionLabel->text().isEmpty());
    QVERIFY(form.BootLoadVersionLabel->text().isEmpty());
    QVERIFY(!form.m_TargetVersionInfoGroupBox->toolTip().isEmpty());
    // The codeplug the radio held is kept.
    const QStringList backups =
        QDir(backupDir_->path() + "/backups/001A2B3C4D5E6F70").entryList(QDir::Files);
    QCOMPARE(backups.size(), 1);
    // The run is one line of the update history: the versions the panel
    // showed before, the format the new code expects, the backup, "Done.".
    const std::vector<app::HistoryRecord> lines = HistoryLines();
    QCOMPARE(lines.size(), std::size_t{1});
    const app::HistoryRecord& r = lines[0];
    QCOMPARE(QString::fromStdString(r.serialNumber), QString("001A2B3C4D5E6F70"));
    QCOMPARE(QString::fromStdString(r.versionsBefore.fileFormatVersion), QString("5.9"));
    QCOMPARE(QString::fromStdString(r.versionsBefore.controllerVersion), controllerBefore);
    QCOMPARE(QString::fromStdString(r.versionsAfter.fileFormatVersion), QString("5.10"));
    QCOMPARE(QString::fromStdString(r.codeplugFormatBefore), QString("5.9"));
    QCOMPARE(QString::fromStdString(r.codeplugFormatAfter), QString("5.10"));
    QCOMPARE(QString::fromStdString(r.backupPath),
             backupDir_->path() + "/backups/001A2B3C4D5E6F70/" + backups[0]);
    QCOMPARE(r.outcomeCode, 0);
    QCOMPARE(QString::fromStdString(r.outcomeText), QString("Done."));
    QVERIFY(!r.port.empty());

    // The password is asked once per run: the next Start runs at once.
    script.Stop();
    ModalScript again;
    QTest::mouseClick(form.m_StartButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!form.Updater().m_Running, kLongWaitMs);
    QVERIFY2(again.unexpected.isEmpty(), qPrintable(again.unexpected.join("; ")));
    QCOMPARE(HistoryLines().size(), std::size_t{2});
  }

  // The codeplug step of an update (a portable updater, a radio already
  // running its new code) on a radio that stores a word of its codeplug other
  // than it was sent: the read-back finds it. The failure text, the full path
  // of the backup in it, is shown whole (the status line takes the lines it
  // needs and the controls below make room), a box names the backup too, and
  // the bar is emptied.
  void codeplugFailureIsShownInFull() {
    QTemporaryDir radioFiles;
    const QString codeplug = radioFiles.filePath("codeplug-5.9.bin");
    {
      const std::vector<std::uint8_t> bytes = sim::BuildBuiltinCodeplug(5, 9);
      QFile file(codeplug);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    adjust_ = [&](WindowSetupRequest& r) {
      r.delayScale = 0.1;  // reply time-outs of 400 ms: the step must not fail by them
      r.radio.startMode = sim::RadioMode::kApplication;
      r.radio.family = sim::RadioFamily::kPortable;
      r.radio.formatBefore = {5, 10};  // what its new code expects
      r.radio.codeplugFile = codeplug.toStdString();
      r.radio.faults.alterStoredWord = 500;
    };
    app::ResourceAttributes portable = EmbeddedAttributes();
    portable.RadioFamily = 0;
    AttributesOverride resources(portable);
    TCodeUpdaterMainDispForm& form = Open(&resources);
    ModalScript script;
    QString boxCaption, boxText;
    QRect labelAtBox;
    script.Then(
        "backup box",
        [] { return ActiveBox() != nullptr && ActiveBox()->text().contains("kept in this file"); },
        [&] {
          QMessageBox* box = ActiveBox();
          boxCaption = box->windowTitle();
          boxText = box->text();
          labelAtBox = form.m_StatusLabel->geometry();
          box->button(QMessageBox::Ok)->click();
        });
    QVERIFY(form.Updater().OpenSelectedPort(true));
    form.Updater().PreserveAndShowCodeplug();
    form.Updater().ReleasePort();
    QVERIFY2(script.Finished(), Why(script, form).constData());
    QVERIFY2(script.unexpected.isEmpty(), Why(script, form).constData());

    const QStringList backups =
        QDir(backupDir_->path() + "/backups/001A2B3C4D5E6F70").entryList(QDir::Files);
    QCOMPARE(backups.size(), 1);
    const QString backup = backupDir_->path() + "/backups/001A2B3C4D5E6F70/" + backups[0];
    const QString text = form.m_StatusLabel->text();
    QVERIFY2(text.startsWith("An error occurred while downloading the codeplug."),
             qPrintable(text));
    QVERIFY2(text.contains(backup), qPrintable(text));
    QCOMPARE(boxCaption, QString("Brisant Code Updater"));
    QVERIFY2(boxText.contains(backup), qPrintable(boxText));
    QCOMPARE(form.m_ProgressBar->value(), 0);

    // Laid out in lines of the label's width, every character of the text is
    // on a line no wider than the label, and the lines fit its height.
    const QLabel* label = form.m_StatusLabel;
    QVERIFY(QFontMetrics(label->font()).horizontalAdvance(text) > label->width());
    QTextLayout layout(text, label->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal height = 0;
    int characters = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(label->width());
      QVERIFY(line.naturalTextWidth() <= label->width());
      height += line.height();
      characters += line.textLength();
    }
    layout.endLayout();
    QCOMPARE(characters, text.size());
    QVERIFY2(height <= label->height(),
             qPrintable(QString("%1 px of text in %2 px").arg(height).arg(label->height())));
    // Everything below the label moved down with it and stays in the window.
    const QWidget* group = form.m_CodeUpdateGroupBox;
    QVERIFY(label->geometry().bottom() < form.m_ProgressBar->geometry().top());
    QVERIFY(form.m_ProgressBar->geometry().bottom() < form.m_StartButton->geometry().top());
    QVERIFY(form.m_StartButton->geometry().bottom() < group->height());
    QVERIFY(group->geometry().bottom() < form.height());
    QCOMPARE(label->toolTip(), text);

    // A one-line text brings back the design's layout.
    form.ShowStatusText("Idle");
    QCOMPARE(label->geometry(), QRect(56, 84, 332, 16));
    QCOMPARE(form.m_ProgressBar->geometry().topLeft(), QPoint(10, 105));
    QCOMPARE(form.m_StartButton->geometry().topLeft(), QPoint(159, 145));
    QCOMPARE(group->geometry(), QRect(8, 222, 393, 179));
    QCOMPARE(form.height(), 409);
    QVERIFY(label->toolTip().isEmpty());
  }

  // A radio with boot code older than the set's: the boot code goes first,
  // the user is asked to put the radio back into bootload mode, then the
  // application follows on the same port.
  void outdatedBootCodeIsUpdatedFirst() {
    const app::ResourceAttributes a = EmbeddedAttributes();
    if (!((a.Series == 4 || a.Series == 6) && a.UpgradeType == app::kUpgradeApplicationBoot)) {
      QSKIP("the embedded set does not update boot code by itself");
    }
    TCodeUpdaterMainDispForm& form =
        Open(nullptr, true, {static_cast<std::uint8_t>(a.BootMajor), 0});
    ModalScript script;
    AnswerPassword(script, "gablers", true);
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    script.Then(
        "bootload mode", [] { return ActiveBox() != nullptr; },
        [&] {
          QMessageBox* box = ActiveBox();
          caption = box->windowTitle();
          text = box->text();
          icon = box->icon();
          box->button(QMessageBox::Ok)->click();
        });
    QTest::mouseClick(form.m_StartButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!form.Updater().m_Running, kLongWaitMs);
    QVERIFY2(script.Finished(), Why(script, form).constData());
    QVERIFY2(script.unexpected.isEmpty(), Why(script, form).constData());
    QCOMPARE(caption, QString("Brisant Code Updater"));
    QCOMPARE(icon, QMessageBox::Information);
    QCOMPARE(text, QString("Brisant Code Updater has detected that the connected radio did not\n"
                           "have the latest bootload code version.  This has been automatically\n"
                           "updated.  Please place the radio back into bootload mode to continue\n"
                           "with the application code upgrade.\n\nPress OK once the radio is "
                           "ready."));
    QCOMPARE(form.m_StatusLabel->text(), QString("Done."));
    QCOMPARE(form.m_ProgressBar->value(), 100);
  }

  void cancelledPasswordChangesNothing() {
    TCodeUpdaterMainDispForm& form = Open();
    ModalScript script;
    AnswerPassword(script, "gablers", false);  // the right word, but Cancel
    QTest::mouseClick(form.m_StartButton, Qt::LeftButton);
    QVERIFY2(script.Finished(), Why(script, form).constData());
    QVERIFY(script.unexpected.isEmpty());
    QVERIFY(!form.Updater().m_Running);
    QVERIFY(!form.Updater().m_PasswordAccepted);
    QCOMPARE(form.m_StatusLabel->text(), QString("Idle"));
    QCOMPARE(form.m_ProgressBar->value(), 0);

    // A wrong password is refused silently; the next press asks again.
    script.Stop();
    ModalScript wrong;
    AnswerPassword(wrong, "Gablers", true);
    QTest::mouseClick(form.m_StartButton, Qt::LeftButton);
    QVERIFY2(wrong.Finished(), Why(wrong, form).constData());
    QVERIFY(wrong.unexpected.isEmpty());
    QVERIFY(!form.Updater().m_PasswordAccepted);
    QCOMPARE(form.m_StatusLabel->text(), QString("Idle"));
  }

  void stopDuringTheDownload() {
    TCodeUpdaterMainDispForm& form = Open();
    ModalScript script;
    AnswerPassword(script, "gablers", true);
    int progressAfterStop = -1;
    QString captionAfterStop;
    bool enabledAfterStop = true, retrieveAfterStop = true, listAfterStop = true;
    script.Then(
        "stop", [&] { return Downloading(form); },
        [&] {
          form.m_StartButton->click();  // reads "Stop"
          progressAfterStop = form.m_ProgressBar->value();
          // Until the run has unwound the window says it is stopping and
          // offers nothing to press but "Stop Now".
          captionAfterStop = form.m_StartButton->text();
          enabledAfterStop = form.m_StartButton->isEnabled();
          retrieveAfterStop = form.m_RetrieveVersionInfoButton->isEnabled();
          listAfterStop = form.m_ComportComboBox->isEnabled();
        });
    QTest::mouseClick(form.m_StartButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!form.Updater().m_Running, kLongWaitMs);
    QVERIFY2(script.Finished(), Why(script, form).constData());
    QVERIFY2(script.unexpected.isEmpty(), qPrintable(script.unexpected.join("; ")));
    QCOMPARE(progressAfterStop, 0);
    QCOMPARE(captionAfterStop, QString("Stop Now"));
    QVERIFY(enabledAfterStop);
    QVERIFY(!retrieveAfterStop);
    QVERIFY(!listAfterStop);
    QVERIFY(form.m_StatusLabel->text() != "Done.");
    QCOMPARE(form.m_StartButton->text(), QString("Start"));
    QVERIFY(form.m_StartButton->isEnabled());
    QVERIFY(QDir(workDir_->path()).isEmpty());
  }

  void closeDuringAnUpdateAsks() {
    TCodeUpdaterMainDispForm& form = Open();
    ModalScript script;
    AnswerPassword(script, "gablers", true);
    bool closedOnNo = true;
    bool runningAfterNo = false;
    bool shownWhileStopping = false;
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    script.Then(
        "close", [&] { return Downloading(form); }, [&] { closedOnNo = form.close(); });
    script.Then(
        "answer No", [] { return ActiveBox() != nullptr; },
        [&] {
          QMessageBox* box = ActiveBox();
          caption = box->windowTitle();
          text = box->text();
          icon = box->icon();
          buttons = box->standardButtons();
          box->button(QMessageBox::No)->click();
        });
    script.Then(
        "close again", [&] { return Downloading(form); },
        [&] {
          runningAfterNo = form.Updater().m_Running && form.isVisible();
          form.close();  // answered Yes below
          // The window stays, offering to stop at once, until the run has
          // unwound; then it closes.
          shownWhileStopping = form.isVisible() && form.m_StartButton->text() == "Stop Now" &&
                               form.m_StartButton->isEnabled();
        });
    script.Then(
        "answer Yes", [] { return ActiveBox() != nullptr; },
        [] { ActiveBox()->button(QMessageBox::Yes)->click(); });
    QTest::mouseClick(form.m_StartButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!form.Updater().m_Running, kLongWaitMs);
    QVERIFY2(script.Finished(), Why(script, form).constData());
    QVERIFY2(script.unexpected.isEmpty(), qPrintable(script.unexpected.join("; ")));
    QCOMPARE(caption, QString("Confirm"));
    QCOMPARE(text, QString("Update in progress.  Are you sure you want to quit?"));
    QCOMPARE(icon, QMessageBox::Question);
    QCOMPARE(buttons, QMessageBox::Yes | QMessageBox::No);
    QVERIFY(!closedOnNo);
    QVERIFY(runningAfterNo);
    QVERIFY(shownWhileStopping);
    QCOMPARE(form.Updater().m_RunState, app::RunState::Idle);
    QVERIFY(!form.isVisible());
    QVERIFY(form.QuitRequested());
    QVERIFY(form.m_StatusLabel->text() != "Done.");
  }

  void closeWhileIdleNeverAsks() {
    TCodeUpdaterMainDispForm& form = Open();
    ModalScript script;
    form.m_FileExitMenuItem->trigger();
    QVERIFY(!form.isVisible());
    QVERIFY(script.unexpected.isEmpty());
  }

  void aboutOnlyWhileIdle() {
    TCodeUpdaterMainDispForm& form = Open();
    ModalScript script;
    QString title, version;
    script.Then(
        "about", [] { return qobject_cast<TAboutDialog*>(QApplication::activeModalWidget()); },
        [&] {
          auto* about = qobject_cast<TAboutDialog*>(QApplication::activeModalWidget());
          title = about->windowTitle();
          version = about->VersionLabel->text();
          about->OKButton->click();
        });
    form.m_HelpAboutMenuItem->trigger();
    QVERIFY2(script.Finished(), Why(script, form).constData());
    QCOMPARE(title, QString("About"));
    QCOMPARE(version, QString("Version 1.3.2"));

    script.Stop();
    ModalScript during;
    AnswerPassword(during, "gablers", true);
    during.Then(
        "about while running", [&] { return Downloading(form); },
        [&] {
          form.m_HelpAboutMenuItem->trigger();  // returns at once: no box
          form.m_StartButton->click();          // Stop
        });
    QTest::mouseClick(form.m_StartButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!form.Updater().m_Running, kLongWaitMs);
    QVERIFY2(during.Finished(), Why(during, form).constData());
    QVERIFY2(during.unexpected.isEmpty(), qPrintable(during.unexpected.join("; ")));
  }

  void greyPortSelectionMovesToAPresentPort() {
    TCodeUpdaterMainDispForm& form = Open();
    form.m_ComportComboBox->setCurrentIndex(5);
    emit form.m_ComportComboBox->activated(5);
    QCOMPARE(form.m_ComportComboBox->currentIndex(), 0);
    form.m_UpdateCOMPortsMenuItem->trigger();
    QCOMPARE(form.m_ComportComboBox->count(), 64);
    QCOMPARE(form.m_ComportComboBox->currentIndex(), 0);
    QVERIFY(QApplication::overrideCursor() == nullptr);  // the hourglass is gone again

    // Without any present port the selection stays where the user put it.
    trail_.reset();
    setup_.reset();
    TCodeUpdaterMainDispForm& empty = Open(nullptr, false);
    QCOMPARE(empty.m_ComportComboBox->count(), 64);
    QCOMPARE(empty.m_ComportComboBox->itemText(0), QString("COM1"));
    empty.m_ComportComboBox->setCurrentIndex(7);
    emit empty.m_ComportComboBox->activated(7);
    QCOMPARE(empty.m_ComportComboBox->currentIndex(), 7);
    QVERIFY(!empty.m_ComportComboBox->Delegate()->Available(7));
  }

  void pictureAndChoiceFollowTheAttributes_data() {
    QTest::addColumn<int>("family");
    QTest::addColumn<int>("series");
    QTest::addColumn<int>("upgradeType");
    QTest::addColumn<QString>("picture");
    QTest::addColumn<bool>("choice");
    QTest::newRow("mobile series 5, Application/Boot") << 1 << 5 << 3 << "MobileXPicture" << true;
    QTest::newRow("mobile series 6, Application/Boot") << 1 << 6 << 3 << "MobileGPicture" << false;
    QTest::newRow("portable series 6, Application") << 0 << 6 << 0 << "PortableGPicture" << false;
    QTest::newRow("portable series 4, Boot") << 0 << 4 << 1 << "PortableXPicture" << false;
    QTest::newRow("portable series 5, Application/Boot")
        << 0 << 5 << 3 << "PortableXPicture" << true;
  }
  void pictureAndChoiceFollowTheAttributes() {
    QFETCH(int, family);
    QFETCH(int, series);
    QFETCH(int, upgradeType);
    QFETCH(QString, picture);
    QFETCH(bool, choice);
    app::ResourceAttributes a = EmbeddedAttributes();
    a.RadioFamily = static_cast<std::uint8_t>(family);
    a.Series = static_cast<std::uint8_t>(series);
    a.UpgradeType = static_cast<std::uint8_t>(upgradeType);
    AttributesOverride resources(a);
    TCodeUpdaterMainDispForm& form = Open(&resources, false);
    for (const char* name :
         {"PortableXPicture", "PortableGPicture", "MobileXPicture", "MobileGPicture"}) {
      QCOMPARE(form.findChild<QLabel*>(name)->isVisible(), picture == name);
    }
    QCOMPARE(form.m_TargetRadioLabel->text(), QString(family == 0 ? "6400" : "6700"));
    QCOMPARE(form.m_TargetSeriesLabel->text(), QString::number(series));
    QCOMPARE(form.m_UpgradeTypeLabel->isVisible(), choice);
    QCOMPARE(form.m_ApplicationRadioButton->isVisible(), choice);
    QCOMPARE(form.m_BootRadioButton->isVisible(), choice);
    if (!choice) return;
    QVERIFY(form.m_ApplicationRadioButton->isChecked());
    QVERIFY(!form.m_BootRadioButton->isChecked());
    QTest::mouseClick(form.m_BootRadioButton, Qt::LeftButton, {}, QPoint(6, 8));
    QVERIFY(form.m_BootRadioButton->isChecked());
    QVERIFY(!form.m_ApplicationRadioButton->isChecked());
    QTest::mouseClick(form.m_ApplicationRadioButton, Qt::LeftButton, {}, QPoint(6, 8));
    QVERIFY(form.m_ApplicationRadioButton->isChecked());
    QVERIFY(!form.m_BootRadioButton->isChecked());
  }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
