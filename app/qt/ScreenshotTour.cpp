// bcu-screenshots: walks the window through its main states against a virtual
// radio and writes one PNG file per state into the folder given as the first
// argument: idle, version panel shown, the password dialog, a download under
// way, "Done." and the about box. Run under a display (xvfb-run) or with
// QT_QPA_PLATFORM=offscreen.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <functional>

#include "app/qt/Aboutdlg.h"
#include "app/qt/Codedownpassdlg.h"
#include "app/qt/Codeupdatermainform.h"
#include "app/qt/WindowSetup.h"
#include "sim/BuiltinCodeplug.h"

namespace {

// No ports of the machine: the list shows the virtual radio only.
class NoSystemPorts final : public bcu::platform::PortDiscovery {
 public:
  bool ListDevices(std::vector<bcu::platform::SerialDeviceInfo>& devices) override {
    devices.clear();
    return true;
  }
  bcu::platform::PortTestResult TestOpen(const std::string& path) override {
    return bcu::platform::TestOpenDevice(path);
  }
};

// Calls `act` from the event loop that is turning (an update's own waits, a
// modal dialog) once `ready` holds.
void When(std::function<bool()> ready, std::function<void()> act) {
  QTimer::singleShot(5, [ready, act] {
    if (ready()) {
      act();
    } else {
      When(ready, act);
    }
  });
}

bool Save(QWidget* widget, const QDir& dir, const char* name) {
  QApplication::processEvents();
  const QString path = dir.filePath(QString(name) + ".png");
  if (!widget->grab().save(path, "PNG")) {
    std::fprintf(stderr, "bcu-screenshots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  if (argc < 2) {
    std::fprintf(stderr, "usage: bcu-screenshots OUTPUT_FOLDER\n");
    return 2;
  }
  QDir out(QString::fromLocal8Bit(argv[1]));
  if (!out.mkpath(".")) return 1;
  QDir work(out.filePath("work"));
  work.mkpath(".");

  NoSystemPorts ports;
  bcu::qt::WindowSetupRequest request;
  request.programPath = "BrisantCodeUpdater_6700_Series_4_Release_4_2";
  request.simulate = true;
  request.delayScale = 0.05;
  request.discovery = &ports;
  request.workDir = work.path().toStdString();
  request.backupRoot = work.path().toStdString() + "/backups";
  request.historyPath = work.path().toStdString() + "/history.jsonl";
  request.radio.bootVersion = {4, 2};
  std::string error;
  auto setup = bcu::qt::WindowSetup::Create(request, error);
  if (!setup) {
    std::fprintf(stderr, "bcu-screenshots: %s\n", error.c_str());
    return 1;
  }
  bcu::qt::TCodeUpdaterMainDispForm& form = setup->Form();
  form.show();
  if (!QTest::qWaitForWindowExposed(&form)) return 1;
  bool ok = Save(&form, out, "1-idle");

  form.m_ToggleVersionInfoSpeedButton->click();
  form.m_RetrieveVersionInfoButton->click();  // runs to its end
  ok = Save(&form, out, "2-version-panel") && ok;

  When(
      [] {
        return qobject_cast<bcu::qt::TCodeDownPassDispDlg*>(QApplication::activeModalWidget());
      },
      [&] {
        auto* dialog =
            qobject_cast<bcu::qt::TCodeDownPassDispDlg*>(QApplication::activeModalWidget());
        QTest::keyClicks(dialog->m_PasswordEdit, "gablers");
        ok = Save(dialog, out, "3-password") && ok;
        dialog->BitBtn1->click();
        When(
            [&] {
              // The downloads set the bar's range to their own block counts.
              const QProgressBar* bar = form.m_ProgressBar;
              const int span = bar->maximum() - bar->minimum();
              return form.Updater().m_Running && span > 0 &&
                     form.m_StatusLabel->text() != "Extracting embedded files..." &&
                     (bar->value() - bar->minimum()) * 100 / span >= 40;
            },
            [&] { ok = Save(&form, out, "4-download") && ok; });
      });
  form.m_StartButton->click();  // the whole update runs inside
  work.removeRecursively();
  ok = Save(&form, out, "5-done") && ok;

  When([] { return qobject_cast<bcu::qt::TAboutDialog*>(QApplication::activeModalWidget()); },
       [&] {
         auto* about = qobject_cast<bcu::qt::TAboutDialog*>(QApplication::activeModalWidget());
         ok = Save(about, out, "6-about") && ok;
         about->OKButton->click();
       });
  form.m_HelpAboutMenuItem->trigger();

  // A radio that stores a word other than it was sent: the read-back after
  // the codeplug download fails, the backup is named in full.
  work.mkpath(".");
  setup->Radio()->With([](bcu::sim::VirtualRadio& r) {
    r.SetMode(bcu::sim::RadioMode::kBootload);
    r.SetCodeplug(bcu::sim::BuildBuiltinCodeplug(5, 9));  // to be converted again
    r.Faults().alterStoredWord = 500;
  });
  When([] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); },
       [&] {
         auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
         ok = Save(box, out, "7-backup-box") && ok;
         box->button(QMessageBox::Ok)->click();
       });
  form.m_StartButton->click();
  ok = Save(&form, out, "8-codeplug-failure") && ok;
  work.removeRecursively();
  return ok ? 0 : 1;
}
