// The run state (idle, running, stopping), the stop request, the run's private
// work folder, and what keeps a modal box inside a run from failing it.
#include <cstdio>

#include "app/CodeUpdater.h"
#include "app/EmbeddedFiles.h"
#include "app/WorkFolder.h"
#include "link/CommLink.h"
#include "platform/FileOpen.h"

namespace bcu::app {

constexpr const char* kStoppingCaption = "Stopping...";

void CodeUpdater::RequestStop() {
  if (!Busy()) return;
  m_Stop.Request();
  // The wait in progress ends at its next pass; none can start after it.
  link::CommSetRunning(m_Link, false);
  if (m_RunState != RunState::Running) return;
  m_RunState = RunState::Stopping;
  m_Running = false;
  m_StartButtonCaption = kStoppingCaption;
  m_StartButtonEnabled = false;
  m_View.RunningStateChanged();
}

void CodeUpdater::FinishRun() {
  DeleteWorkFiles();
  RemoveRunWorkFolder(m_RunWorkDir);
  m_RunWorkDir.clear();
  m_Running = false;
  m_RunState = RunState::Idle;
  m_StartButtonCaption = "Start";
  m_StartButtonEnabled = true;
  m_ComportComboBoxEnabled = true;
  m_RetrieveVersionInfoButtonEnabled = true;
  m_View.RunningStateChanged();
}

bool CodeUpdater::PrepareRunWorkFolder() {
  if (!m_RunWorkDir.empty()) return true;
  std::string error;
  m_RunWorkDir = MakeRunWorkFolder(m_Options.workDir, error);
  if (!m_RunWorkDir.empty()) return true;
  m_Host.ShowMessage(error, kEmbeddedFilesCaption, platform::MsgIcon::Error,
                     platform::MsgButtons::Ok);
  return false;
}

std::string CodeUpdater::WorkFilePath(const std::string& name) const {
  if (m_RunWorkDir.empty() || name.empty()) return name;
  return m_RunWorkDir + "/" + name;
}

void CodeUpdater::DeleteWorkFiles() {
  // A failure to delete is ignored; the names go either way, so that no later
  // deletion can meet a file of the same name that is not ours.
  if (!m_LoaderFileName.empty()) platform::RemoveFile(WorkFilePath(m_LoaderFileName));
  if (!m_CodeFileName.empty()) platform::RemoveFile(WorkFilePath(m_CodeFileName));
  m_LoaderFileName.clear();
  m_CodeFileName.clear();
}

// ---- Modal boxes inside a run ----
//
// A modal box opened from a pump (the close question, the about box during a
// Retrieve) runs its own event loop on top of the link's wait. The reply
// time-out is paused while it is open and starts afresh when it closes, so a
// box left open longer than a time-out does not fail the exchange below it.

namespace {

class CommTimerPause {
 public:
  explicit CommTimerPause(platform::Timer* timer)
      : timer_(timer), wasEnabled_(timer != nullptr && timer->Enabled()) {
    if (wasEnabled_) timer_->SetEnabled(false);
  }
  ~CommTimerPause() {
    if (wasEnabled_) timer_->SetEnabled(true);
  }
  CommTimerPause(const CommTimerPause&) = delete;
  CommTimerPause& operator=(const CommTimerPause&) = delete;

 private:
  platform::Timer* timer_;
  bool wasEnabled_;
};

}  // namespace

bool CodeUpdater::FormCloseQuery() {
  if (m_RunState == RunState::Idle) {
    // A Retrieve in progress ends at its next wait; the window may close.
    if (m_Retrieving) RequestStop();
    return true;
  }
  platform::MsgResult answer;
  {
    CommTimerPause pause(m_CommTimer.get());
    answer = m_Host.ShowMessage("Update in progress.  Are you sure you want to quit?", "Confirm",
                                platform::MsgIcon::Question, platform::MsgButtons::YesNo);
  }
  if (answer != platform::MsgResult::Yes) return false;
  RequestStop();
  return true;
}

void CodeUpdater::m_HelpAboutMenuItemClick() {
  if (m_RunState != RunState::Idle) return;
  CommTimerPause pause(m_CommTimer.get());
  m_View.ShowAboutBox();
}

}  // namespace bcu::app
