#include "app/CodeUpdater.h"

#include <utility>

#include "app/WorkFolder.h"

namespace bcu::app {

CodeUpdater::CodeUpdater(platform::Host& host, CodeUpdaterView& view,
                         const platform::ResourceSource& resources, std::string programPath,
                         platform::PortDiscovery& discovery, CodeUpdaterOptions options)
    : m_RunResult(host),
      m_Host(m_RunResult),
      m_View(view),
      m_Resources(resources),
      m_Discovery(discovery),
      m_Options(std::move(options)),
      m_ProgramPath(std::move(programPath)) {
  // The link and the work file names start cleared.
  link::CommInitLink(m_Link);
  m_LoaderFileName.clear();
  m_CodeFileName.clear();
  m_Link.pump = &m_Host;
  m_Link.clock = &m_Host.GetClock();
  m_Link.ports = &m_PortTable;
  m_Link.serialDriver = m_Options.serialDriver;
  m_Link.portSource = m_Options.portSource;
  m_Link.stop = &m_Stop;
  m_Link.replyTimeoutScale = m_Options.replyTimeoutScale;

  m_VersionPanelShown = true;
  m_Running = false;
  m_PasswordAccepted = false;
  m_CommTimer = m_Host.CreateTimer([this] { m_OnCommTimerTimer(); });
  m_CommTimer->SetEnabled(false);
  ProgressBarTimer = m_Host.CreateTimer([this] { ProgressBarTimerTimer(); });
  ProgressBarTimer->SetEnabled(false);

  ShowNameAndRelease();
  // The window starts with the version panel hidden.
  m_VersionPanelShown = !m_VersionPanelShown;
  m_ToggleVersionInfoCaption = m_VersionPanelShown ? "<<" : ">>";

  if (ReadResourceAttributes()) ShowTargetLabels();
  m_PlatformCode = PlatformCodeFromAttributes(m_Attributes.RadioFamily, m_Attributes.Series,
                                              m_Attributes.NewPlatform);
  ShowTargetPicture();
  m_AutoBootUpdate = (m_Attributes.Series == 4 || m_Attributes.Series == 6) &&
                     m_Attributes.UpgradeType == kUpgradeApplicationBoot;
  m_Link.timeoutTimer = m_CommTimer.get();
  RefreshPortList();
  if (m_Attributes.UpgradeType == kUpgradeApplicationBoot && !m_AutoBootUpdate)
    m_UpgradeChoiceVisible = true;
  m_Started = true;
}

CodeUpdater::~CodeUpdater() {
  // The link owns its serial device while open; nothing may outlive us.
  m_Running = false;
  link::CommSetRunning(m_Link, false);
  link::CommCloseLink(m_Link);
  m_Link.timeoutTimer = nullptr;
  RemoveRunWorkFolder(m_RunWorkDir);
}

void CodeUpdater::m_ToggleVersionInfoSpeedButtonClick() {
  m_VersionPanelShown = !m_VersionPanelShown;
  m_ToggleVersionInfoCaption = m_VersionPanelShown ? "<<" : ">>";
  m_View.VersionPanelToggled();
}

void CodeUpdater::m_ApplicationRadioButtonClick() {
  m_ApplicationRadioChecked = true;
  m_BootRadioChecked = false;
  m_View.UpgradeChoiceChanged();
}

void CodeUpdater::m_BootRadioButtonClick() {
  m_BootRadioChecked = true;
  m_ApplicationRadioChecked = false;
  m_View.UpgradeChoiceChanged();
}

void CodeUpdater::m_OnCommTimerTimer() {
  // The link's reply time-out ran out: the wait in progress ends.
  link::CommSetRunning(m_Link, false);
  m_CommTimer->SetEnabled(false);
}

void CodeUpdater::ShowStatusText(void* form, const std::string& text) {
  if (form == nullptr) return;
  static_cast<CodeUpdater*>(form)->m_Host.ShowStatusText(text);
}

void CodeUpdater::SetRetrieveEnabled(bool enabled) {
  m_RetrieveVersionInfoButtonEnabled = enabled;
  m_View.RunningStateChanged();
}

void CodeUpdater::ShowError(const std::string& text, const std::string& caption) {
  m_Host.ShowMessage(text, caption, platform::MsgIcon::Error, platform::MsgButtons::Ok);
}

}  // namespace bcu::app
