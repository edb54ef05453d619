#include "cli/TerminalHost.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "cli/FleetDisplay.h"
#include "cli/Output.h"
#include "cli/StopSignals.h"
#include "platform/Console.h"

namespace bcu::cli {

const char* IconWord(platform::MsgIcon icon) {
  switch (icon) {
    case platform::MsgIcon::Error:
      return "Error";
    case platform::MsgIcon::Information:
      return "Information";
    case platform::MsgIcon::Question:
      return "Question";
  }
  return "";
}

namespace {

bool IsTerminal(std::FILE* file) {
  return platform::IsTerminal(file);
}

// One line from `in` without its line end; false at the end of input, and
// when a stop signal interrupted the read (the line so far is dropped).
bool ReadLine(std::FILE* in, std::string& line) {
  line.clear();
  int c = 0;
  bool any = false;
  while ((c = std::fgetc(in)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (c != '\r') line += static_cast<char>(c);
  }
  if (c == EOF && std::ferror(in) && errno == EINTR) {
    std::clearerr(in);
    line.clear();
    return false;
  }
  return any;
}

}  // namespace

// The progress bar: a bar redrawn in place on a terminal, a line per whole
// percent otherwise.
class TerminalHost::TerminalProgress final : public platform::ProgressBar {
 public:
  explicit TerminalProgress(TerminalHost& host) : host_(host) {}
  void SetMin(int value) override { min_ = value; }
  void SetMax(int value) override { max_ = value; }
  void SetPosition(int value) override {
    position_ = value;
    Draw();
  }
  int Min() const override { return min_; }
  int Max() const override { return max_; }
  int Position() const override { return position_; }

 private:
  // The bar says how far the whole run is (where the current step lies in
  // it, as the fleet display reckons), and the step's own percent beside it.
  void Draw() {
    if (host_.options_.quiet) return;
    const int span = max_ - min_;
    int percent =
        span > 0 ? static_cast<int>((static_cast<long long>(position_ - min_) * 100) / span) : 0;
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    const RunPhase& phase = host_.phase_;
    const int run =
        std::max(host_.runPercent_, phase.from + (phase.to - phase.from) * percent / 100);
    if (percent == shown_ && run == host_.runPercent_) return;
    shown_ = percent;
    host_.runPercent_ = std::min(run, 100);
    std::FILE* out = host_.options_.out;
    if (IsTerminal(out)) {
      constexpr int kWidth = 40;
      const int filled = host_.runPercent_ * kWidth / 100;
      std::fprintf(out, "\r[%s%s] %3d%% of the run, this step %3d%%",
                   std::string(static_cast<std::size_t>(filled), '#').c_str(),
                   std::string(static_cast<std::size_t>(kWidth - filled), ' ').c_str(),
                   host_.runPercent_, percent);
      host_.progressLineOpen_ = true;
    } else {
      std::fprintf(out, "%d%% (%d%% of the run)\n", percent, host_.runPercent_);
    }
    std::fflush(out);
  }

  TerminalHost& host_;
  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
  int shown_ = -1;
};

TerminalHost::TerminalHost(TerminalOptions options)
    : options_(std::move(options)),
      clock_(options_.delayScale),
      timers_(clock_),
      pump_(timers_),
      progress_(std::make_unique<TerminalProgress>(*this)) {
  // Reads of the input are taken byte by byte, so that a wait for a line can
  // ask the descriptor whether one is there.
  if (options_.in != nullptr) std::setvbuf(options_.in, nullptr, _IONBF, 0);
  pump_.onPump = [this] {
    const int signals = StopSignalCount();
    if (!interruptHandled_ && signals >= 1) {
      interruptHandled_ = true;
      if (onInterrupt) onInterrupt();
    }
    if (!forceQuitHandled_ && signals >= 2) {
      forceQuitHandled_ = true;
      if (onForceQuit) {
        onForceQuit();
      } else {
        RequestQuit();
      }
    }
  };
}

TerminalHost::~TerminalHost() {
  EndProgressLine();
}

void TerminalHost::EndProgressLine() {
  if (!progressLineOpen_) return;
  std::fputc('\n', options_.out);
  std::fflush(options_.out);
  progressLineOpen_ = false;
}

void TerminalHost::ShowStatusText(const std::string& text) {
  status_ = text;
  // "Idle" is the window's word for a status line with nothing running; on a
  // terminal the line before it (or the box after it) says how the run ended.
  if (text == kIdleStatus) return;
  shown_ = text;
  phase_ = PhaseOfStatus(text, phase_);
  if (options_.quiet) return;
  EndProgressLine();
  std::fprintf(options_.out, "%s%s\n", options_.timestamps ? TimeStamp().c_str() : "",
               text.c_str());
  std::fflush(options_.out);
}

platform::ProgressBar& TerminalHost::Progress() {
  return *progress_;
}

platform::MsgResult TerminalHost::ShowMessage(const std::string& text, const std::string& caption,
                                              platform::MsgIcon icon,
                                              platform::MsgButtons buttons) {
  lastMessage_ = text;
  if (options_.hideInformation && icon == platform::MsgIcon::Information &&
      buttons == platform::MsgButtons::Ok)
    return platform::MsgResult::Ok;
  EndProgressLine();
  std::fprintf(options_.err, "[%s] %s:\n%s\n", IconWord(icon), caption.c_str(), text.c_str());
  if (buttons == platform::MsgButtons::Ok) {
    std::fflush(options_.err);
    return platform::MsgResult::Ok;
  }
  if (options_.assumeYes) {
    std::fprintf(options_.err, "Yes (--yes)\n");
    std::fflush(options_.err);
    return platform::MsgResult::Yes;
  }
  std::fprintf(options_.err, "[y/N] ");
  std::fflush(options_.err);
  std::string answer;
  if (!ReadLine(options_.in, answer)) return platform::MsgResult::No;
  return (answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes")
             ? platform::MsgResult::Yes
             : platform::MsgResult::No;
}

bool TerminalHost::AskPassword(platform::PasswordPurpose purpose, std::string& text) {
  if (options_.password) {
    text = *options_.password;
    return true;
  }
  EndProgressLine();
  std::fprintf(options_.err, "%s",
               purpose == platform::PasswordPurpose::Start ? "Please enter your password: "
                                                           : "Codeplug password: ");
  std::fflush(options_.err);
  bool got = false;
  {
    // No echo while the password is typed.
    const platform::EchoOff quiet(options_.in);
    got = ReadLine(options_.in, text);
    if (quiet.Active()) std::fputc('\n', options_.err);
  }
  return got;
}

std::unique_ptr<platform::Timer> TerminalHost::CreateTimer(platform::TimerHandler handler) {
  return timers_.Create(std::move(handler));
}

void TerminalHost::Pump() {
  pump_.Pump();
}

bool TerminalHost::WaitForEnter(const std::function<bool()>& stopped) {
  if (options_.in == nullptr) return false;
  for (;;) {
    Pump();
    if (stopped && stopped()) return false;
    const platform::InputWait ready = platform::WaitForInput(options_.in, 20);
    if (ready == platform::InputWait::Failed) return false;
    if (ready == platform::InputWait::Ready) {
      std::string line;
      // A stop signal during the read counts as no answer; the loop asks again.
      if (ReadLine(options_.in, line)) return true;
      if (std::feof(options_.in)) return false;
    }
  }
}

void TerminalHost::InstallInterruptHandler() {
  InstallStopSignals();
}

bool TerminalHost::Interrupted() {
  return StopSignalCount() > 0;
}

}  // namespace bcu::cli
