#pragma once
// The main window's logic without the window: everything the window holds
// besides its controls (the radio link, the serial port component, the two
// timers, the embedded attributes, the port slots and the state flags), the
// state its controls show, and its event handlers.
//
// The Qt window and the command line own one CodeUpdater each and implement
// platform::Host (status line, progress bar, message boxes, password dialog,
// pump, timers, clock) and CodeUpdaterView (redraw callbacks). Nothing here is
// global: two CodeUpdaters on two ports in two threads do not interfere.
//
// Where the members are defined:
//   app/CodeUpdater.cpp          construction, state, small handlers
//   app/Identification.cpp       intended target, version panel, radio checks
//   app/PortSelection.cpp        port slots, opening and releasing the link
//   app/CodeUpdaterResources.cpp the embedded attributes and work files
//   app/UpdateSequence.cpp       Start/Stop, the update runners, running state,
//                                progress animation
//   app/RunLifecycle.cpp         the run state, the stop request, the run's
//                                work folder, modal boxes inside a run
//   app/BootloadWait.cpp         waiting for a radio to come back in bootload
//                                mode after its boot code was updated
//   app/CodeplugPreservation.cpp PreserveCodeplug, ReadRadioKey
//   app/RunHistory.cpp           the run's line in the update history
//
// A run is what Start runs. Its state (m_RunState) is Idle, Running or
// Stopping: Stop (or Yes to "Confirm" on closing) moves it to Stopping at
// once, and it returns to Idle only when the runner has unwound and the port
// is released. The stop request (m_Stop) is what every step asks before it
// starts anything that writes or transfers; the link refuses to arm its
// running flag while it holds.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/CodeUpdaterView.h"
#include "app/CodeplugBackup.h"
#include "app/FirmwareSetIdentity.h"
#include "app/ResourceAttributes.h"
#include "app/RunHistory.h"
#include "app/RunResultHost.h"
#include "link/CommLink.h"
#include "platform/FolderRoom.h"
#include "platform/Host.h"
#include "platform/PortDiscovery.h"
#include "platform/PortTable.h"
#include "platform/Resources.h"
#include "platform/Timer.h"

namespace bcu::link {
class TScpComPort;
}
namespace bcu::platform {
class SerialDriver;
}
namespace bcu::transfer {
class SerialPortSource;
}

