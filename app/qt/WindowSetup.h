#pragma once
// Builds the main window as the program starts it: the embedded firmware set,
// the ports the user named, and on request a virtual radio on a
// pseudo-terminal that is put first in the port list. The program, the
// screenshot tour and the tests all start the window through here.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/Codeupdatermainform.h"

#if BCU_WINDOW_SIMULATOR
#include "sim/PtyRadio.h"
#include "sim/RadioConfig.h"
#endif

namespace bcu::qt {

struct WindowSetupRequest {
  std::string programPath = "bcu-window";
  std::vector<std::string> ports;  // device paths put first in the list
  bool simulate = false;           // serve a virtual radio and select it
  double delayScale = 1.0;
  // Null: the firmware set compiled into the program.
  const platform::ResourceSource* resources = nullptr;
  // Null: the machine's own ports.
  platform::PortDiscovery* discovery = nullptr;
  // Folder for the work files; empty: the current directory.
  std::string workDir;
  // Folder for the codeplug backups; empty: the user's data folder.
  std::string backupRoot;
  // The update history every Start run is recorded in; empty: the user's.
  std::string historyPath;
#if BCU_WINDOW_SIMULATOR
  sim::RadioConfig radio;  // the virtual radio of `simulate`
#endif
};

class WindowSetup {
 public:
  // Null with `error` set when the virtual radio cannot be started or the
  // program carries no firmware set and none was handed in.
  static std::unique_ptr<WindowSetup> Create(WindowSetupRequest request, std::string& error);
  ~WindowSetup();

  TCodeUpdaterMainDispForm& Form() { return *form_; }
#if BCU_WINDOW_SIMULATOR
  // The virtual radio (null without `simulate`).
  sim::PtyRadio* Radio() {
    return radio_.get();
  }
#endif

 private:
  WindowSetup() = default;
#if BCU_WINDOW_SIMULATOR
  std::unique_ptr<sim::PtyRadio> radio_;
#endif
  std::unique_ptr<TCodeUpdaterMainDispForm> form_;  // ends before the radio
};

// True when the program carries a firmware set of its own.
bool HasEmbeddedFirmware();

}  // namespace bcu::qt
