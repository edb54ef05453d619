#pragma once
// Text at the edge to the Windows API (only the Win32*.cpp files use it):
// UTF-8 inside the program, UTF-16 for the system's wide calls, and the
// system's own words for an error code.
#include <windows.h>

#include <string>

namespace bcu::platform {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);
// FormatMessage's text for `code` (without its line end), or "error <code>".
std::string SystemErrorText(DWORD code);
// The errno value that says the same as a Windows error code, as far as the
// callers tell errors apart (EIO for the rest).
int ErrnoOf(DWORD code);
// Why a file operation failed, in the words FileErrorText uses for the
// reasons it knows, else the system's own.
std::string FileErrorTextOf(DWORD code);

}  // namespace bcu::platform
