// bcu-window-driver.exe: drives a running bcu-window.exe from outside, as a
// user would, through the messages its controls send: button clicks, the
// password typed, message boxes answered, the window closed. It reads the
// controls' texts back and prints what it saw, one fact a line, for the test
// script to check (tests/windows/window.sh).
//
//   bcu-window-driver.exe SCENARIO [ACK-FOLDER]
//
// Scenarios: retrieve, update, stop, close, failure, tour, tour-failure. The
// tours print "SHOT name" at each state worth a picture and wait for
// ACK-FOLDER\name.done (the script takes the picture, then makes the file).
// clang-format off
#include <windows.h>  // first: commctrl.h needs its types
#include <commctrl.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/win32/ControlIds.h"

namespace {

using namespace bcu::win32;
using Clock = std::chrono::steady_clock;

constexpr int kLongMs = 600000;  // a loaded machine: ten minutes for a run

HWND g_main = nullptr;
std::wstring g_ack;

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
  return s;
}

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& why) {
  Say("FAIL " + why);
  std::exit(1);
}

void Sleep(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::wstring TextOf(HWND window) {
  if (window == nullptr) return {};
  wchar_t buffer[4096] = {};
  DWORD_PTR result = 0;
  if (!::SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, 5000, &result)) {
    return {};
  }
  return buffer;
}

HWND Item(int id) {
  return ::GetDlgItem(g_main, id);
}
std::string Text(int id) {
  return Utf8(TextOf(Item(id)));
}
bool Enabled(int id) {
  return ::IsWindowEnabled(Item(id)) != FALSE;
}
void Click(int id) {
  ::PostMessageW(g_main, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(id)));
}
void Command(int id) {
  ::PostMessageW(g_main, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}
int ProgressPosition() {
  DWORD_PTR pos = 0;
  ::SendMessageTimeoutW(Item(kProgressBar), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &pos);
  return static_cast<int>(pos);
}
// How far the bar is, in percent of its range (the downloads set the range
// to their blocks).
int ProgressPercent() {
  DWORD_PTR high = 0;
  ::SendMessageTimeoutW(Item(kProgressBar), PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 5000, &high);
  DWORD_PTR low = 0;
  ::SendMessageTimeoutW(Item(kProgressBar), PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, 5000, &low);
  const long long span = static_cast<long long>(high) - static_cast<long long>(low);
  if (span <= 0) return 0;
  return static_cast<int>((ProgressPosition() - static_cast<long long>(low)) * 100 / span);
}
int OuterWidth() {
  RECT r{};
  ::GetWindowRect(g_main, &r);
  return r.right - r.left;
}
int HeightOf(int id) {
  RECT r{};
  ::GetWindowRect(Item(id), &r);
  return r.bottom - r.top;
}

// A dialog of the window's process: a message box, the password dialog or
// the about box.
struct Dialog {
  HWND window = nullptr;
  std::string caption;
  std::string text;  // the texts of its static controls, joined by " | "
};

std::vector<Dialog> OpenDialogs() {
  struct Search {
    DWORD process;
    std::vector<Dialog> found;
  } search{};
  ::GetWindowThreadProcessId(g_main, &search.process);
  ::EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD process = 0;
        ::GetWindowThreadProcessId(w, &process);
        wchar_t cls[64] = {};
        ::GetClassNameW(w, cls, 64);
        if (process != s->process || !::IsWindowVisible(w) || lstrcmpW(cls, L"#32770") != 0) {
          return TRUE;
        }
        Dialog d;
        d.window = w;
        d.caption = Utf8(TextOf(w));
        ::EnumChildWindows(
            w,
            [](HWND c, LPARAM q) -> BOOL {
              wchar_t cc[64] = {};
              ::GetClassNameW(c, cc, 64);
              if (lstrcmpiW(cc, L"Static") != 0) return TRUE;
              const std::string t = Utf8(TextOf(c));
              auto* dialog = reinterpret_cast<Dialog*>(q);
              if (!t.empty()) dialog->text += (dialog->text.empty() ? "" : " | ") + t;
              return TRUE;
            },
            reinterpret_cast<LPARAM>(&d));
        s->found.push_back(d);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A control of a dialog that the user can reach: at its centre, the dialog's
// topmost child is the control itself (a sibling made earlier and lying
// over it would hide it and take its clicks).
void RequireOnTop(HWND dialog, int id, const std::string& what) {
  HWND control = ::GetDlgItem(dialog, id);
  if (control == nullptr) Fail(what + " is missing");
  RECT r{};
  ::GetWindowRect(control, &r);
  POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  ::ScreenToClient(dialog, &centre);
  HWND top = ::ChildWindowFromPointEx(dialog, centre, CWP_SKIPINVISIBLE);
  if (top != control) {
    Fail(what + " lies under control " + std::to_string(::GetDlgCtrlID(top)) + " of its dialog");
  }
}

// What to do with a message box: the button to press, or 0 to leave it open.
using BoxPolicy = std::function<int(const Dialog&)>;

int PressOk(const Dialog& box) {
  // A question asked during a run is answered No (the run goes on).
  return box.caption == "Confirm" ? IDNO : IDOK;
}

std::string g_password = "gablers";
bool g_typePassword = true;  // off while a tour pictures the dialog
int g_boxesSeen = 0;

// Answers the password dialog and the message boxes that are open.
void HandleDialogs(const BoxPolicy& policy) {
  for (const Dialog& d : OpenDialogs()) {
    if (d.caption == Utf8(kPasswordCaption)) {
      if (!g_typePassword) continue;
      HWND edit = ::GetDlgItem(d.window, kPasswordEdit);
      if (edit == nullptr) continue;
      RequireOnTop(d.window, kPasswordLabel, "the password prompt");
      RequireOnTop(d.window, kPasswordEdit, "the password edit");
      const std::wstring pw(g_password.begin(), g_password.end());
      DWORD_PTR r = 0;
      ::SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(pw.c_str()),
                            SMTO_ABORTIFHUNG, 5000, &r);
      Say("PASSWORD typed");
      ::PostMessageW(d.window, WM_COMMAND, IDOK, 0);
      Sleep(200);
      continue;
    }
    if (d.caption == Utf8(kAboutCaption)) continue;
    const int answer = policy(d);
    if (answer == 0) continue;
    Say("BOX " + d.caption + ": " + d.text);
    ++g_boxesSeen;
    ::PostMessageW(d.window, WM_COMMAND, answer, 0);
    Sleep(200);
  }
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs, const BoxPolicy& policy = PressOk) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < end) {
    if (!::IsWindow(g_main)) return done();
    HandleDialogs(policy);
    if (done()) return true;
    Sleep(50);
  }
  return done();
}

