// What the Start button runs: the start password, the manual and automatic
// update runners, the running state, the outcome texts and the progress
// animation of the fixed waits.
#include <cstdio>
#include <fstream>
#include <string>

#include "app/CodeUpdater.h"
#include "app/CodeplugBackup.h"
#include "app/WorkFolder.h"
#include "codeplug/FormatVersion.h"
#include "link/CommLink.h"
#include "link/DspDownload.h"
#include "link/FlashDownload.h"
#include "platform/FileOpen.h"

namespace bcu::app {

namespace {

constexpr const char* kCaption = "Brisant Code Updater";
constexpr const char* kStartPassword = "gablers";
constexpr const char* kBootPassword = "tollmore";
constexpr std::uint32_t kLeaveWaitMs = 50;

constexpr const char* kTextIdle = "Idle";
constexpr const char* kTextExtracting = "Extracting embedded files...";
constexpr const char* kTextChecking = "Checking target radio...";
constexpr const char* kTextDone = "Done.";
constexpr const char* kTextStoppedNothingWritten = "Stopped. Nothing was written to the radio.";
constexpr const char* kTextStoppedAfterBoot =
    "Stopped. The boot code was updated; the application code was not written.";
constexpr const char* kTextStoppedBeforeErase =
    "Stopped before the flash was erased; the radio's code is unchanged.";
constexpr const char* kTextStoppedWithoutApplication =
    "Stopped. The radio is in bootload mode without application code; running the update again "
    "completes it.";
constexpr const char* kTextBootCodeCut =
    "Stopped at once. The boot code download was cut short: the radio's boot code is incomplete "
    "and it may no longer start. Keep it powered and run the boot update again.";
constexpr const char* kTextNotBackInBootload =
    "The radio did not come back in bootload mode; the application code was not written.";

constexpr const char* kTextAutoBootDone =
    "Brisant Code Updater has detected that the connected radio did not\nhave the latest "
    "bootload code version.  This has been automatically\nupdated.  Please place the radio back "
    "into bootload mode to continue\nwith the application code upgrade.\n\nPress OK once the "
    "radio is ready.";
constexpr const char* kTextNoConversion =
    "Brisant Code updaters do not support a file format conversion for your\nradio.  To clear "
    "the Bad File Format error, please perform a parms\nupload and then download using "
    "ConfigDesk.  If you do not\nhave ConfigDesk, then contact your local dealer for "
    "assistance.";
constexpr const char* kTextForMobile =
    "This Brisant Code Updater is intended for a mobile radio, and\ncannot be used with the "
    "connected portable radio.";
constexpr const char* kTextForPortable =
    "This Brisant Code Updater is intended for a portable radio, and\ncannot be used with the "
    "connected mobile radio.";
constexpr const char* kText416 =
    "This version of Brisant Code Updater is meant for Series 1 radios with 416\nprocessors.  "
    "Please acquire the updater for Series 1 radios with 816 processors.";
constexpr const char* kText816 =
    "This version of Brisant Code Updater is meant for Series 1 radios with 816\nprocessors.  "
    "Please acquire the updater for Series 1 radios with 416 processors.";

// Leading and trailing blanks and control characters removed.
std::string TrimEntry(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; };
  while (first < last && blank(text[first])) ++first;
  while (last > first && blank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

const char* OutcomeText(int outcome) {
  switch (outcome) {
    case kCodeplugNotConvertible:
    case kCodeplugNoConversion:
    case kCodeplugConverted:
      return kTextDone;
    case kCodeplugUploadFailed:
      return "An error occurred while uploading the codeplug.";
    case kCodeplugDownloadFailed:
      return "An error occurred while downloading the codeplug.";
    case kCodeplugConversionFailed:
      return "The codeplug could not be converted to the format of the new code; the radio's "
             "codeplug was left unchanged.";
    case kCodeplugNotVerified:
      return "The codeplug was written, but it could not be read back to verify it.";
    case kCodeplugStopped:
      return "Stopped. The radio runs its new code; its codeplug was not converted.";
    default:
      return "The radio is no longer responding.";
  }
}

// A stop requested so far ends the run before its next step; the status line
// says what was left undone.
bool StoppedBefore(CodeUpdater& u, const char* text) {
  if (!u.StopRequested()) return false;
  u.m_Host.ShowStatusText(text);
  return true;
}

// Both work files are there and hold something to send; otherwise the status
// line names the file and nothing is downloaded.
bool WorkFilesReady(CodeUpdater& u, bool dspImage) {
  std::string problem = CheckWorkFile(u.WorkFilePath(u.m_LoaderFileName), u.m_LoaderFileName,
                                      WorkFileKind::SRecordLoader);
  if (problem.empty()) {
    problem = CheckWorkFile(u.WorkFilePath(u.m_CodeFileName), u.m_CodeFileName,
                            dspImage ? WorkFileKind::Binary : WorkFileKind::SRecordCode);
  }
  if (problem.empty()) return true;
  u.m_Host.ShowStatusText(problem);
  u.m_Host.Progress().SetPosition(0);
  return false;
}

// Before the first write of a run whose codeplug step will keep a backup:
// the backup and the run's history line must fit in the data folder, or
// nothing is written to the radio.
bool BackupRoomReady(CodeUpdater& u) {
  const std::string root =
      u.m_Options.backupRoot.empty() ? DefaultBackupRoot() : u.m_Options.backupRoot;
  std::string reason;
  if (BackupCanBeKept(root, u.m_Options.folderRoom, reason)) return true;
  const std::string text =
      "The codeplug backup cannot be kept (" + reason + "); nothing was written to the radio.";
  u.m_Host.ShowStatusText(text);
  u.m_Host.Progress().SetPosition(0);
  u.m_Host.ShowMessage(text, kCaption, platform::MsgIcon::Error, platform::MsgButtons::Ok);
  return false;
}

}  // namespace

bool CodeUpdater::IsBootUpdate() const {
  return m_Attributes.UpgradeType == kUpgradeBoot ||
         (m_Attributes.UpgradeType == kUpgradeApplicationBoot && m_BootRadioChecked);
}

void CodeUpdater::m_StartButtonClick() {
  // A Retrieve reading the radio takes no press: nothing may start a second
  // exchange from inside its waits.
  if (m_Retrieving) return;
  if (m_RunState == RunState::Stopping) {
    // "Stop Now": cuts the step the first Stop let run, after a question when
    // cutting it could leave the radio inconsistent.
    if (m_Stop.AtOnce()) return;
    if (RunStepIsUncut(m_Step)) {
      const std::string name = RunStepName(m_Step);
      std::string question = "Stopping now cuts " + name +
                             " short, which can leave the radio unusable until the update is "
                             "run again.  Stop now anyway?";
      if (m_Host.ShowMessage(question, "Confirm", platform::MsgIcon::Question,
                             platform::MsgButtons::YesNo) != platform::MsgResult::Yes)
        return;
    }
    RequestStop(StopLevel::AtOnce);
    return;
  }
  const bool bootUpdate = IsBootUpdate();
  if (m_RunState == RunState::Running) {
    // Stop: the running update sees the stop request and unwinds by itself
    // once its step allows; the run stays "stopping" until it has.
    RequestStop(StopLevel::AfterStep);
    m_Host.Progress().SetPosition(0);
    return;
  }
  if (!m_PasswordAccepted) {
    const char* expected = (bootUpdate && !m_AutoBootUpdate) ? kBootPassword : kStartPassword;
    std::string entry;
    const bool confirmed = m_Host.AskPassword(platform::PasswordPurpose::Start, entry);
    if (!confirmed || TrimEntry(entry) != expected) return;
    m_PasswordAccepted = true;
  }
  m_View.FocusRetrieveButton();
  RunUpdate(bootUpdate);
}

void CodeUpdater::RunUpdate(bool bootUpdate) {
  if (m_AutoBootUpdate) {
    RunAutomaticUpdate();
  } else {
    RunManualUpdate(bootUpdate);
  }
  ReleasePort();
  FinishRun();
}

void CodeUpdater::EnterRunningState() {
  m_RunResult.Begin();
  BeginRunRecord();
  m_Stop.Reset();
  m_StartButtonCaption = "Stop";
  m_StartButtonEnabled = true;
  m_ComportComboBoxEnabled = false;
  m_RetrieveVersionInfoButtonEnabled = false;
  m_Running = true;
  m_RunState = RunState::Running;
  m_View.RunningStateChanged();
}

void CodeUpdater::LeaveRunningState(bool deleteWorkFiles) {
  link::CommSetRunning(m_Link, false);
  m_Host.GetClock().SleepMs(kLeaveWaitMs);
  if (deleteWorkFiles) DeleteWorkFiles();
  m_Running = false;
  // The controls return to idle in FinishRun, once the port is released.
}

void CodeUpdater::StartProgressAnimation(std::uint32_t intervalMs) {
  platform::ProgressBar& bar = m_Host.Progress();
  bar.SetMin(0);
  bar.SetMax(100);
  bar.SetPosition(0);
  if (!ProgressBarTimer) return;
  ProgressBarTimer->SetInterval(intervalMs);
  // A zero interval never fires (as a window timer with interval 0 does not).
  ProgressBarTimer->SetEnabled(intervalMs > 0);
}

void CodeUpdater::StopProgressAnimation() {
  if (ProgressBarTimer) ProgressBarTimer->SetEnabled(false);
  m_Host.Progress().SetPosition(100);
}

void CodeUpdater::ProgressBarTimerTimer() {
  platform::ProgressBar& bar = m_Host.Progress();
  // The bar stops at its maximum, as the control does.
  if (bar.Position() < bar.Max()) bar.SetPosition(bar.Position() + 1);
}

void CodeUpdater::ShowCodeplugOutcome(int outcome) {
  m_Host.ShowStatusText(OutcomeText(outcome));
  if (outcome == kCodeplugNotConvertible || outcome == kCodeplugConversionFailed) {
    m_Host.ShowMessage(kTextNoConversion, kCaption, platform::MsgIcon::Information,
                       platform::MsgButtons::Ok);
  }
}

void CodeUpdater::ShowProcessorMessage() {
  // The check comes after the loader, before the flash is erased.
  m_RunResult.MarkRefused();
  m_Host.ShowMessage(m_Attributes.Processor416 ? kText416 : kText816, kCaption,
                     platform::MsgIcon::Error, platform::MsgButtons::Ok);
}

namespace {

std::string FormatName(int index) {
  const auto v = codeplug::VersionOfFormatIndex(static_cast<std::uint8_t>(index));
  return std::to_string(v.major) + "." + std::to_string(v.minor);
}

// The commands that put a kept backup back into the radio. The radio now
// runs its new code, which refuses a codeplug of the old format: a backup in
// another format is converted to the new code's first (what the update
// itself would have written), then written.
std::string RestoreHint(const CodeplugStepReport& report) {
  const std::string quoted = "\"" + report.backupPath + "\"";
  const bool convertible = report.imageFormatIndex >= codeplug::kFormatIndex58 &&
                           report.imageFormatIndex != codeplug::kUnknownFormatIndex &&
                           report.targetFormatIndex >= codeplug::kFormatIndex58 &&
                           report.targetFormatIndex != codeplug::kUnknownFormatIndex;
  if (!convertible || report.imageFormatIndex == report.targetFormatIndex)
    return "To write it back into the radio:\nbcu codeplug write --port DEVICE " + quoted;
  const std::string to = FormatName(report.targetFormatIndex);
  const std::string converted =
      "codeplug-" + (report.serialNumber.empty() ? std::string("radio") : report.serialNumber) +
      "-" + to + ".bin";
  return "The radio's new code expects codeplug format " + to + " (the backup holds " +
         FormatName(report.imageFormatIndex) +
         "). To write it back into the radio, convert it first:\nbcu codeplug convert " + quoted +
         " " + converted + " --to " + to + "\nbcu codeplug write --port DEVICE " + converted;
}

bool IsCodeplugFailure(int outcome) {
  return outcome != kCodeplugNotConvertible && outcome != kCodeplugNoConversion &&
         outcome != kCodeplugConverted;
}

}  // namespace

// The codeplug step and its outcome in the status line, with the note that
// names a kept backup. A failure puts the progress bar back to 0 (a full bar
// reads as success) and names the backup's full path in a message box too.
// The version panel no longer shows the radio's versions: the code in it has
// changed.
void CodeUpdater::PreserveAndShowCodeplug() {
  const CodeplugStepReport report = PreserveCodeplugWithReport(*this);
  ShowCodeplugOutcome(report.outcome);
  if (!report.note.empty()) {
    m_Host.ShowStatusText(std::string(OutcomeText(report.outcome)) + "  " + report.note);
  }
  MarkVersionPanelOutOfDate();
  if (!IsCodeplugFailure(report.outcome)) return;
  m_Host.Progress().SetPosition(0);
  if (report.backupPath.empty()) return;
  std::string text =
      "The codeplug read from the radio is kept in this file:\n\n" + report.backupPath + "\n\n";
  // Once a download began the radio may hold something else than before.
  if (report.downloadAttempted) {
    text += RestoreHint(report);
    text +=
        "\n\nWhat the radio holds now, against the backup:\nbcu codeplug read --port DEVICE "
        "now.bin\nbcu codeplug diff \"" +
        report.backupPath + "\" now.bin";
  } else {
    text += "The radio's codeplug was not changed.";
  }
  m_Host.ShowMessage(text, kCaption, platform::MsgIcon::Information, platform::MsgButtons::Ok);
}

namespace {

RunStep StepOfStage(link::FlashStage stage, bool isBoot) {
  switch (stage) {
    case link::FlashStage::kLoader:
      return RunStep::Loader;
    case link::FlashStage::kErase:
      return isBoot ? RunStep::EraseBeforeBoot : RunStep::EraseBeforeApplication;
    case link::FlashStage::kCode:
      return isBoot ? RunStep::BootCode : RunStep::ApplicationCode;
    default:
      return RunStep::Other;
  }
}

// What a download that a stop ended leaves in the radio, in the status line.
// `afterBoot`: the boot code was updated earlier in the run.
void ShowStoppedDownload(CodeUpdater& u, const link::FlashDownloader& download, bool afterBoot) {
  const char* text = nullptr;
  switch (download.Stage()) {
    case link::FlashStage::kNotStarted:
    case link::FlashStage::kLoader:
      text = afterBoot ? kTextStoppedAfterBoot : kTextStoppedBeforeErase;
      break;
    case link::FlashStage::kErase:
    case link::FlashStage::kCode:
      text = download.IsBoot() ? kTextBootCodeCut : kTextStoppedWithoutApplication;
      break;
    case link::FlashStage::kCodeEnded:
      text = download.IsBoot() ? kTextStoppedAfterBoot : OutcomeText(kCodeplugStopped);
      break;
  }
  u.m_Host.ShowStatusText(text);
  u.m_Host.Progress().SetPosition(0);
}

// Where a download that failed on the link was, and what ended it: "the
// application code at block 41: no reply within 4.0 s".
// `fileStartBlocks`: the blocks sent before the file that failed began.
std::string DownloadFailureDetail(const CodeUpdater& u, const link::FlashDownloader& download,
                                  int result, std::int64_t fileStartBlocks) {
  std::string where;
  switch (download.Stage()) {
    case link::FlashStage::kNotStarted:
    case link::FlashStage::kLoader:
      where = "the loader";
      break;
    case link::FlashStage::kErase:
      where = "the flash erase";
      break;
    case link::FlashStage::kCode:
    case link::FlashStage::kCodeEnded:
      where = download.IsBoot() ? "the boot code" : "the application code";
      break;
  }
  const std::int64_t blocks = download.Blocks().blocksSent - fileStartBlocks;
  if (blocks > 0 && download.Stage() != link::FlashStage::kErase)
    where += " at block " + std::to_string(blocks);
  std::string why;
  if (u.m_Link.portLost) {
    why = "the port went away";
  } else if (result == link::kCommProblem && u.m_Link.useComPort && u.m_Link.lineIdle) {
    why = "the line went silent";
  } else if (result == link::kCommTimedOut) {
    char text[64];
    std::snprintf(text, sizeof text, "no reply within %.1f s",
                  static_cast<double>(link::CommReplyTimeoutRealMs(u.m_Link)) / 1000.0);
    why = text;
  } else {
    why = "no valid reply";
  }
  return where + ": " + why;
}

// Runs the flash download over the two work files opened as text; the run's
// step follows the download's stage, and a download a stop ended says what
// it left in the radio.
int RunFlashDownload(CodeUpdater& u, bool isBoot, bool afterBoot = false) {
  std::ifstream loader(platform::PathOf(u.WorkFilePath(u.m_LoaderFileName)));
  std::ifstream code(platform::PathOf(u.WorkFilePath(u.m_CodeFileName)));
  link::FlashDownloader download(u.m_Link, &CodeUpdater::ShowStatusText, &u, u.m_PlatformCode,
                                 u.m_Host.Progress(), isBoot, u.m_Attributes.Processor416 != 0);
  std::int64_t fileStartBlocks = 0;
  download.onStage = [&u, &download, &fileStartBlocks, isBoot](link::FlashStage stage) {
    u.m_Step = StepOfStage(stage, isBoot);
    if (stage == link::FlashStage::kCode) fileStartBlocks = download.Blocks().blocksSent;
    if (stage == link::FlashStage::kErase) u.m_RunResult.MarkFlashTouched();
  };
  const int result = download.Run(loader, code);
  u.m_Step = RunStep::Other;
  const bool linkFailure = result == link::kCommTimedOut || result == link::kCommProblem;
  if (linkFailure && u.StopRequested())
    ShowStoppedDownload(u, download, afterBoot);
  else if (linkFailure)
    u.m_RunResult.AddDetail(DownloadFailureDetail(u, download, result, fileStartBlocks));
  return result;
}

// After a good application download: the codeplug step, unless the user
// stopped the run in the meantime (then the status line says what was left).
void AfterApplicationDownload(CodeUpdater& u) {
  if (u.m_Running) {
    u.PreserveAndShowCodeplug();
  } else {
    u.ShowCodeplugOutcome(kCodeplugStopped);
  }
}

// The application part of an automatic update, once the boot code is current:
// application work files, the target check, the download (the status line
// reads "Idle" after a good one when `idleOnSuccess`), the work files removed
// again, and the codeplug step unless the user stopped. A failed target check
// removes the application work files too. `stoppedText` is the status text of
// a stop before the download.
void RunAutomaticApplication(CodeUpdater& u, bool idleOnSuccess, const char* stoppedText) {
  u.m_UseSecondBoot = false;
  if (StoppedBefore(u, stoppedText)) return;
  if (!u.ExtractEmbeddedFiles(false)) {
    u.m_Host.ShowStatusText(kTextIdle);
    return;
  }
  u.m_Host.ShowStatusText(kTextChecking);
  if (!u.CheckTargetRadio() || StoppedBefore(u, stoppedText) || !BackupRoomReady(u) ||
      !WorkFilesReady(u, false)) {
    u.DeleteWorkFiles();
    return;
  }
  const int result = RunFlashDownload(u, false, !idleOnSuccess);
  if (idleOnSuccess && result == link::kCommSuccess) u.m_Host.ShowStatusText(kTextIdle);
  u.DeleteWorkFiles();
  if (result == link::kCommSuccess) AfterApplicationDownload(u);
}

}  // namespace

void CodeUpdater::RunManualUpdate(bool bootUpdate) {
  const bool bootResources = m_Attributes.UpgradeType == kUpgradeApplicationBoot && bootUpdate;
  bool workFilesWritten = false;
  EnterRunningState();
  m_UseSecondBoot = false;
  m_Host.ShowStatusText(kTextExtracting);
  do {
    if (!OpenSelectedPort(false)) {
      m_Host.ShowStatusText(kTextIdle);
      break;
    }
    if (bootUpdate && !CheckBootVersion()) break;
    if (StoppedBefore(*this, kTextStoppedNothingWritten)) break;
    if (!ExtractEmbeddedFiles(bootResources)) {
      m_Host.ShowStatusText(kTextIdle);
      break;
    }
    workFilesWritten = true;
    m_Host.ShowStatusText(kTextChecking);
    if (!CheckTargetRadio()) break;
    if (StoppedBefore(*this, kTextStoppedNothingWritten)) break;
    const bool dsp = m_Attributes.UpgradeType == kUpgradeDsp;
    const bool applicationUpdate =
        !bootUpdate && (m_Attributes.UpgradeType == kUpgradeApplication ||
                        m_Attributes.UpgradeType == kUpgradeApplicationBoot);
    if (applicationUpdate && !BackupRoomReady(*this)) break;
    if (!WorkFilesReady(*this, dsp)) break;
    int result = 0;
    if (dsp) {
      // The page files go into the run's own folder as well.
      std::ifstream loader(platform::PathOf(WorkFilePath(m_LoaderFileName)));
      std::ifstream code(platform::PathOf(WorkFilePath(m_CodeFileName)), std::ios::binary);
      m_Step = RunStep::Dsp;
      m_RunResult.MarkFlashTouched();
      result = link::DspDownload(m_Link, loader, code, m_PlatformCode, &ShowStatusText, this,
                                 m_RunWorkDir + "/", m_Host.Progress());
      m_Step = RunStep::Other;
    } else {
      result = RunFlashDownload(*this, bootUpdate);
    }
    if (applicationUpdate && result == link::kCommSuccess) {
      AfterApplicationDownload(*this);
    } else if (result == link::kCommWrongProcessor) {
      ShowProcessorMessage();
      m_Host.ShowStatusText(kTextIdle);
      m_Host.Progress().SetPosition(0);
    }
  } while (false);
  LeaveRunningState(workFilesWritten);
}

void CodeUpdater::RunAutomaticUpdate() {
  EnterRunningState();
  m_Host.ShowStatusText(kTextExtracting);
  do {
    if (!OpenSelectedPort(false)) {
      m_Host.ShowStatusText(kTextIdle);
      break;
    }
    bool majorDiffers = false;
    bool commError = false;
    bool kindMismatch = false;
    const bool bootOutOfDate = CheckBootForAutoUpdate(majorDiffers, commError, kindMismatch);
    // A stop during the checks (the kind query among them) ends the run here.
    if (StoppedBefore(*this, kTextStoppedNothingWritten)) break;
    if (bootOutOfDate) {
      if (!ExtractEmbeddedFiles(true)) {
        m_Host.ShowStatusText(kTextIdle);
        break;
      }
      m_Host.ShowStatusText(kTextChecking);
      // The run goes on to the application and its codeplug step.
      if (!CheckTargetRadio() || StoppedBefore(*this, kTextStoppedNothingWritten) ||
          !BackupRoomReady(*this) || !WorkFilesReady(*this, false)) {
        DeleteWorkFiles();
        break;
      }
      const int bootResult = RunFlashDownload(*this, true);
      // A stopped download's text says what the radio holds; it stays.
      if (!StopRequested()) m_Host.ShowStatusText(kTextIdle);
      DeleteWorkFiles();
      if (bootResult != link::kCommSuccess) {
        if (!StopRequested()) m_Host.ShowStatusText(kTextIdle);
        break;
      }
      // A stop that let the boot code finish ends the run here.
      if (StoppedBefore(*this, kTextStoppedAfterBoot)) break;
      // The user puts the radio back into bootload mode: the run waits for
      // that (the box's OK, or the front end's own wait) before it goes on.
      if (m_Options.bootloadWait) {
        if (!m_Options.bootloadWait(*this, kTextAutoBootDone)) {
          if (!StoppedBefore(*this, kTextStoppedAfterBoot)) {
            m_NotBackInBootload = true;
            m_Host.ShowStatusText(kTextNotBackInBootload);
          }
          break;
        }
      } else {
        m_Host.ShowMessage(kTextAutoBootDone, kCaption, platform::MsgIcon::Information,
                           platform::MsgButtons::Ok);
      }
      if (StoppedBefore(*this, kTextStoppedAfterBoot)) break;
      link::CommChangeBaud(m_Link, 115200);
      SetRetrieveEnabled(true);
      m_View.FocusRetrieveButton();
      SetRetrieveEnabled(false);
      m_Host.ShowStatusText(kTextExtracting);
      RunAutomaticApplication(*this, false, kTextStoppedAfterBoot);
    } else if (majorDiffers) {
      m_RunResult.MarkRefused();
      m_Host.ShowStatusText("Error: the major boot versions of the radio and file are different.");
    } else if (commError) {
      m_Host.ShowStatusText("Communication error while trying to retrieve boot version.");
    } else if (kindMismatch) {
      m_RunResult.MarkRefused();
      m_Host.ShowStatusText(kTextIdle);
      m_Host.ShowMessage(m_Attributes.RadioFamily == 1 ? kTextForMobile : kTextForPortable,
                         kCaption, platform::MsgIcon::Error, platform::MsgButtons::Ok);
    } else {
      RunAutomaticApplication(*this, true, kTextStoppedNothingWritten);
    }
  } while (false);
  LeaveRunningState(false);
}

}  // namespace bcu::app
