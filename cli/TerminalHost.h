#pragma once
// platform::Host for a terminal: status texts become lines, the progress bar
// a bar on a terminal (plain percentages otherwise), message boxes are printed
// with their caption, questions and the password are asked on the terminal.
// Timers run from a TimerQueue that the pump polls; the stop signals
// (cli/StopSignals.h) reach the caller through the pump: the first through
// onInterrupt, the second through onForceQuit.
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/FleetDisplay.h"
#include "platform/Clock.h"
#include "platform/Host.h"
#include "platform/Timer.h"
#include "platform/TimerPump.h"

namespace bcu::cli {

// The window's status text while nothing runs; a terminal never prints it.
inline constexpr const char* kIdleStatus = "Idle";

// The word a terminal prints for a message box's icon: "[Error] Caption:".
const char* IconWord(platform::MsgIcon icon);

struct TerminalOptions {
  // Answer every question with Yes without asking.
  bool assumeYes = false;
  // Clock scale: real milliseconds per clock millisecond (--delay-scale).
  double delayScale = 1.0;
  // Print no status lines and no progress (machine-readable output follows).
  bool quiet = false;
  // Each status line starts with the time (--verbose).
  bool timestamps = false;
  // Message boxes that only inform (an OK button, no error) are not printed
  // (--quiet); errors and questions are.
  bool hideInformation = false;
  // The password to give when asked, instead of asking.
  std::optional<std::string> password;
  std::FILE* out = stdout;  // status lines, progress
  std::FILE* err = stderr;  // message boxes, prompts
  std::FILE* in = stdin;    // answers
};

class TerminalHost final : public platform::Host {
 public:
  explicit TerminalHost(TerminalOptions options = {});
  ~TerminalHost() override;
  TerminalHost(const TerminalHost&) = delete;
  TerminalHost& operator=(const TerminalHost&) = delete;

  void ShowStatusText(const std::string& text) override;
  platform::ProgressBar& Progress() override;
  platform::MsgResult ShowMessage(const std::string& text, const std::string& caption,
                                  platform::MsgIcon icon, platform::MsgButtons buttons) override;
  bool AskPassword(platform::PasswordPurpose purpose, std::string& text) override;
  std::unique_ptr<platform::Timer> CreateTimer(platform::TimerHandler handler) override;
  platform::Clock& GetClock() override { return clock_; }
  void Pump() override;
  bool QuitRequested() const override { return pump_.quit; }

  // Ends fixed waits early (the program is ending).
  void RequestQuit() { pump_.quit = true; }
  // Runs once, from the pump, after the first stop signal (Ctrl-C, SIGTERM,
  // SIGHUP; see InstallInterruptHandler).
  std::function<void()> onInterrupt;
  // Runs once, from the pump, after the second; unset: RequestQuit().
  std::function<void()> onForceQuit;
  // Waits for the user to press Enter, pumping meanwhile. True when a line
  // came; false at the end of the input, or once `stopped` holds.
  bool WaitForEnter(const std::function<bool()>& stopped);
  // The last status text and the last message box text shown.
  const std::string& StatusText() const { return status_; }
  // The last status text a line showed ("Idle" never is).
  const std::string& ShownStatusText() const { return shown_; }
  const std::string& LastMessage() const { return lastMessage_; }

  // Installs the stop signals' handlers (cli/StopSignals.h), which every
  // TerminalHost's pump reads.
  static void InstallInterruptHandler();
  static bool Interrupted();

 private:
  class TerminalProgress;
  friend class TerminalProgress;
  void EndProgressLine();

  TerminalOptions options_;
  platform::SteadyClock clock_;
  platform::TimerQueue timers_;
  platform::TimerPump pump_;
  std::unique_ptr<TerminalProgress> progress_;
  std::string status_;
  std::string shown_;
  RunPhase phase_;      // where the current step lies in the whole run
  int runPercent_ = 0;  // of the whole run, never going back
  std::string lastMessage_;
  bool interruptHandled_ = false;
  bool forceQuitHandled_ = false;
  bool progressLineOpen_ = false;
};

}  // namespace bcu::cli