bool Idle() {
  return Text(kStartButton) == "Start" && Enabled(kStartButton) &&
         Enabled(kRetrieveVersionInfoButton);
}

bool StatusHas(const std::string& part) {
  return Text(kStatusLabel).find(part) != std::string::npos;
}

// The part of the screen to keep: the window and its open dialogs, with a
// margin, as WxH+X+Y.
std::string ShotArea() {
  RECT area{};
  ::GetWindowRect(g_main, &area);
  for (const Dialog& d : OpenDialogs()) {
    RECT r{};
    ::GetWindowRect(d.window, &r);
    ::UnionRect(&area, &area, &r);
  }
  const int margin = 8;
  const LONG left = std::max<LONG>(0, area.left - margin);
  const LONG top = std::max<LONG>(0, area.top - margin);
  return std::to_string(area.right + margin - left) + "x" +
         std::to_string(area.bottom + margin - top) + "+" + std::to_string(left) + "+" +
         std::to_string(top);
}

void Shot(const std::string& name) {
  Sleep(300);  // the last redraw
  Say("SHOT " + name + " " + ShotArea());
  const std::wstring done = g_ack + L"\\" + std::wstring(name.begin(), name.end()) + L".done";
  const auto end = Clock::now() + std::chrono::seconds(120);
  while (Clock::now() < end) {
    if (::GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES) return;
    Sleep(50);
  }
  Fail("no picture taken of " + name);
}

void StartUpdate() {
  if (!Idle()) Fail("not idle before Start: " + Text(kStatusLabel));
  Click(kStartButton);
}

