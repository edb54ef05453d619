// bcu-window.exe: the updater's Windows window.
//
//   --port COMn         puts port COMn first in the port list and selects it
//                       (may be given more than once)
//   --delay-scale F     real milliseconds per clock millisecond (0.01: the
//                       radio's restart waits pass a hundred times faster)
//   --work-dir DIR      folder for the work files (default: the current one)
//   --backup-root DIR   folder of the codeplug backups (default: the user's
//                       data folder)
//   --help, --version   print to the console it was started from, and end
// clang-format off
#include <windows.h>  // first: the others need its types
#include <commctrl.h>
#include <shellapi.h>
// clang-format on

#include <cmath>
#include <cstdio>
#include <cwchar>
#include <exception>
#include <string>
#include <vector>

#include "app/ProgramVersion.h"
#include "app/win32/Codeupdatermainform.h"
#include "app/win32/ControlIds.h"
#include "platform/EmbeddedResources.h"

namespace {

constexpr const char* kHelp =
    "Usage: bcu-window.exe [--port COMn]... [--delay-scale F] [--work-dir DIR]\n"
    "                      [--backup-root DIR]\n"
    "Brisant Code Updater: puts new code into a radio and keeps its codeplug.\n"
    "The window of the updater; bcu.exe is its command line.\n"
    "\n"
    "  --port COMn         puts port COMn first in the port list and selects it\n"
    "  --delay-scale F     real milliseconds per clock millisecond (default 1)\n"
    "  --work-dir DIR      folder for the work files (default: the current one)\n"
    "  --backup-root DIR   folder of the codeplug backups\n"
    "  --help, --version   print this or the version, and end\n";

// A GUI program has no console of its own: the text goes to the one it was
// started from, or to a box.
void Print(const std::string& text, bool error) {
  HANDLE out = ::GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) {
    if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
      out = ::GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    }
  }
  DWORD written = 0;
  if (out != nullptr && out != INVALID_HANDLE_VALUE &&
      ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
    return;
  }
  ::MessageBoxW(nullptr, bcu::win32::Wide(text).c_str(), bcu::win32::kMainWindowCaption,
                MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

// Per-monitor density awareness where the manifest did not give it (started
// by a host that ignores manifests).
void BecomeDpiAware() {
  HMODULE user = ::GetModuleHandleW(L"user32.dll");
  if (user == nullptr) return;
  using SetContextFn = BOOL(WINAPI*)(HANDLE);
  auto setContext = reinterpret_cast<SetContextFn>(
      reinterpret_cast<void*>(::GetProcAddress(user, "SetProcessDpiAwarenessContext")));
  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
  if (setContext != nullptr && setContext(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4))))
    return;
  using SetAwareFn = BOOL(WINAPI*)();
  auto setAware = reinterpret_cast<SetAwareFn>(
      reinterpret_cast<void*>(::GetProcAddress(user, "SetProcessDPIAware")));
  if (setAware != nullptr) setAware();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(bcu::win32::Utf8(argv[i]));
  ::LocalFree(argv);

  bcu::win32::MainFormOptions options;
  // Every Start run goes into the user's update history.
  options.updater.recordHistory = true;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--version" || a == "-v") {
      Print(bcu::app::VersionText("bcu-window", bcu::platform::EmbeddedResources()), false);
      return 0;
    }
    if (a == "--help" || a == "-h" || a == "/?") {
      Print(kHelp, false);
      return 0;
    }
    if (a == "--port" && hasValue) {
      options.updater.extraDevicePaths.push_back(args[++i]);
    } else if (a == "--delay-scale" && hasValue) {
      wchar_t* end = nullptr;
      const std::wstring value = bcu::win32::Wide(args[++i]);
      options.delayScale = std::wcstod(value.c_str(), &end);
      // "nan" and "inf" read as numbers too: neither is a scale.
      if (end == value.c_str() || *end != L'\0' || !std::isfinite(options.delayScale) ||
          options.delayScale <= 0) {
        Print("bcu-window: --delay-scale needs a positive number\n", true);
        return 2;
      }
    } else if (a == "--work-dir" && hasValue) {
      options.updater.workDir = args[++i];
    } else if (a == "--backup-root" && hasValue) {
      options.updater.backupRoot = args[++i];
    } else {
      Print("bcu-window: unknown option " + a + "\n" + kHelp, true);
      return 2;
    }
  }

  BecomeDpiAware();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES |
                                                     ICC_PROGRESS_CLASS | ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&controls);

  // The program's own file name names it (a copy renamed after the firmware
  // set shows that name and its release).
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  options.programPath = bcu::win32::Utf8(path);
  options.resources = &bcu::platform::EmbeddedResources();
  try {
    bcu::win32::TCodeUpdaterMainDispForm form(std::move(options));
    return form.Run(show);
  } catch (const std::exception& e) {
    ::MessageBoxW(nullptr, bcu::win32::Wide(e.what()).c_str(), bcu::win32::kMainWindowCaption,
                  MB_OK | MB_ICONERROR);
    return 1;
  }
}