namespace bcu::app {

// Platform codes of the radios (0, 1, 4, 5, 6, 7, 8). The family names the
// radio family of the attributes: 0 portable, 1 mobile; other families have
// no platform code (0 is returned).
std::uint8_t PlatformCodeFromAttributes(std::uint8_t radioFamily, std::uint8_t series,
                                        std::uint8_t newPlatform);
std::uint8_t PlatformCodeFromBoot(std::uint8_t radioFamily, std::uint8_t bootMajor,
                                  std::uint8_t bootMinor);
// "6400" for family 0, "6700" for family 1, empty otherwise.
std::string FamilyName(std::uint8_t radioFamily);

// The program name shown after "Name: ": the file name of `programPath`
// without directory, cut before its first ".".
std::string ProgramNameFromPath(const std::string& programPath);
// The release shown for a name label text ("Name: Anything_Release_4_1"
// gives "4.1"), or "N/A".
std::string ReleaseFromNameLabel(const std::string& nameLabelText);
// The name label text and the release shown. A file name that carries a
// release gives both, as above. Otherwise (the program started by its
// installed name or from the menu) the firmware set's own name and release
// stand in where the set carries them; without them the file name and "N/A".
void NameAndRelease(const std::string& programPath, const FirmwareSetIdentity& set,
                    std::string& nameLabel, std::string& release);

// The texts of the "Target Radio Version Information" panel.
struct VersionPanelTexts {
  std::string FileVersionLabel;
  std::string DSPVersionLabel;
  std::string HWControllerVersionHeadingLabel = "HC08 Software Version:";
  std::string HWControllerVersionLabel;
  std::string HWRevisionLabel;
  std::string SerialNumberLabel;
  std::string BootLoadVersionLabel;
  std::string SEMVersionLabel;
};
// Fills the panel texts from a version record read with `platformCode`
// (the heading becomes "Controller Version:").
VersionPanelTexts FormatVersionPanel(const link::VersionInfo& info, std::uint8_t platformCode);

enum class RadioPicture { None, PortableX, PortableG, MobileX, MobileG };

// The "Intended Target Radio" group and the name/release labels. Texts that
// the attributes could not fill stay empty.
struct IntendedTargetTexts {
  std::string m_NameLabel = "Name:";
  std::string m_TargetReleaseLabel;
  std::string m_TargetRadioLabel;
  std::string m_TargetSeriesLabel;
  std::string m_TargetUpgradeTypeLabel;
  std::string ConfigDeskVersionLabel;
  std::string TuneDeskVersionLabel;
  RadioPicture picture = RadioPicture::None;
};

// Outcome of the codeplug preservation step.
// (app/CodeplugBackup.h adds 6, conversion failed, and 7, written but not
// verified.)
enum CodeplugOutcome : int {
  kCodeplugNoAnswer = 0,
  kCodeplugNotConvertible = 1,
  kCodeplugNoConversion = 2,
  kCodeplugConverted = 3,
  kCodeplugUploadFailed = 4,
  kCodeplugDownloadFailed = 5,
};

class CodeUpdater;

// The life of a run, as both front ends show it.
enum class RunState { Idle, Running, Stopping };

struct CodeUpdaterOptions {
  // Device paths the user named (--port): they take the first port slots,
  // before the system's own devices.
  std::vector<std::string> extraDevicePaths;
  // Number of logical processors; empty: ask the system.
  std::function<unsigned()> processorCount;
  // Folder in which each run makes its own private work folder (and where a
  // codeplug backup goes); empty: the current directory.
  std::string workDir;
  // Folder of the codeplug backups; empty: the user's data folder
  // (DefaultBackupRoot in app/CodeplugBackup.h).
  std::string backupRoot;
  // Read the codeplug back after writing it and compare. The window always
  // does; the command line may be told not to.
  bool verifyCodeplug = true;
  // The kernel calls of both transports (not owned); null: the system's.
  platform::SerialDriver* serialDriver = nullptr;
  // The serial device's port (not owned); null: the system's port of the
  // selected slot. A radio model in this process is reached through it.
  transfer::SerialPortSource* portSource = nullptr;
  // Real milliseconds per millisecond of the link's reply time-outs: 1 keeps
  // them real. Only tests shorten them (see link::CommLink).
  double replyTimeoutScale = 1.0;
  // After the automatic boot update the radio must be put back into bootload
  // mode. Unset: the modal box asks the user and waits for OK. Set (a front
  // end without modal boxes): called with the box's text instead; true when
  // the radio is ready, false to end the run there.
  std::function<bool(CodeUpdater&, const std::string& text)> bootloadWait;
  // Asks a folder for its room (platform::QueryFolderRoom when empty); tests
  // make the data folder full.
  std::function<platform::FolderRoom(const std::string&)> folderRoom;
  // Append a line to the update history when a Start run ends (done,
  // failed, refused or stopped; not for a refused start password, nor for a
  // Retrieve). The windows and `bcu update` do. A line that cannot be
  // written is shown in an error box; the run stands as it ended.
  bool recordHistory = false;
  // The history file; empty: the user's (DefaultHistoryPath).
  std::string historyPath;
  // Called with the run's facts before its outcome code is decided: a front
  // end adds what only it knows (a stop signal that reached no pump).
  std::function<void(UpdateRunFacts&)> runFacts;
};

// How a stop asks the run to end: after the step (the first Stop, Ctrl-C or
// confirmed close: a step that must not be cut runs to its end, the loader
// and the application code stop at their next block) or at once (the second:
// whatever runs is cut).
enum class StopLevel { AfterStep, AtOnce };

// What a run is doing, as far as stopping it goes.
enum class RunStep {
  Other,  // checks, waits and reads that any stop may end
  Loader,
  EraseBeforeBoot,
  BootCode,
  EraseBeforeApplication,
  ApplicationCode,
  Dsp,
  CodeplugUpload,
  CodeplugDownload,
  CodeplugReadBack,
};
// The step as a stop notice names it ("the boot code download").
const char* RunStepName(RunStep step);
// A stop after the step lets this step run to its end: the boot code (and
// the erase wait before it), a DSP download, a codeplug upload, download or
// read-back. Each is short, and cutting it leaves the radio inconsistent.
bool RunStepIsUncut(RunStep step);

// What waiting for a radio to come back in bootload mode ended with.
enum class BootloadWaitResult { Ready, TimedOut, Stopped };

// Deletes the serial port component (defined beside OpenPortComPort).
struct ScpComPortDeleter {
  void operator()(link::TScpComPort* port) const;
};

class CodeUpdater {
 public:
  // Runs the start-up of the main window: clears the link, fills the name and
  // release, hides the version panel, reads the attributes, computes the
  // platform code, picks the picture, decides the automatic boot update,
  // gives the link its time-out timer and scans the ports. It calls the host
  // (timers, clock) but not the view: the window draws the whole state once
  // after construction. `host`, `view`, `resources` and `discovery` must
  // outlive the object.
  CodeUpdater(platform::Host& host, CodeUpdaterView& view,
              const platform::ResourceSource& resources, std::string programPath,
              platform::PortDiscovery& discovery, CodeUpdaterOptions options = {});
  ~CodeUpdater();
  CodeUpdater(const CodeUpdater&) = delete;
  CodeUpdater& operator=(const CodeUpdater&) = delete;