void PrintPanel() {
  const char* names[] = {"FileFormat",   "DSP",      "Controller", "HardwareRevision",
                         "SerialNumber", "BootLoad", "SEM"};
  for (int i = 0; i < 7; ++i)
    Say(std::string("PANEL ") + names[i] + "=" + Text(kFileVersionLabel + i));
  Say("PANEL ControllerHeading=" + Text(kHWControllerVersionHeadingLabel));
}

// ---- Scenarios ----

void Retrieve() {
  Say("WIDTH " + std::to_string(OuterWidth()));
  Click(kToggleVersionInfoButton);
  if (!WaitFor([] { return Text(kToggleVersionInfoButton) == "<<"; }, 10000)) {
    Fail("the panel did not open");
  }
  Say("WIDTH " + std::to_string(OuterWidth()));
  Click(kRetrieveVersionInfoButton);
  if (!WaitFor([] { return !Text(kSerialNumberLabel).empty() && Idle(); }, kLongMs)) {
    Fail("the panel stayed empty; status: " + Text(kStatusLabel));
  }
  PrintPanel();
  Say("STATUS " + Text(kStatusLabel));
  // The about box over the idle window: its texts and its button in reach.
  Command(kHelpAboutMenuItem);
  HWND about = nullptr;
  if (!WaitFor(
          [&] {
            for (const Dialog& d : OpenDialogs())
              if (d.caption == Utf8(kAboutCaption)) about = d.window;
            return about != nullptr;
          },
          30000)) {
    Fail("no about box");
  }
  for (int id : {int{kAboutNameLabel}, int{kAboutVersionLabel}, int{kAboutCopyrightLabel}, IDOK})
    RequireOnTop(about, id, "about box control " + std::to_string(id));
  Say("ABOUT " + Utf8(TextOf(::GetDlgItem(about, kAboutVersionLabel))));
  ::PostMessageW(about, WM_COMMAND, IDOK, 0);
  if (!WaitFor([&] { return !::IsWindow(about); }, 30000)) Fail("the about box stayed open");
}

void Update() {
  StartUpdate();
  if (!WaitFor([] { return Text(kStartButton) != "Start"; }, 60000)) Fail("the run did not start");
  Say("RUNNING " + Text(kStartButton));
  if (!WaitFor(Idle, kLongMs)) Fail("the run did not end: " + Text(kStatusLabel));
  Say("STATUS " + Text(kStatusLabel));
  Say("PROGRESS " + std::to_string(ProgressPosition()));
}

void WaitForDownload() {
  if (!WaitFor([] { return StatusHas("Downloading Application code"); }, kLongMs)) {
    Fail("never reached the code download: " + Text(kStatusLabel));
  }
}

void Stop() {
  StartUpdate();
  WaitForDownload();
  Say("STOP at progress " + std::to_string(ProgressPosition()));
  Click(kStartButton);
  if (!WaitFor([] { return Text(kStartButton) != "Stop"; }, 30000)) Fail("Stop changed nothing");
  // The run stops at its next block; on a busy machine the whole unwind can
  // be over before the caption is read (the button then reads "Start").
  Say("STOPPING " + Text(kStartButton));
  if (!WaitFor(Idle, kLongMs)) Fail("the run did not end after Stop: " + Text(kStatusLabel));
  Say("STATUS " + Text(kStatusLabel));
}

void Close() {
  StartUpdate();
  WaitForDownload();
  ::PostMessageW(g_main, WM_CLOSE, 0, 0);
  bool asked = false;
  const BoxPolicy yes = [&](const Dialog& box) {
    if (box.caption != "Confirm") return PressOk(box);
    asked = true;
    return IDYES;
  };
  if (!WaitFor([&] { return asked; }, 60000, yes)) Fail("closing did not ask");
  // The run stops at its next block; a quick unwind may already be over.
  if (::IsWindow(g_main)) Say("UNWINDING " + Text(kStartButton) + " | " + Text(kStatusLabel));
  if (!WaitFor([] { return !::IsWindow(g_main); }, kLongMs)) {
    Fail("the window did not close: " + Text(kStatusLabel));
  }
  Say("CLOSED");
}

