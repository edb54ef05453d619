#pragma once
// A Start run in the update history. The windows and `bcu update` record
// their runs through the updater (CodeUpdaterOptions::recordHistory), so the
// line is the same whichever front end ran the update: the port, the serial
// number, the versions before and after, the codeplug formats, the firmware
// set, the backup kept, how the run ended (the code `bcu update` exits with
// and the run's result text), when it began and how long it took.
//
// The line holds what the run itself read from the radio, nothing more: the
// versions before are the version panel's (the last Retrieve before Start,
// of the same radio); after the run only the codeplug format the new code
// expects is known (the codeplug step asks for it). The other versions after
// stay empty; a Retrieve shows them.
#include <cstdint>
#include <ctime>
#include <string>

#include "app/FirmwareSetIdentity.h"
#include "app/UpdateHistory.h"
#include "app/UpdateOutcome.h"

namespace bcu::app {

struct VersionPanelTexts;

// The radio's versions as the version panel shows them.
RadioVersions VersionsOfPanel(const VersionPanelTexts& panel);
// The serial number as the history keeps it: hex digits only ("00-1A-2B..."
// of the version panel becomes "001A2B...").
std::string CompactSerial(const std::string& label);

// What a run knew before it began, and when it began.
struct RunStart {
  std::string port;  // the selected port's device
  std::time_t time = 0;
  std::uint64_t realMicros = 0;
  // The version panel's values when they were the radio's (a Retrieve since
  // the radio's code last changed); empty otherwise.
  RadioVersions versions;
  std::string serialNumber;  // the panel's, hex digits only; empty: none
};

// The history line of a run that ended with `code`, `seconds` after `start`.
HistoryRecord RunHistoryRecord(const RunStart& start, const FirmwareSetIdentity& set,
                               const UpdateRunFacts& facts, int code, double seconds);

// What the updater keeps of its last Start run.
struct LastRun {
  bool ran = false;  // a Start run ran (a refused start password runs none)
  UpdateRunFacts facts;
  int outcomeCode = 0;  // the code `bcu update` exits with for this run
  HistoryRecord record;
  bool recorded = false;     // the line is in the history
  std::string historyError;  // why it is not (empty: it is, or none was asked for)
};

}  // namespace bcu::app
