#include "app/UpdateOutcome.h"

#include "app/CodeUpdater.h"
#include "app/ExitCode.h"

namespace bcu::app {

namespace {

// The exit code of what the run did, whether or not a stop came.
int OutcomeExitCode(const UpdateRunFacts& f) {
  if (f.notInBootload) return kExitNotInBootload;
  if (f.codeplug) {
    switch (f.codeplug->outcome) {
      case kCodeplugNoConversion:
      case kCodeplugConverted:
        return kExitOk;
      case kCodeplugNotConvertible:
      case kCodeplugConversionFailed:
        return kExitNotConvertible;
      case kCodeplugUploadFailed:
        return kExitCodeplugUpload;
      case kCodeplugDownloadFailed:
        return kExitCodeplugDownload;
      case kCodeplugNotVerified:
        return kExitNotVerified;
      case kCodeplugStopped:
        return kExitStopped;
      default:
        return kExitNoAnswer;
    }
  }
  // A radio check (the processor variant among them) refused it.
  if (f.refused) return kExitRefused;
  // Boot and DSP updates end on the download's own last text.
  if (f.status.rfind("Download finished", 0) == 0) return kExitOk;
  // Nothing was written: the port, the work files or a radio check.
  if (f.downloadStarted) return kExitCodeDownload;
  return f.startFailureCode != 0 ? f.startFailureCode : kExitFailure;
}

}  // namespace

int UpdateExitCode(const UpdateRunFacts& f) {
  if (!f.started) return f.stopped ? kExitStopped : kExitRefused;
  const int code = OutcomeExitCode(f);
  if (code == kExitOk) return kExitOk;
  // A stop only counts when the run did not complete.
  return f.stopped ? kExitStopped : code;
}

}  // namespace bcu::app
