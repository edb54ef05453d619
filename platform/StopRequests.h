#pragma once
// What asks a command-line program to stop: on Linux the signals SIGINT
// (Ctrl-C), SIGTERM and SIGHUP; on Windows the console's Ctrl-C, Ctrl-Break
// and the closing of the console window. The handlers only count them; the
// program's pump acts on the count (the first asks the run to stop after its
// current step, the second at once). A third ends the program on the spot
// with the exit code given at installation, for a run that no longer
// answers. Closing the console window counts as two: Windows ends the
// program a few seconds later anyway, and the run should unwind before.
//
// On Linux SIGPIPE is ignored: a reader of the output that goes away only
// silences the output, it never ends a run. The handlers do not restart
// interrupted reads, so a prompt waiting for a line returns when a request
// arrives.
//
// A request reaches the whole process (the system knows no other receiver).
namespace bcu::platform {

enum class StopRequestKind { Interrupt, Break, Terminate, HangUp, Close };

void InstallStopRequests(int exitCodeWhenForced);
// How many requests arrived so far.
int StopRequestCount();
// The first one that arrived, in the words a technician knows ("Ctrl-C",
// "SIGTERM", "Ctrl-Break", "the console window was closed"); "" before.
const char* FirstStopRequestName();
// Delivers a request the way the system does (tests): raises the signal on
// Linux, calls the console's handler on Windows. Kinds the system does not
// have are delivered as Interrupt.
void DeliverStopRequest(StopRequestKind kind);
// Forgets the requests counted so far (tests).
void ForgetStopRequests();

}  // namespace bcu::platform
