#pragma once
// The one door from the updater's logic to the screen: status line, progress
// bar, message boxes, the password dialog, the message pump, timers and the
// clock. The Qt window, the command line and the tests each implement it; the
// logic never includes a GUI header.
#include <memory>
#include <string>

#include "platform/Clock.h"
#include "platform/Pump.h"
#include "platform/Timer.h"

namespace bcu::platform {

enum class MsgIcon { Error, Information, Question };
enum class MsgButtons { Ok, YesNo };
enum class MsgResult { Ok, Yes, No };

// Minimum, maximum and position, as a progress bar control has them.
class ProgressBar {
 public:
  virtual ~ProgressBar() = default;
  virtual void SetMin(int value) = 0;
  virtual void SetMax(int value) = 0;
  virtual void SetPosition(int value) = 0;
  virtual int Min() const = 0;
  virtual int Max() const = 0;
  virtual int Position() const = 0;
};

// A progress bar that only keeps its values (tests, hosts without a screen).
class ProgressValues : public ProgressBar {
 public:
  void SetMin(int value) override { min_ = value; }
  void SetMax(int value) override { max_ = value; }
  void SetPosition(int value) override { position_ = value; }
  int Min() const override { return min_; }
  int Max() const override { return max_; }
  int Position() const override { return position_; }

 private:
  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
};

// Receives every status text of a download; `form` is the window (or whatever
// the caller handed in beside the callback).
using StatusTextCallback = void (*)(void* form, const std::string& text);

// Why the password dialog is shown (a terminal host words its prompt by it).
enum class PasswordPurpose { Start, Codeplug };

class Host : public MessagePump {
 public:
  // Puts the text into the status line.
  virtual void ShowStatusText(const std::string& text) = 0;
  virtual ProgressBar& Progress() = 0;
  // A modal message box; returns the button pressed (Ok for an Ok box).
  virtual MsgResult ShowMessage(const std::string& text, const std::string& caption, MsgIcon icon,
                                MsgButtons buttons) = 0;
  // The modal password dialog. True when it was closed with OK; `text` then
  // holds the entry exactly as typed (callers trim it). False on Cancel.
  virtual bool AskPassword(PasswordPurpose purpose, std::string& text) = 0;
  // A timer whose handler runs from this host's pump.
  virtual std::unique_ptr<Timer> CreateTimer(TimerHandler handler) = 0;
  virtual Clock& GetClock() = 0;
};

}  // namespace bcu::platform
