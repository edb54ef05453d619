// bcu-window: the updater's Qt window.
//
//   --port PATH         puts the serial device PATH first in the port list and
//                       selects it (may be given more than once)
//   --simulate          serves a virtual radio on a pseudo-terminal inside this
//                       process and selects it, to try the window without a radio
//   --delay-scale F     real milliseconds per clock millisecond (0.01: the
//                       radio's restart waits pass a hundred times faster)
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "app/qt/Codeupdatermainform.h"
#include "app/qt/WindowSetup.h"

namespace {

// An exception that escapes an event handler is shown in a message box with
// the program's title, and the program goes on, instead of ending it.
class TApplication final : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      QMessageBox::critical(nullptr, applicationName(), QString::fromLocal8Bit(e.what()));
    }
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  QApplication::setApplicationName("Brisant Code Updater");

  QCommandLineParser parser;
  parser.setApplicationDescription("Brisant Code Updater: puts new code into a radio");
  parser.addHelpOption();
  QCommandLineOption portOption(
      "port", "Adds serial device <path> to the port list and selects it.", "path");
  QCommandLineOption simulateOption("simulate",
                                    "Serves a virtual radio on a pseudo-terminal and selects it.");
  QCommandLineOption scaleOption(
      "delay-scale", "Real milliseconds per clock millisecond (default 1).", "factor", "1");
  parser.addOption(portOption);
  parser.addOption(simulateOption);
  parser.addOption(scaleOption);
  parser.process(app);

  bcu::qt::WindowSetupRequest request;
  // argv[0], not the resolved file: a link named after the firmware set
  // names the program.
  request.programPath = argc > 0 ? argv[0] : "bcu-window";
  for (const QString& path : parser.values(portOption)) {
    request.ports.push_back(path.toStdString());
  }
  request.simulate = parser.isSet(simulateOption);
  bool scaleOk = false;
  request.delayScale = parser.value(scaleOption).toDouble(&scaleOk);
  // "nan" and "inf" read as numbers too: neither is a scale.
  if (!scaleOk || !std::isfinite(request.delayScale) || request.delayScale <= 0) {
    std::fprintf(stderr, "bcu-window: --delay-scale needs a positive number\n");
    return 2;
  }

  std::string error;
  auto setup = bcu::qt::WindowSetup::Create(request, error);
  if (!setup) {
    std::fprintf(stderr, "bcu-window: %s\n", error.c_str());
    return 1;
  }
  bcu::qt::TCodeUpdaterMainDispForm& form = setup->Form();
  form.show();
  return QApplication::exec();
}
