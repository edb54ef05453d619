#pragma once
// The rehearsal of an update (`bcu update --rehearse`): the radio is read,
// never written (identity, versions, boot information, the whole codeplug),
// a virtual radio like it is built in this process, and the whole update runs
// on it: the same firmware set, options and checks, the real protocol over
// the in-process line. Its line time follows from the bytes on the line and
// its fixed waits from the clock, so they last their real length on the
// rehearsal's clock without being waited for; reply time-outs too.
//
// What a rehearsal cannot know is said in its report: a radio that fails in
// the middle of the real run, the radio's own erase and restart times (the
// model's are used), the codeplug format the new code expects (the firmware
// set does not say it).
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/CodeUpdater.h"
#include "app/CodeplugBackup.h"
#include "codeplug/CodeplugDiff.h"
#include "codeplug/FormatVersion.h"
#include "link/CommLink.h"
#include "platform/Host.h"
#include "platform/PortDiscovery.h"
#include "platform/Resources.h"

namespace bcu::cli {

struct RehearsalInput {
  std::shared_ptr<const platform::ResourceSource> resources;
  std::string programPath;
  std::string port;  // the radio's port
  // The real run's options (verify, work folder, the port's driver; a test's
  // port source reaches a radio in this process).
  app::CodeUpdaterOptions updaterOptions;
  platform::PortDiscovery* discovery = nullptr;  // null: the system's ports
  std::optional<std::string> password;           // start password
  std::optional<std::string> codeplugPassword;
  bool boot = false;  // --boot
  // The codeplug format the new code expects (the firmware set does not say).
  codeplug::FormatVersion newFormat{5, 10};
  bool newFormatGiven = false;
};

// What the reads found: only what a Retrieve and the codeplug upload read.
struct RadioSnapshot {
  bool portOpened = false;
  bool answered = false;  // the version information came
  std::string failure;    // what ended the reads, as a real run words it
  int failureCode = 0;    // the exit code that goes with it
  std::uint8_t platformCode = 0;
  app::ResourceAttributes attributes;  // of the firmware set, as the updater read them
  link::VersionInfo info;
  int infoResult = 0;
  int kind = -1;    // 04 67: 1 portable, 0 mobile; -1 no answer
  std::string key;  // serial number, 16 hex digits; empty: not read
  bool formatRead = false;
  codeplug::FormatVersion format{0, 0};  // the codeplug format the running code expects
  bool passwordAsked = false;
  std::optional<std::string> passwordGiven;
  bool uploaded = false;
  std::vector<std::uint8_t> codeplug;  // as on the wire (words high byte first)
  std::string backupRoom;              // empty: a backup can be kept; else why not
};

// One status text of the rehearsed run and what the line did while it stood.
struct RehearsalStep {
  std::string text;
  std::uint64_t bytesToRadio = 0;
  std::uint64_t bytesFromRadio = 0;
  double lineSeconds = 0;  // at the rate each byte went at
  double seconds = 0;      // on the rehearsal's clock: the real run's time
  double fixedWaitSeconds = 0;
};

struct RehearsalCheck {
  std::string name;
  bool passed = false;
  std::string result;
};

struct RehearsalResult {
  RadioSnapshot radio;
  bool rehearsed = false;  // the virtual run took place
  std::string failure;     // why the rehearsal itself could not run
  std::vector<RehearsalCheck> checks;
  bool bootUpdate = false;  // the boot code would be updated first
  std::string bootloadWaitText;
  std::vector<RehearsalStep> steps;
  std::vector<std::string> boxes;  // the message boxes the run would show
  std::optional<app::CodeplugStepReport> codeplug;
  std::vector<std::string> conversionPath;  // "5.8", "5.9", "5.10"
  bool resultChecked = false;
  bool resultValid = false;
  std::string resultReason;
  std::optional<codeplug::CodeplugComparison> diff;
  double predictedSeconds = 0;  // the whole real run, the bootload wait left out
  double fixedWaitSeconds = 0;  // of which fixed waits
  double lineSeconds = 0;       // of which bytes on the line
  double rehearsalSeconds = 0;  // what the rehearsal itself took (real time)
  std::string outcome;          // the real run's last status text ("Done.")
  int exitCode = 0;             // the real run's exit code
  bool Done() const { return rehearsed && exitCode == 0; }
};

// Reads the radio on `input.port` through `host` (its password prompts, its
// clock); writes nothing to it.
RadioSnapshot ReadRadioSnapshot(const RehearsalInput& input, platform::Host& host);
// The update on a virtual radio like the one read.
RehearsalResult RehearseOn(const RehearsalInput& input, const RadioSnapshot& radio);
// Both.
RehearsalResult Rehearse(const RehearsalInput& input, platform::Host& host);

// What the report says a rehearsal cannot foresee.
extern const char* const kRehearsalLimits;

}  // namespace bcu::cli
