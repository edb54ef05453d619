#pragma once
// One exit code table for every subcommand of `bcu`: a code means the same
// thing whichever subcommand returns it. A subcommand uses the codes that can
// happen in it and no others.
#include <string>

#include "app/ExitCode.h"

namespace bcu::cli {

// The codes themselves are the core's (app/ExitCode.h): a history line
// carries the code of its run.
using app::ExitCode;
using app::kExitCodeDownload;
using app::kExitCodeplugDownload;
using app::kExitCodeplugUpload;
using app::kExitDiffer;
using app::kExitFailure;
using app::kExitFileError;
using app::kExitFileInvalid;
using app::kExitNoAnswer;
using app::kExitNotConvertible;
using app::kExitNotInBootload;
using app::kExitNotVerified;
using app::kExitOk;
using app::kExitPort;
using app::kExitRefused;
using app::kExitSomeFailed;
using app::kExitStopped;
using app::kExitUsage;

// The code's short name, as JSON error objects give it ("port", "fileInvalid").
const char* ExitCodeName(int code);
// The table of every code with its name and meaning, one line each, for the
// help (and so the manual page) and the README.
std::string ExitCodeTable();

}  // namespace bcu::cli
