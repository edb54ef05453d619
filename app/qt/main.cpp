// bcu-window: the updater's Qt window.
//
//   --port PATH         puts the serial device PATH first in the port list and
//                       selects it (may be given more than once)
//   --simulate          serves a virtual radio on a pseudo-terminal inside this
//                       process and selects it, to try the window without a radio
//   --delay-scale F     real milliseconds per clock millisecond (0.01: the
//                       radio's restart waits pass a hundred times faster)
//   --help, --version   print and end; they need no display
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMessageBox>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <memory>
#include <string>

#include "app/ProgramVersion.h"
#include "app/qt/Codeupdatermainform.h"
#include "app/qt/WindowSetup.h"
#if BCU_WINDOW_FIRMWARE
#include "platform/EmbeddedResources.h"
#endif

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

// The window's options; --help and --version come with the parser.
struct Options {
  QCommandLineOption port{"port", "Adds serial device <path> to the port list and selects it.",
                          "path"};
  QCommandLineOption simulate{"simulate",
                              "Serves a virtual radio on a pseudo-terminal and selects it."};
  QCommandLineOption scale{"delay-scale", "Real milliseconds per clock millisecond (default 1).",
                           "factor", "1"};

  void AddTo(QCommandLineParser& parser) const {
    parser.setApplicationDescription(
        "Brisant Code Updater: puts new code into a radio and keeps its codeplug.\n"
        "The window of the updater; bcu(1) is its command line.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(port);
    parser.addOption(simulate);
    parser.addOption(scale);
  }
};

void SetApplicationInfo() {
  QCoreApplication::setApplicationName("Brisant Code Updater");
  QCoreApplication::setApplicationVersion(bcu::app::ProgramVersion());
}

bool IsOneOf(const char* arg, std::initializer_list<const char*> flags) {
  for (const char* flag : flags)
    if (std::strcmp(arg, flag) == 0) return true;
  return false;
}

// What `--version` prints: as `bcu --version`, with the firmware set.
std::string VersionText() {
#if BCU_WINDOW_FIRMWARE
  return bcu::app::VersionText("bcu-window", bcu::platform::EmbeddedResources());
#else
  return std::string("bcu-window (Brisant Code Updater) ") + bcu::app::ProgramVersion() +
         "\nFirmware set: none built in\n";
#endif
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  // --help and --version work without a display (the manual page is made
  // from them at build time).
  for (int i = 1; i < argc; ++i) {
    if (IsOneOf(argv[i], {"-v", "--version"})) {
      std::fputs(VersionText().c_str(), stdout);
      return 0;
    }
    if (IsOneOf(argv[i], {"-h", "-?", "--help", "--help-all"})) {
      QCoreApplication core(argc, argv);
      SetApplicationInfo();
      QCommandLineParser parser;
      options.AddTo(parser);
      parser.process(core);  // prints the help and ends the program
      return 0;
    }
  }

  TApplication app(argc, argv);
  SetApplicationInfo();
  QCommandLineParser parser;
  options.AddTo(parser);
  parser.process(app);

  bcu::qt::WindowSetupRequest request;
  // argv[0], not the resolved file: a link named after the firmware set
  // names the program.
  request.programPath = argc > 0 ? argv[0] : "bcu-window";
  for (const QString& path : parser.values(options.port)) {
    request.ports.push_back(path.toStdString());
  }
  request.simulate = parser.isSet(options.simulate);
  bool scaleOk = false;
  request.delayScale = parser.value(options.scale).toDouble(&scaleOk);
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
