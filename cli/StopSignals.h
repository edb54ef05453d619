#pragma once
// The signals that ask a command to stop: SIGINT (Ctrl-C), SIGTERM and
// SIGHUP (on Windows: Ctrl-C, Ctrl-Break and closing the console window; see
// platform/StopRequests.h). A handler only counts them; the command's pump (TerminalHost) acts
// on the count: the first asks the run to stop after its current step, the
// second to stop at once (the run still unwinds: the link is closed, the work
// files go, a backup is named). A third ends the program on the spot with
// exit code 10, for a run that no longer answers.
//
// SIGPIPE is ignored: a reader of the output that goes away only silences
// the output, it never ends a run.
//
// The handlers do not restart interrupted reads, so a prompt waiting for a
// line returns when a signal arrives.
namespace bcu::cli {

void InstallStopSignals();
// How many stop signals arrived so far.
int StopSignalCount();
// "Ctrl-C", "SIGTERM" or "SIGHUP" (on Windows "Ctrl-C", "Ctrl-Break", ...):
// the first one that arrived ("" before).
const char* FirstStopSignalName();

}  // namespace bcu::cli
