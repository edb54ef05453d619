#pragma once
// The exit code of one update run, from what the run did: a single `bcu
// update` returns it, a fleet update shows it for each radio, and the run's
// line in the update history carries it, whichever front end ran it.
#include <optional>
#include <string>

#include "app/CodeplugBackup.h"

namespace bcu::app {

struct UpdateRunFacts {
  bool started = false;        // the start password was accepted
  bool stopped = false;        // a stop signal came during the run
  bool notInBootload = false;  // the radio did not come back in bootload mode
  bool downloadStarted = false;
  // A radio check refused the radio before its flash changed (the updater's
  // RunResultHost::Refused).
  bool refused = false;
  // The code of a run that ended before its download began, when the host
  // could tell why (StartFailureWatch); 0: not known.
  int startFailureCode = 0;
  std::string status;  // the last status text
  std::optional<CodeplugStepReport> codeplug;
};

int UpdateExitCode(const UpdateRunFacts& facts);

}  // namespace bcu::app
