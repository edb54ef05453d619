#include <windows.h>
// (before the headers that build on it)
#include <shellapi.h>

#include "platform/ProgramFile.h"
#include "platform/Win32Text.h"

namespace bcu::platform {

std::string ProgramFilePath(const std::string& fallback) {
  std::wstring buffer(32768, L'\0');
  const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n == 0 || n >= buffer.size()) return fallback;
  buffer.resize(n);
  return Narrow(buffer);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(Narrow(wide[i]));
  ::LocalFree(wide);
  return args;
}

}  // namespace bcu::platform
