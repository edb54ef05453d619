#include <errno.h>
#include <io.h>
#include <windows.h>

#include <algorithm>

#include "platform/Console.h"

namespace bcu::platform {

namespace {

HANDLE HandleOf(std::FILE* stream) {
  if (stream == nullptr) return INVALID_HANDLE_VALUE;
  const int fd = ::_fileno(stream);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) != 0;
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
  return IsConsole(HandleOf(stream));
}

int TerminalColumns(std::FILE* stream) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(HandleOf(stream), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool EnableControlSequences(std::FILE* stream) {
  const HANDLE h = HandleOf(stream);
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || !::GetConsoleMode(h, &mode)) return false;
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
  return ::SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

EchoOff::EchoOff(std::FILE* in) : in_(in) {
  const HANDLE h = HandleOf(in);
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || !::GetConsoleMode(h, &mode)) return;
  saved_ = mode;
  active_ = ::SetConsoleMode(h, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
}

EchoOff::~EchoOff() {
  if (active_) ::SetConsoleMode(HandleOf(in_), static_cast<DWORD>(saved_));
}

InputWait WaitForInput(std::FILE* in, int ms) {
  const HANDLE h = HandleOf(in);
  if (h == INVALID_HANDLE_VALUE) return InputWait::Failed;
  if (IsConsole(h)) {
    // The console is signalled for every input event (mouse, focus, key
    // up): only a key that types a character counts; the rest is dropped.
    if (::WaitForSingleObject(h, static_cast<DWORD>(std::max(ms, 0))) != WAIT_OBJECT_0)
      return InputWait::Timeout;
    INPUT_RECORD records[32];
    DWORD count = 0;
    if (!::PeekConsoleInputW(h, records, 32, &count)) return InputWait::Failed;
    for (DWORD i = 0; i < count; ++i) {
      const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
      if (records[i].EventType == KEY_EVENT && key.bKeyDown && key.uChar.UnicodeChar != 0)
        return InputWait::Ready;
    }
    ::ReadConsoleInputW(h, records, count, &count);
    return InputWait::Timeout;
  }
  if (::GetFileType(h) == FILE_TYPE_PIPE) {
    DWORD available = 0;
    if (!::PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr))
      return InputWait::Ready;  // the writer is gone: the read sees the end
    if (available > 0) return InputWait::Ready;
    ::Sleep(static_cast<DWORD>(std::clamp(ms, 0, 10)));
    return InputWait::Timeout;
  }
  return InputWait::Ready;  // a file: a read never waits
}

int ReadInputByte(std::FILE* in, char& c) {
  DWORD n = 0;
  if (!::ReadFile(HandleOf(in), &c, 1, &n, nullptr)) {
    const DWORD e = ::GetLastError();
    if (e == ERROR_BROKEN_PIPE || e == ERROR_HANDLE_EOF) return 0;
    errno = e == ERROR_OPERATION_ABORTED ? EINTR : EIO;
    return -1;
  }
  return n == 1 ? 1 : 0;
}

}  // namespace bcu::platform
