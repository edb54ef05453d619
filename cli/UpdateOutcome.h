#pragma once
// How an update run ended, as the command line names it: the core's own
// classification (app/UpdateOutcome.h, app/StartFailureWatch.h), so that an
// exit code and the run's history line always agree.
#include "app/CodeplugFormatName.h"
#include "app/StartFailureWatch.h"
#include "app/UpdateOutcome.h"

namespace bcu::cli {

using app::CodeplugFormatName;
using app::StartFailureWatch;
using app::UpdateExitCode;
using app::UpdateRunFacts;

}  // namespace bcu::cli
