#include "cli/UpdateOutcome.h"

#include "app/CodeUpdater.h"
#include "app/EmbeddedFiles.h"
#include "cli/ExitCodes.h"
#include "codeplug/FormatVersion.h"

namespace bcu::cli {

namespace {

// The exit code of what the run did, whether or not a stop came.
int OutcomeExitCode(const UpdateRunFacts& f) {
  if (f.notInBootload) return kExitNotInBootload;
  if (f.codeplug) {
    switch (f.codeplug->outcome) {
      case app::kCodeplugNoConversion:
      case app::kCodeplugConverted:
        return kExitOk;
      case app::kCodeplugNotConvertible:
      case app::kCodeplugConversionFailed:
        return kExitNotConvertible;
      case app::kCodeplugUploadFailed:
        return kExitCodeplugUpload;
      case app::kCodeplugDownloadFailed:
        return kExitCodeplugDownload;
      case app::kCodeplugNotVerified:
        return kExitNotVerified;
      case app::kCodeplugStopped:
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

void StartFailureWatch::OnStatus(const std::string& text) {
  if (text.rfind("Preparing to download", 0) == 0) downloadStarted_ = true;
  if (downloadStarted_) return;
  if (text.rfind("Communication error while", 0) == 0 ||
      text.rfind("No interface box answered", 0) == 0)
    Note(kExitPort);
  else if (text.rfind("The work file ", 0) == 0 ||
           text.rfind("The codeplug backup cannot be kept", 0) == 0)
    Note(kExitFileError);
  else if (text.rfind("Error: ", 0) == 0)
    Note(kExitRefused);
}

void StartFailureWatch::OnMessage(const std::string& text, const std::string& caption,
                                  platform::MsgIcon icon) {
  if (downloadStarted_ || icon != platform::MsgIcon::Error) return;
  if (caption == "COM Port")
    Note(kExitPort);
  else if (caption == app::kEmbeddedFilesCaption)
    Note(kExitFileError);
  else
    Note(kExitRefused);
  text_ = text;
}

std::string CodeplugFormatName(int index) {
  const auto v = codeplug::VersionOfFormatIndex(static_cast<std::uint8_t>(index));
  if (v.major == 0) return "unknown";
  return std::to_string(v.major) + "." + std::to_string(v.minor);
}

}  // namespace bcu::cli
