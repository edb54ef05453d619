// Radio identification: what this updater is made for (the intended target
// group), what the connected radio is (the version panel), and the checks that
// decide whether the embedded code may go into it.
#include <string>

#include "app/CodeUpdater.h"

namespace bcu::app {

namespace {

constexpr const char* kCaptionUpdater = "Brisant Code Updater";

bool NoBootCheckPlatform(std::uint8_t code) {
  return code == 1 || code == 4 || code == 5;
}

}  // namespace

// ---- Intended target ----

void CodeUpdater::ShowIntendedTarget() {
  ShowNameAndRelease();
  ShowTargetLabels();
  ShowTargetPicture();
}

void CodeUpdater::ShowNameAndRelease() {
  NameAndRelease(m_ProgramPath, ReadFirmwareSetIdentity(m_Resources), m_Target.m_NameLabel,
                 m_Target.m_TargetReleaseLabel);
}

void CodeUpdater::ShowTargetLabels() {
  m_Target.m_TargetRadioLabel = FamilyName(m_Attributes.RadioFamily);
  m_Target.m_TargetSeriesLabel = std::to_string(static_cast<unsigned>(m_Attributes.Series));
  m_Target.m_TargetUpgradeTypeLabel = UpgradeTypeName(m_Attributes.UpgradeType);
  m_Target.ConfigDeskVersionLabel = AttributeText(m_Attributes.ConfigDeskVersion);
  m_Target.TuneDeskVersionLabel = AttributeText(m_Attributes.TuneDeskVersion);
}

void CodeUpdater::ShowTargetPicture() {
  const bool seriesG = m_Attributes.Series == 6;
  switch (m_Attributes.RadioFamily) {
    case 0:
      m_Target.picture = seriesG ? RadioPicture::PortableG : RadioPicture::PortableX;
      break;
    case 1:
      m_Target.picture = seriesG ? RadioPicture::MobileG : RadioPicture::MobileX;
      break;
    default:
      m_Target.picture = RadioPicture::None;
      break;
  }
}

// ---- Version panel ----

void CodeUpdater::m_RetrieveVersionInfoButtonClick() {
  // Not while a run holds the link, nor from inside another Retrieve's wait.
  if (Busy()) return;
  m_Retrieving = true;
  m_Stop.Reset();
  if (OpenSelectedPort(true)) {
    SetRetrieveEnabled(false);
    link::VersionInfo info;
    const int result = link::CommReadRadioInfoTimed(m_Link, m_PlatformCode, info, true);
    if (result == link::kCommSuccess || result == link::kCommNotAvailable ||
        result == link::kCommNoExtraBoot) {
      m_VersionPanel = FormatVersionPanel(info, m_PlatformCode);
      m_VersionPanelOutOfDate = false;
      m_View.VersionPanelChanged();
    } else {
      ShowError("Communication error while retrieving version information.", "Communication");
    }
    SetRetrieveEnabled(true);
  }
  ReleasePort();
  m_Retrieving = false;
}

void CodeUpdater::MarkVersionPanelOutOfDate() {
  if (m_VersionPanel.FileVersionLabel.empty() && m_VersionPanel.SerialNumberLabel.empty()) return;
  m_VersionPanel = VersionPanelTexts{};
  m_VersionPanelOutOfDate = true;
  m_View.VersionPanelChanged();
}

// ---- Checks before a download ----

bool CodeUpdater::CheckTargetRadio() {
  if (NoBootCheckPlatform(m_PlatformCode)) return true;
  std::uint8_t boot[2] = {0, 0};
  const int result = link::CommReadBootInfo(m_Link, m_PlatformCode, boot);
  if (result == link::kCommSuccess) {
    const std::uint8_t code = PlatformCodeFromBoot(m_Attributes.RadioFamily, boot[0], boot[1]);
    if (code == m_PlatformCode && (boot[0] == m_Attributes.Series || boot[0] == 7)) return true;
    m_RunResult.MarkRefused();
    ShowSeriesMismatch(m_Attributes.RadioFamily, boot[0]);
    m_Host.ShowStatusText("Idle");
    m_Host.Progress().SetPosition(0);
    return false;
  }
  if (result == link::kCommNotAvailable) {
    m_Host.ShowStatusText("No Boot Info.");
    // The boot information wait ended by its time-out, which left the link
    // stopped; the check passes, so the download that follows needs it
    // running again (unless the user asked to stop).
    link::CommSetRunning(m_Link, true);
    return true;
  }
  m_Host.ShowStatusText("Communication error while trying to check target radio.");
  return false;
}

void CodeUpdater::ShowSeriesMismatch(std::uint8_t radioFamily, std::uint8_t radioSeries) {
  const std::string text =
      "This version of Brisant Code Updater does not match the radio series.\n"
      "Radio requires a " +
      FamilyName(radioFamily) + "_Series_" + std::to_string(static_cast<unsigned>(radioSeries)) +
      " version of Brisant Code Updater.";
  ShowError(text, kCaptionUpdater);
}

bool CodeUpdater::CheckBootVersion() {
  if (NoBootCheckPlatform(m_PlatformCode)) return true;
  std::uint8_t boot[2] = {0, 0};
  const int result = link::CommReadBootInfo(m_Link, m_PlatformCode, boot);
  m_UseSecondBoot = false;
  if (result != link::kCommSuccess) {
    m_Host.ShowStatusText("Communication error while trying to retrieve boot version.");
    return false;
  }
  const char* current = "The boot version is current and does not need to be upgraded.";
  if (boot[0] == m_Attributes.BootMajor) {
    if (boot[1] == m_Attributes.BootMinor) {
      m_RunResult.MarkRefused();
      m_Host.ShowStatusText(current);
      return false;
    }
    return true;
  }
  if (m_Attributes.SecondBootMajor != 0 && boot[0] == m_Attributes.SecondBootMajor) {
    m_UseSecondBoot = true;
    if (boot[1] == m_Attributes.SecondBootMinor) {
      m_RunResult.MarkRefused();
      m_Host.ShowStatusText(current);
      return false;
    }
    return true;
  }
  m_RunResult.MarkRefused();
  m_Host.ShowStatusText("Error: the major boot versions of the radio and file are different.");
  return false;
}

bool CodeUpdater::CheckBootForAutoUpdate(bool& majorDiffers, bool& commError, bool& kindMismatch) {
  majorDiffers = false;
  commError = false;
  kindMismatch = false;
  m_UseSecondBoot = false;
  std::uint8_t boot[2] = {0, 0};
  const int result = link::CommReadBootInfo(m_Link, m_PlatformCode, boot);
  if (result != link::kCommSuccess) {
    commError = true;
    return false;
  }
  bool needed = false;
  if (boot[0] == m_Attributes.BootMajor) {
    needed = boot[1] != m_Attributes.BootMinor;
  } else if (m_Attributes.SecondBootMajor != 0 && boot[0] == m_Attributes.SecondBootMajor) {
    m_UseSecondBoot = true;
    needed = boot[1] != m_Attributes.SecondBootMinor;
  } else {
    majorDiffers = true;
    return false;
  }
  // A portable radio answers 1, a mobile one 0.
  const std::uint8_t expected = m_Attributes.RadioFamily == 0 ? 1 : 0;
  bool mismatch = false;
  if (!QueryRadioKind(expected, mismatch) && mismatch) {
    kindMismatch = true;
    return false;
  }
  link::CommSetRunning(m_Link, true);
  return needed;
}

bool CodeUpdater::QueryRadioKind(std::uint8_t expectedKind, bool& mismatch) {
  mismatch = false;
  link::CommSetTimeout(m_Link, 500);
  link::CommPacket query;
  query.length = 2;
  query.data[0] = 0x04;
  query.data[1] = 0x67;
  link::CommSendPacket(m_Link, query);
  link::CommPacket reply;
  const int got = link::CommReceive(m_Link, reply, 255, -1);
  link::CommEndExchange(m_Link);
  if (got != 1 || reply.length < 3 || reply.data[0] != 0x04 || reply.data[1] != 0x68) return false;
  if (reply.data[2] == expectedKind) return true;
  mismatch = true;
  return false;
}

}  // namespace bcu::app
