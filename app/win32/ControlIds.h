#pragma once
// The identifiers of the Windows window's controls and commands. The window
// test driver (tests/windows/) finds the controls by them and sends the
// window the same messages a user's clicks send.
namespace bcu::win32 {

inline constexpr wchar_t kMainWindowClass[] = L"TCodeUpdaterMainDispForm";
inline constexpr wchar_t kMainWindowCaption[] = L"Brisant Code Updater";
inline constexpr wchar_t kPasswordCaption[] = L"Radio Code Update - Enter Password";
inline constexpr wchar_t kAboutCaption[] = L"About";

enum ControlId : int {
  // Main window (100..199; 1 and 2 stay free for IDOK and IDCANCEL).
  kMenuToolBar = 100,
  kToggleVersionInfoButton,
  kNameLabel,
  kTargetInformationGroupBox,
  kLabel1,
  kTargetRadioLabel,
  kLabel6,
  kTargetSeriesLabel,
  kLabel11,
  kTargetReleaseLabel,
  kLabel10,
  kTargetUpgradeTypeLabel,
  kPortableXPicture,
  kPortableGPicture,
  kMobileXPicture,
  kMobileGPicture,
  kCodeUpdateGroupBox,
  kLabel5,
  kComportComboBox,
  kUpgradeTypeLabel,
  kApplicationRadioButton,
  kBootRadioButton,
  kBevel1,
  kLabel4,
  kStatusLabel,
  kProgressBar,
  kStartButton,
  kTargetVersionInfoGroupBox,
  kFileVersionHeadingLabel,
  kDSPVersionHeadingLabel,
  kHWControllerVersionHeadingLabel,
  kHWRevisionHeadingLabel,
  kSerialNumberHeadingLabel,
  kBootLoadVersionHeadingLabel,
  kSEMVersionHeadingLabel,
  kFileVersionLabel,
  kDSPVersionLabel,
  kHWControllerVersionLabel,
  kHWRevisionLabel,
  kSerialNumberLabel,
  kBootLoadVersionLabel,
  kSEMVersionLabel,
  kBevel2,
  kLabel8,
  kConfigDeskVersionLabel,
  kLabel9,
  kTuneDeskVersionLabel,
  kRetrieveVersionInfoButton,

  // Menu commands.
  kFileMenuButton = 200,
  kHelpMenuButton,
  kUpdateCOMPortsMenuItem,
  kFileExitMenuItem,
  kHelpAboutMenuItem,

  // Dialogs.
  kPasswordPanel = 300,
  kPasswordLabel,
  kPasswordEdit,
  kAboutPanel = 310,
  kAboutImage,
  kAboutNameLabel,
  kAboutVersionLabel,
  kAboutCopyrightLabel,
};

// Resource identifiers of the pictures and the icon.
enum ResourceId : int {
  kIconResource = 1,
  kPortableXBitmap = 10,
  kPortableGBitmap,
  kMobileXBitmap,
  kMobileGBitmap,
  kLogoBitmap,
};

}  // namespace bcu::win32