  // The link's trace hook (null: none).
  void SetTrace(link::CommTrace* trace) { m_Link.trace = trace; }

  // ---- Event handlers of the window ----
  void m_StartButtonClick();  // UpdateSequence.cpp
  void m_RetrieveVersionInfoButtonClick();
  void m_UpdateCOMPortsMenuItemClick();
  // The user picked item `index` (0..63); a port that is not present moves
  // the selection to the first present port.
  void m_ComportComboBoxChange(int index);
  // Flips m_VersionPanelShown and the button's caption; the widths are the
  // window's.
  void m_ToggleVersionInfoSpeedButtonClick();
  // True when the window may close; asks "Confirm" during an update.
  bool FormCloseQuery();
  void m_HelpAboutMenuItemClick();
  void m_ApplicationRadioButtonClick();
  void m_BootRadioButtonClick();
  void m_OnCommTimerTimer();
  void ProgressBarTimerTimer();  // UpdateSequence.cpp

  // ---- Update sequence (UpdateSequence.cpp) ----
  void RunUpdate(bool bootUpdate);
  void RunManualUpdate(bool bootUpdate);
  void RunAutomaticUpdate();
  void EnterRunningState();
  void LeaveRunningState(bool deleteWorkFiles);
  void StartProgressAnimation(std::uint32_t intervalMs);
  void StopProgressAnimation();
  bool IsBootUpdate() const;
  void ShowCodeplugOutcome(int outcome);
  // The codeplug step as the runners run it after a good application
  // download: the step, its outcome in the status line (with the note naming
  // the backup), and on failure the progress bar at 0 and a box with the
  // backup's full path.
  void PreserveAndShowCodeplug();
  void ShowProcessorMessage();

  // ---- Run state (RunLifecycle.cpp) ----
  // Stops the run (or the Retrieve) in progress: the stop request holds from
  // now on and a running update moves to Stopping. After the step, the run
  // ends at its next safe point (see StopLevel); at once (and always for a
  // Retrieve) the link wait in progress ends too. No effect while idle. Safe
  // to call from any pump of the run's own thread; another thread requests
  // through m_Stop alone (atomic), which the run's waits see at their next
  // pass.
  void RequestStop(StopLevel level = StopLevel::AfterStep);
  // What a stop after the step does now, for the front ends to say: "the
  // run stops after the boot code download, which must not be cut", ...
  std::string StopNotice() const;
  bool StopRequested() const { return m_Stop.Requested(); }
  // The run has unwound and its port is released: its work folder goes, and
  // the controls return to idle.
  void FinishRun();
  // True while a run or a Retrieve holds the link.
  bool Busy() const { return m_RunState != RunState::Idle || m_Retrieving; }
  // The run's private work folder (made on first use, mode 0700); false with
  // the "Embedded Files" message shown when it cannot be made.
  bool PrepareRunWorkFolder();
  // Full path of a work file of this run.
  std::string WorkFilePath(const std::string& name) const;
  // Deletes the loader and code work files and forgets their names.
  void DeleteWorkFiles();

