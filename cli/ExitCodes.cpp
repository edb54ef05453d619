#include "cli/ExitCodes.h"

#include <cstdio>
#include <iterator>
#include <string>

#include "platform/HelpWords.h"

namespace bcu::cli {

namespace {

struct ExitCodeRow {
  ExitCode code;
  const char* name;
  const char* meaning;
};

// The one place the codes are described: `bcu --help`, and through it the
// manual page, print this table.
constexpr ExitCodeRow kRows[] = {
    {kExitOk, "ok", "done (a check: the file is valid)"},
    {kExitFailure, "failure", "any other failure (see the message)"},
    {kExitUsage, "usage", "bad command line"},
    {kExitRefused, "refused",
     "refused before anything was written: start password, radio check, serial number "
     "unreadable, codeplug format not the radio's"},
    {kExitPort, "port", "the port could not be opened, or nothing answered on it"},
    {kExitCodeDownload, "codeDownload", "the code download failed"},
    {kExitNoAnswer, "noAnswer", "the radio stopped answering after its new code started"},
    {kExitCodeplugUpload, "codeplugUpload", "the codeplug could not be read from the radio"},
    {kExitCodeplugDownload, "codeplugDownload",
     "the codeplug could not be written back, or reads back differently (the backup holds "
     "what the radio had)"},
    {kExitNotConvertible, "notConvertible", "the codeplug cannot be converted (format or fit)"},
    {kExitStopped, "stopped", nullptr},  // the system's ways of stopping (StoppedMeaning)
    {kExitNotVerified, "notVerified", "codeplug written, but reading it back failed"},
    {kExitNotInBootload, "notInBootload",
     "boot code updated, the radio did not come back in bootload mode (application not "
     "written)"},
    {kExitFileInvalid, "fileInvalid", "a file or firmware set fails its check"},
    {kExitFileError, "fileError", "a file could not be read or written"},
    {kExitSomeFailed, "someFailed", "several radios: at least one did not end \"Done.\""},
    {kExitDiffer, "differ",
     "compared: the codeplugs differ (B is neither A nor what converting A gives)"},
};

std::string StoppedMeaning() {
  return std::string("stopped (") + platform::StopWords() + ") before it was done";
}

}  // namespace

const char* ExitCodeName(int code) {
  for (const auto& row : kRows)
    if (row.code == code) return row.name;
  return "failure";
}

std::string ExitCodeTable() {
  std::string text = "Exit codes (the same in every subcommand):\n";
  for (const auto& row : kRows) {
    char head[32];
    std::snprintf(head, sizeof head, "  %2d %-17s ", static_cast<int>(row.code), row.name);
    text += head;
    text += row.meaning != nullptr ? std::string(row.meaning) : StoppedMeaning();
    text += '\n';
  }
  return text;
}

}  // namespace bcu::cli