void Failure() {
  StartUpdate();
  std::string boxText;
  const BoxPolicy policy = [&](const Dialog& box) {
    if (box.text.find("kept in this file") != std::string::npos) boxText = box.text;
    return PressOk(box);
  };
  if (!WaitFor([] { return Text(kStartButton) != "Start"; }, 60000, policy)) {
    Fail("the run did not start");
  }
  if (!WaitFor([&] { return !boxText.empty() && Idle(); }, kLongMs, policy)) {
    Fail("no box named the backup; status: " + Text(kStatusLabel));
  }
  Say("STATUS " + Text(kStatusLabel));
  Say("STATUSHEIGHT " + std::to_string(HeightOf(kStatusLabel)) + " of " +
      std::to_string(HeightOf(kProgressBar)));
  Say("PROGRESS " + std::to_string(ProgressPosition()));
}

void Tour() {
  Shot("idle");
  Click(kToggleVersionInfoButton);
  Click(kRetrieveVersionInfoButton);
  if (!WaitFor([] { return !Text(kSerialNumberLabel).empty() && Idle(); }, kLongMs)) {
    Fail("the panel stayed empty");
  }
  Shot("version-panel");
  Click(kStartButton);
  g_typePassword = false;
  if (!WaitFor(
          [] {
            for (const Dialog& d : OpenDialogs())
              if (d.caption == Utf8(kPasswordCaption)) return true;
            return false;
          },
          60000, [](const Dialog&) { return 0; })) {
    Fail("no password dialog");
  }
  Shot("password");
  g_typePassword = true;
  if (!WaitFor([] { return StatusHas("Downloading Application code") && ProgressPercent() >= 40; },
               kLongMs)) {
    Fail("never reached the code download");
  }
  Shot("download");
  if (!WaitFor(Idle, kLongMs)) Fail("the run did not end");
  Shot("done");
  Command(kHelpAboutMenuItem);
  if (!WaitFor(
          [] {
            for (const Dialog& d : OpenDialogs())
              if (d.caption == "About") return true;
            return false;
          },
          30000)) {
    Fail("no about box");
  }
  Shot("about");
  for (const Dialog& d : OpenDialogs())
    if (d.caption == "About") ::PostMessageW(d.window, WM_COMMAND, IDOK, 0);
}

void TourFailure() {
  Click(kStartButton);
  if (!WaitFor(
          [] {
            for (const Dialog& d : OpenDialogs())
              if (d.text.find("kept in this file") != std::string::npos) return true;
            return false;
          },
          kLongMs,
          [](const Dialog& box) {
            return box.text.find("kept in this file") != std::string::npos ? 0 : PressOk(box);
          })) {
    Fail("no failure box");
  }
  Shot("failure");
  WaitFor(Idle, 60000);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bcu-window-driver.exe SCENARIO [ACK-FOLDER]\n");
    return 2;
  }
  const std::string scenario = argv[1];
  if (argc > 2) {
    const std::string a = argv[2];
    g_ack.assign(a.begin(), a.end());
  }
  const auto end = Clock::now() + std::chrono::seconds(120);
  while ((g_main = ::FindWindowW(kMainWindowClass, nullptr)) == nullptr && Clock::now() < end) {
    Sleep(100);
  }
  if (g_main == nullptr) Fail("no window");
  // The window has drawn its state once it answers.
  WaitFor([] { return Text(kStatusLabel) == "Idle"; }, 30000);
  Say("WINDOW " + Utf8(TextOf(g_main)));
  if (scenario == "retrieve") {
    Retrieve();
  } else if (scenario == "update") {
    Update();
  } else if (scenario == "stop") {
    Stop();
  } else if (scenario == "close") {
    Close();
  } else if (scenario == "failure") {
    Failure();
  } else if (scenario == "tour") {
    Tour();
  } else if (scenario == "tour-failure") {
    TourFailure();
  } else {
    Fail("unknown scenario " + scenario);
  }
  // Closing while idle never asks.
  if (::IsWindow(g_main)) {
    Sleep(500);  // a dialog just answered is gone
    ::PostMessageW(g_main, WM_CLOSE, 0, 0);
    const BoxPolicy never = [](const Dialog& box) -> int {
      if (box.caption.empty() && box.text.empty()) return 0;  // one being destroyed
      Fail("closing while idle showed \"" + box.caption + "\": " + box.text);
    };
    if (!WaitFor([] { return !::IsWindow(g_main); }, 60000, never)) Fail("the window stays open");
  }
  Say("END " + scenario);
  return 0;
}
