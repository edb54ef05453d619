#pragma once
// The host as the updater's logic sees it: every call goes through to the
// front end's own host, and on the way the texts that say how a run ended are
// kept. After most failures the status line reads "Idle" (nothing runs any
// more), so what a front end reads back from its status line is no result;
// this is.
#include <memory>
#include <string>

#include "app/StartFailureWatch.h"
#include "platform/Host.h"

namespace bcu::app {

// A box's text on one line: line breaks and the blanks around them become
// one blank.
std::string OneLine(const std::string& text);

class RunResultHost final : public platform::Host {
 public:
  explicit RunResultHost(platform::Host& host) : host_(host) {}

  void ShowStatusText(const std::string& text) override;
  platform::ProgressBar& Progress() override { return host_.Progress(); }
  platform::MsgResult ShowMessage(const std::string& text, const std::string& caption,
                                  platform::MsgIcon icon, platform::MsgButtons buttons) override;
  bool AskPassword(platform::PasswordPurpose purpose, std::string& text) override {
    return host_.AskPassword(purpose, text);
  }
  std::unique_ptr<platform::Timer> CreateTimer(platform::TimerHandler handler) override {
    return host_.CreateTimer(std::move(handler));
  }
  platform::Clock& GetClock() override { return host_.GetClock(); }
  void Pump() override { host_.Pump(); }
  bool QuitRequested() const override { return host_.QuitRequested(); }

  // The front end's own host (a front end that also observes the codeplug
  // step is found through it).
  platform::Host& Inner() { return host_; }

  // A run begins: the texts of the one before are forgotten, and the texts
  // shown from now on are kept until End.
  void Begin();
  void End() { recording_ = false; }
  // The run's result from now on, unless a later text says otherwise.
  void SetResult(const std::string& text) {
    if (!recording_) return;
    result_ = OneLine(text);
    fromBox_ = false;
    caption_.clear();
  }
  // Adds what the failing step knows beyond its status text (the block, the
  // reply or the time-out that ended it) to the result, in parentheses.
  void AddDetail(const std::string& detail);

  // A radio check refused the radio (series, boot version, kind, processor
  // variant); counts only while nothing has gone into the radio's flash.
  void MarkRefused() {
    if (recording_ && !flashTouched_) refused_ = true;
  }
  // The flash is about to change (the erase began, or a DSP download).
  void MarkFlashTouched() {
    if (recording_) flashTouched_ = true;
  }
  // The last run was refused by a radio check before its flash changed.
  bool Refused() const { return refused_; }

  // How the last run ended, in one line: the last status text it showed
  // other than "Idle", or an error box shown after that text (its lines
  // joined). Empty when the run showed neither.
  const std::string& ResultText() const { return result_; }
  // The result came from an error box (its caption names the area).
  bool ResultFromBox() const { return fromBox_; }
  const std::string& ResultCaption() const { return caption_; }
  // Why the run ended before its download, when what it showed said so.
  const StartFailureWatch& StartFailure() const { return start_; }

 private:
  platform::Host& host_;
  bool recording_ = false;
  bool fromBox_ = false;
  bool refused_ = false;
  bool flashTouched_ = false;
  std::string result_;
  std::string caption_;
  StartFailureWatch start_;
};

}  // namespace bcu::app