  // ---- Bootload wait (BootloadWait.cpp) ----
  // Asks the radio for its boot information about once a second until it
  // answers (it is back in bootload mode), `limitMs` of real time pass, or a
  // stop is requested. `onPoll` (may be empty) hears the real milliseconds
  // waited so far before each request.
  BootloadWaitResult WaitForBootloadMode(std::uint32_t limitMs,
                                         const std::function<void(std::uint32_t)>& onPoll = {});
  // Status-text callback handed to the downloads with `this` as the form.
  static void ShowStatusText(void* form, const std::string& text);

  // ---- Codeplug preservation (CodeplugPreservation.cpp) ----
  int PreserveCodeplug();
  bool ReadRadioKey(std::string& text);

  // ---- The run in the update history (RunHistory.cpp) ----
  // A run begins: what it knows of the radio (the version panel) and when.
  void BeginRunRecord();
  // What the run did, as far as the updater saw it.
  UpdateRunFacts RunFacts() const;
  // The run has ended: its record (LastRunRecord) and, when asked for, its
  // line in the history. Nothing when no run began since the last one.
  void RecordRun();
  const LastRun& LastRunRecord() const { return m_LastRun; }

  // ---- Embedded firmware (CodeUpdaterResources.cpp) ----
  bool ReadResourceAttributes();
  bool ExtractEmbeddedFiles(bool bootResources);

  // ---- Identification (Identification.cpp) ----
  void ShowIntendedTarget();  // all three pieces
  void ShowNameAndRelease();
  void ShowTargetLabels();
  void ShowTargetPicture();
  bool CheckTargetRadio();
  void ShowSeriesMismatch(std::uint8_t radioFamily, std::uint8_t radioSeries);
  bool CheckBootVersion();
  bool CheckBootForAutoUpdate(bool& majorDiffers, bool& commError, bool& kindMismatch);
  bool QueryRadioKind(std::uint8_t expectedKind, bool& mismatch);
  // After new code went into the radio: the panel's values are those of the
  // code before; they are cleared (Retrieve reads them again).
  void MarkVersionPanelOutOfDate();

  // ---- Ports (PortSelection.cpp) ----
  void RefreshPortList();
  bool OpenSelectedPort(bool keepSpeed);
  void ReleasePort();
  bool OpenPortSerialDevice(int portNumber, bool keepSpeed);
  bool OpenPortComPort(int portNumber, bool keepSpeed);
  int ProbeMobilePort(int portNumber);
  bool HasMultipleProcessors() const;
  // After a box that refused the port: keeps the port and the system's
  // reason `why` (m_PortProblem) and adds them to the run's result.
  void ShowPortProblem(const std::string& boxText, const std::string& why);
  // Selects item `index` without the present rule (restoring a selection).
  void SelectPortItem(int index);
  // Rescans and selects the device that was selected before, in whatever
  // slot it now is (adapters plugged in or out move the others); a slot
  // without a device, or a device that is gone, keeps the slot number.
  // False when the selected device is gone.
  bool RescanKeepingSelection();
  // The slot index of `devicePath`, -1 when no slot holds it.
  int SlotOfDevice(const std::string& devicePath) const;
  // Item i is drawn as available: its port is present and the list enabled.
  bool PortItemAvailable(int index) const;
  int SelectedPortNumber() const { return m_PortItemIndex + 1; }

  // How the last run ended, in one line: the failing step's own text (with
  // what it knows of the block, reply or time-out that ended it), the error
  // box that ended the run, or the outcome ("Done."); never "Idle". Empty
  // before the first run.
  const std::string& RunResultText() const { return m_RunResult.ResultText(); }

