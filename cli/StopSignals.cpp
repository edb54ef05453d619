#include "cli/StopSignals.h"

#include "cli/ExitCodes.h"
#include "platform/StopRequests.h"

namespace bcu::cli {

void InstallStopSignals() {
  platform::InstallStopRequests(kExitStopped);
}

int StopSignalCount() {
  return platform::StopRequestCount();
}

const char* FirstStopSignalName() {
  return platform::FirstStopRequestName();
}

}  // namespace bcu::cli
