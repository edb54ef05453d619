#pragma once
// The codes a run ends with: `bcu` exits with them (every subcommand), and
// each line of the update history carries the code of its run, whichever
// front end (the windows, `bcu update`) ran it. A code means the same thing
// wherever it appears; the numbers and their names (cli/ExitCodes.h) never
// change.

namespace bcu::app {

enum ExitCode : int {
  kExitOk = 0,                // done (a check: the file is valid)
  kExitFailure = 1,           // any failure not listed below (see the message)
  kExitUsage = 2,             // bad command line
  kExitRefused = 3,           // refused before anything was written: start password,
                              // radio check, serial number unreadable, codeplug format
                              // not the radio's
  kExitPort = 4,              // the port could not be opened, or nothing answered on it
  kExitCodeDownload = 5,      // the code download failed
  kExitNoAnswer = 6,          // the radio stopped answering (after its new code started)
  kExitCodeplugUpload = 7,    // the codeplug could not be read from the radio
  kExitCodeplugDownload = 8,  // the codeplug could not be written back, or reads back
                              // differently (the backup holds what the radio had)
  kExitNotConvertible = 9,    // the codeplug cannot be converted (format or fit)
  kExitStopped = 10,          // stopped from outside (Ctrl-C, a stop signal) before it was done
  kExitNotVerified = 11,      // codeplug written, but reading it back failed
  kExitNotInBootload = 12,    // boot code updated, the radio did not come back in
                              // bootload mode (application not written)
  kExitFileInvalid = 13,      // a file or firmware set fails its check
  kExitFileError = 14,        // a file could not be read or written
  kExitSomeFailed = 15,       // several radios: at least one did not end "Done."
  kExitDiffer = 16,           // compared: the codeplugs differ (B is neither A nor what
                              // converting A gives)
};

}  // namespace bcu::app
