#include "app/RunResultHost.h"

namespace bcu::app {

namespace {

constexpr const char* kIdleText = "Idle";

}  // namespace

std::string OneLine(const std::string& text) {
  std::string line;
  bool pendingBreak = false;
  for (char c : text) {
    if (c == '\n' || c == '\r') {
      while (!line.empty() && line.back() == ' ') line.pop_back();
      pendingBreak = !line.empty();
      continue;
    }
    if (pendingBreak) {
      if (c == ' ') continue;
      line += ' ';
      pendingBreak = false;
    }
    line += c;
  }
  return line;
}

void RunResultHost::ShowStatusText(const std::string& text) {
  if (recording_) start_.OnStatus(text);
  if (recording_ && text != kIdleText && !text.empty()) {
    result_ = OneLine(text);
    fromBox_ = false;
    caption_.clear();
  }
  host_.ShowStatusText(text);
}

platform::MsgResult RunResultHost::ShowMessage(const std::string& text, const std::string& caption,
                                               platform::MsgIcon icon,
                                               platform::MsgButtons buttons) {
  if (recording_) start_.OnMessage(text, caption, icon);
  if (recording_ && icon == platform::MsgIcon::Error && !text.empty()) {
    result_ = OneLine(text);
    fromBox_ = true;
    caption_ = caption;
  }
  return host_.ShowMessage(text, caption, icon, buttons);
}

void RunResultHost::Begin() {
  recording_ = true;
  fromBox_ = false;
  refused_ = false;
  flashTouched_ = false;
  result_.clear();
  caption_.clear();
  start_ = StartFailureWatch{};
}

void RunResultHost::AddDetail(const std::string& detail) {
  if (!recording_ || detail.empty()) return;
  result_ += result_.empty() ? detail : " (" + detail + ")";
}

}  // namespace bcu::app
