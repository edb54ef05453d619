#include <windows.h>

#include <atomic>

#include "platform/StopRequests.h"

namespace bcu::platform {

namespace {

// The console calls the handler on a thread of its own.
std::atomic<int> g_count{0};
std::atomic<int> g_first{-1};
std::atomic<int> g_exitCode{1};

// How long the handler holds the closing of the console window back, so
// that the run unwinds (Windows ends the program after about 5 s).
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI OnConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      break;
    default:
      return FALSE;
  }
  int expected = -1;
  g_first.compare_exchange_strong(expected, static_cast<int>(type));
  const bool closing = type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT;
  const int count = g_count.fetch_add(closing ? 2 : 1) + (closing ? 2 : 1);
  if (closing) {
    // Returning ends the program: wait while the run unwinds (the program
    // ends from its main thread, taking this thread with it).
    ::Sleep(kCloseGraceMs);
    return TRUE;
  }
  if (count >= 3) {
    static const char kText[] = "\nbcu: stopped at once\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), kText, sizeof kText - 1, &written, nullptr);
    ::ExitProcess(static_cast<UINT>(g_exitCode.load()));
  }
  return TRUE;
}

}  // namespace

void InstallStopRequests(int exitCodeWhenForced) {
  g_exitCode = exitCodeWhenForced;
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

int StopRequestCount() {
  return g_count.load();
}

const char* FirstStopRequestName() {
  switch (g_first.load()) {
    case CTRL_C_EVENT:
      return "Ctrl-C";
    case CTRL_BREAK_EVENT:
      return "Ctrl-Break";
    case CTRL_CLOSE_EVENT:
      return "the console window was closed";
    case CTRL_LOGOFF_EVENT:
      return "the user logged off";
    case CTRL_SHUTDOWN_EVENT:
      return "Windows shut down";
    default:
      return "";
  }
}

void DeliverStopRequest(StopRequestKind kind) {
  switch (kind) {
    case StopRequestKind::Break:
      OnConsoleControl(CTRL_BREAK_EVENT);
      break;
    case StopRequestKind::Close:
      OnConsoleControl(CTRL_CLOSE_EVENT);
      break;
    default:
      OnConsoleControl(CTRL_C_EVENT);
  }
}

void ForgetStopRequests() {
  g_count = 0;
  g_first = -1;
}

}  // namespace bcu::platform
