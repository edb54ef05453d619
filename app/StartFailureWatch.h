#pragma once
// Why a run ended before anything was written to the radio, from what it
// showed before its download began: the first such sign counts.
#include <string>

#include "platform/Host.h"

namespace bcu::app {

class StartFailureWatch {
 public:
  void OnStatus(const std::string& text);
  void OnMessage(const std::string& text, const std::string& caption, platform::MsgIcon icon);
  // kExitPort (the port, nothing answered), kExitFileError (the work files)
  // or kExitRefused (a radio check); 0 when nothing said why.
  int Code() const { return code_; }
  // The error box that said why (empty when none did).
  const std::string& Text() const { return text_; }
  bool DownloadStarted() const { return downloadStarted_; }

 private:
  void Note(int code) {
    if (code_ == 0) code_ = code;
  }
  int code_ = 0;
  std::string text_;
  bool downloadStarted_ = false;
};

}  // namespace bcu::app