  // ---- What the window holds ----
  // The front end's host, as the logic reaches it: through m_RunResult,
  // which keeps the texts that say how a run ended.
  RunResultHost m_RunResult;
  platform::Host& m_Host;
  CodeUpdaterView& m_View;
  const platform::ResourceSource& m_Resources;
  platform::PortDiscovery& m_Discovery;
  CodeUpdaterOptions m_Options;
  std::string m_ProgramPath;

  link::CommLink m_Link;
  std::unique_ptr<link::TScpComPort, ScpComPortDeleter> ScpComPort;  // made on first use
  std::unique_ptr<platform::Timer> m_CommTimer;
  std::unique_ptr<platform::Timer> ProgressBarTimer;
  ResourceAttributes m_Attributes;
  std::uint8_t m_PlatformCode = 0;
  bool m_VersionPanelShown = true;
  // An update is under way and not asked to stop (the runners go on to the
  // codeplug step only while it holds).
  bool m_Running = false;
  RunState m_RunState = RunState::Idle;
  bool m_Retrieving = false;  // a Retrieve is reading the radio
  link::StopRequest m_Stop;   // the link refers to it
  RunStep m_Step = RunStep::Other;
  std::string m_RunWorkDir;  // the run's private work folder; empty: none
  bool m_PasswordAccepted = false;
  bool m_UseSecondBoot = false;
  // What the run's history line is made of beyond m_RunResult.
  bool m_RunBegun = false;  // a run began and was not recorded yet
  RunStart m_RunStart;
  std::optional<CodeplugStepReport> m_CodeplugReport;  // the run's codeplug step
  bool m_NotBackInBootload = false;  // the radio did not come back in bootload mode
  LastRun m_LastRun;
  bool m_AutoBootUpdate = false;
  std::string m_LoaderFileName;
  std::string m_CodeFileName;

  // Port slots, index 0 for COM1 .. 63 for COM64.
  std::array<std::int32_t, platform::kPortSlots> m_PortPresent{};  // 2 present, 0 not
  std::array<std::int32_t, platform::kPortSlots> m_PortState{};    // 2 free, 1 taken, 0 n/a
  std::array<std::int32_t, platform::kPortSlots> m_UsbBoxKind{};   // 0, 1 (6400), 2 (6700)
  std::array<platform::PortTestResult, platform::kPortSlots> m_PortTest{};  // why not present
  platform::PortTable m_PortTable;  // slot n -> device path; the link resolves through it

  // ---- What the controls show ----
  std::vector<std::string> m_PortItems;  // 64 items after a scan
  int m_PortItemIndex = 0;
  // Why the last OpenSelectedPort failed: the port and the system's reason
  // ("/dev/ttyUSB0: Permission denied; add your user to ..."); empty when it
  // did not fail, or did for another reason (a box refused by the probe).
  std::string m_PortProblem;
  std::string m_StartButtonCaption = "Start";
  bool m_StartButtonEnabled = true;
  bool m_ComportComboBoxEnabled = true;
  bool m_RetrieveVersionInfoButtonEnabled = true;
  std::string m_ToggleVersionInfoCaption = ">>";
  VersionPanelTexts m_VersionPanel;
  // The panel was cleared because the radio's code changed after a Retrieve.
  bool m_VersionPanelOutOfDate = false;
  IntendedTargetTexts m_Target;
  bool m_UpgradeChoiceVisible = false;  // m_UpgradeTypeLabel and the two radio buttons
  bool m_ApplicationRadioChecked = true;
  bool m_BootRadioChecked = false;

 private:
  bool m_Started = false;  // the constructor has run: the view may be called
  // Port frames: every OpenSelectedPort is matched by one ReleasePort; only
  // the outermost frame opens and closes the link.
  int m_PortFrames = 0;
  int m_OpenPortIndex = -1;  // the slot the outermost frame opened
  void SetRetrieveEnabled(bool enabled);
  void ShowError(const std::string& text, const std::string& caption);
};

}  // namespace bcu::app
