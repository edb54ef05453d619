#pragma once
// The exit code of one update run, from what the run did: a single `bcu
// update` returns it, and a fleet update shows it for each radio.
#include <optional>
#include <string>

#include "app/CodeplugBackup.h"

namespace bcu::cli {

struct UpdateRunFacts {
  bool started = false;        // the start password was accepted
  bool stopped = false;        // a stop signal came during the run
  bool notInBootload = false;  // the radio did not come back in bootload mode
  bool downloadStarted = false;
  // The code of a run that ended before its download began, when the host
  // could tell why (the port, the work files, a radio check); 0: not known,
  // the port is assumed.
  int startFailureCode = 0;
  std::string status;  // the last status text
  std::optional<app::CodeplugStepReport> codeplug;
};

int UpdateExitCode(const UpdateRunFacts& facts);

// The codeplug format of a format index ("5.9"; "unknown").
std::string CodeplugFormatName(int index);

}  // namespace bcu::cli
