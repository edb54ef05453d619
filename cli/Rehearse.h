#pragma once
// `bcu update --rehearse` and `--rehearse-first`: each radio rehearsed on its
// own, its report printed and its rehearsal recorded in the update history.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/Output.h"
#include "cli/Rehearsal.h"
#include "cli/TerminalHost.h"

namespace bcu::cli {

struct RehearseRequest {
  RehearsalInput input;  // its port is set for each radio
  std::vector<std::string> ports;
  bool json = false;
  Verbosity verbosity = Verbosity::kNormal;
  std::string historyPath;  // empty: the user's
  // With `json`: the {"rehearsals": [...]} object is kept here instead of
  // printed, for the real run that follows to print it with its own result.
  nlohmann::ordered_json* heldJson = nullptr;
};

// Rehearses the radio on every port, one after the other, and prints each
// report (or, with --json, one object: {"rehearsals": [...]}, printed or
// held for the real run, see heldJson). `passed`
// receives the ports whose rehearsal ended "Done.". Returns the real run's
// exit code for one port; for several 0 when every rehearsal ended "Done.",
// else kExitSomeFailed.
int RunRehearsals(RehearseRequest& request, TerminalHost& terminal,
                  std::vector<std::string>& passed);

// The one question before the real run after a rehearsal (--yes answers it).
bool ConfirmRealRun(TerminalHost& terminal, std::size_t radios);

}  // namespace bcu::cli
