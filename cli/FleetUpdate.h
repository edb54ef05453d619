#pragma once
// `bcu update` with several radios: one update per port at the same time,
// each in its own thread with its own updater, host, timers and private work
// folder; the firmware set is read once and shared. With `watch`, every port
// that appears while the command runs and on which a radio answers is updated
// once per serial number, until a stop signal.
//
// The start password is asked once; the codeplug password is given once or
// asked per radio; prompts come one at a time and name the port and the
// radio. Every radio's run goes into the update history; the command ends 0
// when every radio ended "Done.", kExitSomeFailed otherwise.
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/CodeUpdater.h"
#include "cli/FleetDisplay.h"
#include "platform/PortMonitor.h"
#include "platform/Resources.h"

namespace bcu::cli {

struct FleetOptions {
  std::vector<std::string> ports;               // updated at once when the command starts
  bool watch = false;                           // then also every port that appears
  std::optional<std::string> password;          // asked once when not given
  std::optional<std::string> codeplugPassword;  // asked per radio when not given
  bool boot = false;
  bool yes = false;
  double waitBootloadSeconds = 300;
  double delayScale = 1.0;
  bool json = false;
  std::string reportPath;   // CSV of the fleet's table; empty: none
  std::string historyPath;  // empty: the user's history file
  std::string programPath;
  std::shared_ptr<const platform::ResourceSource> resources;
  // Each radio's updater gets a copy that names its own port.
  app::CodeUpdaterOptions updaterOptions;

  // What tests replace: the monitor of ports coming and going (null: udev),
  // the count of stop signals (empty: the process's), the streams, and the
  // display (empty: a terminal display when `out` is a terminal).
  platform::PortMonitor* monitor = nullptr;
  std::function<int()> stopSignals;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  std::FILE* in = stdin;
  std::optional<DisplayMode> display;
};

// Runs the fleet; its exit code.
int RunFleetUpdate(const FleetOptions& options);

}  // namespace bcu::cli
