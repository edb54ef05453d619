#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <initializer_list>

#include "platform/StopRequests.h"

namespace bcu::platform {

namespace {

// A signal handler can only reach process-wide state.
volatile std::sig_atomic_t g_count = 0;
volatile std::sig_atomic_t g_first = 0;
volatile std::sig_atomic_t g_exitCode = 1;

void OnStopSignal(int signo) {
  if (g_first == 0) g_first = signo;
  g_count = g_count + 1;
  if (g_count >= 3) {
    static const char kText[] = "\nbcu: stopped at once\n";
    const ssize_t ignored = ::write(STDERR_FILENO, kText, sizeof kText - 1);
    (void)ignored;
    ::_exit(g_exitCode);
  }
}

}  // namespace

void InstallStopRequests(int exitCodeWhenForced) {
  g_exitCode = exitCodeWhenForced;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked read returns
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signo, &action, nullptr);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
}

int StopRequestCount() {
  return g_count;
}

const char* FirstStopRequestName() {
  switch (g_first) {
    case SIGINT:
      return "Ctrl-C";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "";
  }
}

void DeliverStopRequest(StopRequestKind kind) {
  switch (kind) {
    case StopRequestKind::Terminate:
      ::raise(SIGTERM);
      break;
    case StopRequestKind::HangUp:
    case StopRequestKind::Close:
      ::raise(SIGHUP);
      break;
    default:
      ::raise(SIGINT);
  }
}

void ForgetStopRequests() {
  g_count = 0;
  g_first = 0;
}

}  // namespace bcu::platform
