// The run's line in the update history: what the run gathered, made into a
// record when it ends, and appended when the front end asked for it.
#include "app/RunHistory.h"

#include <ctime>

#include "app/CodeUpdater.h"
#include "app/CodeplugFormatName.h"
#include "codeplug/FormatVersion.h"
#include "platform/Clock.h"

namespace bcu::app {

namespace {

constexpr const char* kCaption = "Brisant Code Updater";

}  // namespace

RadioVersions VersionsOfPanel(const VersionPanelTexts& panel) {
  RadioVersions v;
  v.fileFormatVersion = panel.FileVersionLabel;
  v.dspVersion = panel.DSPVersionLabel;
  v.controllerVersion = panel.HWControllerVersionLabel;
  v.hardwareRevision = panel.HWRevisionLabel;
  v.bootVersion = panel.BootLoadVersionLabel;
  v.semVersion = panel.SEMVersionLabel;
  return v;
}

std::string CompactSerial(const std::string& label) {
  std::string serial;
  for (char c : label)
    if (c != '-' && c != ' ') serial += c;
  return serial;
}

HistoryRecord RunHistoryRecord(const RunStart& start, const FirmwareSetIdentity& set,
                               const UpdateRunFacts& facts, int code, double seconds) {
  HistoryRecord r;
  r.port = start.port;
  r.firmwareSetName = set.name;
  r.firmwareSetRelease = set.release;
  r.serialNumber = start.serialNumber;
  r.versionsBefore = start.versions;
  if (facts.codeplug) {
    const CodeplugStepReport& c = *facts.codeplug;
    if (!c.serialNumber.empty()) {
      // The panel showed another radio than the one the run reached: its
      // versions are not this radio's.
      if (!r.serialNumber.empty() && r.serialNumber != c.serialNumber) r.versionsBefore = {};
      r.serialNumber = c.serialNumber;
    }
    if (c.uploadedBytes > 0) {
      r.codeplugFormatBefore = CodeplugFormatName(c.imageFormatIndex);
      r.codeplugFormatAfter =
          CodeplugFormatName(c.downloadedBytes > 0 ? c.targetFormatIndex : c.imageFormatIndex);
    }
    r.backupPath = c.backupPath;
    // The radio's new code said which codeplug format it expects: the
    // version record's first value.
    if (c.targetFormatIndex != codeplug::kUnknownFormatIndex) {
      const std::string expected = CodeplugFormatName(c.targetFormatIndex);
      if (expected != "unknown") r.versionsAfter.fileFormatVersion = expected;
    }
  }
  r.outcomeCode = code;
  r.outcomeText = facts.status;
  r.startTime = IsoUtcTime(start.time);
  r.durationSeconds = seconds;
  return r;
}

void CodeUpdater::BeginRunRecord() {
  m_RunBegun = true;
  m_CodeplugReport.reset();
  m_NotBackInBootload = false;
  m_RunStart = RunStart{};
  const int slot = SelectedPortNumber();
  m_RunStart.port = m_PortTable.DevicePath(slot);
  if (m_RunStart.port.empty() && m_PortItemIndex >= 0 &&
      static_cast<std::size_t>(m_PortItemIndex) < m_PortItems.size())
    m_RunStart.port = m_PortItems[static_cast<std::size_t>(m_PortItemIndex)];
  m_RunStart.time = std::time(nullptr);
  m_RunStart.realMicros = platform::RealMicros();
  // Cleared (or never filled) the panel holds no versions of this radio.
  if (!m_VersionPanelOutOfDate && !m_VersionPanel.SerialNumberLabel.empty()) {
    m_RunStart.versions = VersionsOfPanel(m_VersionPanel);
    m_RunStart.serialNumber = CompactSerial(m_VersionPanel.SerialNumberLabel);
  }
}

UpdateRunFacts CodeUpdater::RunFacts() const {
  UpdateRunFacts facts;
  facts.started = true;
  facts.stopped = m_Stop.Requested();
  facts.notInBootload = m_NotBackInBootload;
  facts.downloadStarted = m_RunResult.StartFailure().DownloadStarted();
  facts.startFailureCode = m_RunResult.StartFailure().Code();
  facts.refused = m_RunResult.Refused();
  facts.status = RunResultText();
  facts.codeplug = m_CodeplugReport;
  return facts;
}

void CodeUpdater::RecordRun() {
  if (!m_RunBegun) return;
  m_RunBegun = false;
  LastRun run;
  run.ran = true;
  run.facts = RunFacts();
  if (m_Options.runFacts) m_Options.runFacts(run.facts);
  run.outcomeCode = UpdateExitCode(run.facts);
  const double seconds = static_cast<double>(platform::RealMicros() - m_RunStart.realMicros) / 1e6;
  run.record = RunHistoryRecord(m_RunStart, ReadFirmwareSetIdentity(m_Resources), run.facts,
                                run.outcomeCode, seconds);
  m_LastRun = std::move(run);
  if (!m_Options.recordHistory) return;
  const std::string path =
      m_Options.historyPath.empty() ? DefaultHistoryPath() : m_Options.historyPath;
  std::string error;
  m_LastRun.recorded = AppendHistory(path, {m_LastRun.record}, error);
  if (m_LastRun.recorded) return;
  // The run itself stands as it ended; only its line is missing.
  m_LastRun.historyError = error;
  m_Host.ShowMessage("The run could not be recorded in the update history: " + error + ".",
                     kCaption, platform::MsgIcon::Error, platform::MsgButtons::Ok);
}

}  // namespace bcu::app
