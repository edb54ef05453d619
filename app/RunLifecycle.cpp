// The run state (idle, running, stopping), the stop request, the run's private
// work folder, and what keeps a modal box inside a run from failing it.
#include <cctype>
#include <cstdio>

#include "app/CodeUpdater.h"
#include "app/EmbeddedFiles.h"
#include "app/WorkFolder.h"
#include "link/CommLink.h"
#include "platform/FileOpen.h"

namespace bcu::app {

// While a run finishes its step, the button stops it at once.
constexpr const char* kStopNowCaption = "Stop Now";
constexpr const char* kStoppingCaption = "Stopping...";

const char* RunStepName(RunStep step) {
  switch (step) {
    case RunStep::Loader:
      return "the loader download";
    case RunStep::EraseBeforeBoot:
      return "the flash erase before the boot code";
    case RunStep::BootCode:
      return "the boot code download";
    case RunStep::EraseBeforeApplication:
      return "the flash erase before the application code";
    case RunStep::ApplicationCode:
      return "the application code download";
    case RunStep::Dsp:
      return "the DSP download";
    case RunStep::CodeplugUpload:
      return "the codeplug upload";
    case RunStep::CodeplugDownload:
      return "the codeplug download";
    case RunStep::CodeplugReadBack:
      return "the codeplug read-back";
    case RunStep::Other:
      break;
  }
  return "the current step";
}

bool RunStepIsUncut(RunStep step) {
  switch (step) {
    case RunStep::EraseBeforeBoot:
    case RunStep::BootCode:
    case RunStep::Dsp:
    case RunStep::CodeplugUpload:
    case RunStep::CodeplugDownload:
    case RunStep::CodeplugReadBack:
      return true;
    default:
      return false;
  }
}

std::string CodeUpdater::StopNotice() const {
  const std::string name = RunStepName(m_Step);
  if (RunStepIsUncut(m_Step))
    return "the run stops after " + name + ", which must not be cut short";
  if (m_Step == RunStep::ApplicationCode)
    return "stopping " + name +
           " at its next block; the radio is then in bootload mode without application code, "
           "and running the update again completes it";
  if (m_Step == RunStep::EraseBeforeApplication)
    return "stopping before the application code; the radio's flash is being erased, so it is "
           "then in bootload mode without application code, and running the update again "
           "completes it";
  if (m_Step == RunStep::Loader)
    return "stopping the loader download at its next block, before the flash is erased";
  return "stopping after the current step; nothing further is written to the radio";
}

void CodeUpdater::RequestStop(StopLevel level) {
  if (!Busy()) return;
  if (level == StopLevel::AtOnce || m_Retrieving) {
    m_Stop.Request();
    // The wait in progress ends at its next pass; none can start after it.
    link::CommSetRunning(m_Link, false);
  } else {
    m_Stop.RequestAfterStep();
  }
  if (m_RunState == RunState::Idle) return;
  const bool first = m_RunState == RunState::Running;
  m_RunState = RunState::Stopping;
  m_Running = false;
  // After the step, a second press stops at once; after that, none is left.
  m_StartButtonCaption = m_Stop.AtOnce() ? kStoppingCaption : kStopNowCaption;
  m_StartButtonEnabled = !m_Stop.AtOnce();
  if (first && !m_Stop.AtOnce()) {
    std::string text = StopNotice();
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    m_Host.ShowStatusText(text + ".");
  }
  m_View.RunningStateChanged();
}

void CodeUpdater::FinishRun() {
  m_RunResult.End();
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
  RecordRun();
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
  // The first close lets the step finish; one confirmed while the run is
  // finishing it cuts it.
  RequestStop(m_RunState == RunState::Stopping ? StopLevel::AtOnce : StopLevel::AfterStep);
  return true;
}

void CodeUpdater::m_HelpAboutMenuItemClick() {
  if (m_RunState != RunState::Idle) return;
  CommTimerPause pause(m_CommTimer.get());
  m_View.ShowAboutBox();
}

}  // namespace bcu::app
