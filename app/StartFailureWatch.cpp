#include "app/StartFailureWatch.h"

#include "app/EmbeddedFiles.h"
#include "app/ExitCode.h"

namespace bcu::app {

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
  else if (caption == kEmbeddedFilesCaption)
    Note(kExitFileError);
  else
    Note(kExitRefused);
  text_ = text;
}

}  // namespace bcu::app
