#pragma once
// The exit code of one update run, from what the run did: a single `bcu
// update` returns it, and a fleet update shows it for each radio.
#include <optional>
#include <string>

#include "app/CodeplugBackup.h"
#include "platform/Host.h"

namespace bcu::cli {

struct UpdateRunFacts {
  bool started = false;        // the start password was accepted
  bool stopped = false;        // a stop signal came during the run
  bool notInBootload = false;  // the radio did not come back in bootload mode
  bool downloadStarted = false;
  // A radio check refused the radio before its flash changed (the updater's
  // RunResultHost::Refused).
  bool refused = false;
  // The code of a run that ended before its download began, when the host
  // could tell why (StartFailureWatch); 0: not known.
  int startFailureCode = 0;
  std::string status;  // the last status text
  std::optional<app::CodeplugStepReport> codeplug;
};

int UpdateExitCode(const UpdateRunFacts& facts);

// Why a run ended before anything was written to the radio, from what it
// showed before its download began: the first such sign counts.
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

// The codeplug format of a format index ("5.9"; "unknown").
std::string CodeplugFormatName(int index);

}  // namespace bcu::cli
