#pragma once
// The main window. It owns the updater's logic (app::CodeUpdater), lends it
// the screen through platform::Host (status line, progress bar, message boxes,
// password dialog, timers, pump) and redraws its controls when the logic tells
// it through app::CodeUpdaterView. The controls sit at fixed pixel positions.
#include <QWidget>
#include <memory>
#include <string>

#include "app/CodeUpdater.h"
#include "app/CodeUpdaterView.h"
#include "app/qt/StatusLabel.h"
#include "platform/Clock.h"
#include "platform/Host.h"
#include "platform/PortDiscovery.h"
#include "platform/Resources.h"

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace bcu::qt {

class TPortComboBox;

struct MainFormOptions {
  // The program file; its name gives the name and release labels.
  std::string programPath;
  // The embedded firmware set (must outlive the window).
  const platform::ResourceSource* resources = nullptr;
  // The ports of the machine; null: the system's own.
  platform::PortDiscovery* discovery = nullptr;
  app::CodeUpdaterOptions updater;
  // Real milliseconds per clock millisecond (below 1: waits pass faster).
  double delayScale = 1.0;
};

class TCodeUpdaterMainDispForm : public QWidget,
                                 public platform::Host,
                                 public app::CodeUpdaterView {
  Q_OBJECT
 public:
  explicit TCodeUpdaterMainDispForm(MainFormOptions options);
  ~TCodeUpdaterMainDispForm() override;

  app::CodeUpdater& Updater() { return *m_Updater; }
  // The window's outer width (frame included where there is one).
  int OuterWidth() const;
  void SetOuterWidth(int width);

  // ---- platform::Host ----
  void ShowStatusText(const std::string& text) override;
  platform::ProgressBar& Progress() override;
  platform::MsgResult ShowMessage(const std::string& text, const std::string& caption,
                                  platform::MsgIcon icon, platform::MsgButtons buttons) override;
  bool AskPassword(platform::PasswordPurpose purpose, std::string& text) override;
  std::unique_ptr<platform::Timer> CreateTimer(platform::TimerHandler handler) override;
  platform::Clock& GetClock() override { return m_Clock; }
  void Pump() override;
  bool QuitRequested() const override { return m_QuitRequested; }

  // ---- app::CodeUpdaterView ----
  void RunningStateChanged() override;
  void PortListChanged() override;
  void PortSelectionChanged() override;
  void VersionPanelToggled() override;
  void VersionPanelChanged() override;
  void TargetLabelsChanged() override;
  void UpgradeChoiceChanged() override;
  void FocusRetrieveButton() override;
  void SetWaitCursor(bool on) override;
  void ShowAboutBox() override;

  // ---- Event handlers ----
  void m_ToggleVersionInfoSpeedButtonClick();
  void m_StartButtonClick();
  void m_RetrieveVersionInfoButtonClick();
  void m_ComportComboBoxChange(int index);
  void m_UpdateCOMPortsMenuItemClick();
  void m_FileExitMenuItemClick();
  void m_HelpAboutMenuItemClick();
  void m_ApplicationRadioButtonClick();
  void m_BootRadioButtonClick();

  // ---- Controls ----
  QWidget* ControlBar1;
  QMenuBar* MenuToolBar;
  QMenu* m_FileMenu;
  QMenu* m_HelpMenu;
  QAction* m_UpdateCOMPortsMenuItem;
  QAction* m_FileExitMenuItem;
  QAction* m_HelpAboutMenuItem;
  QToolButton* m_ToggleVersionInfoSpeedButton;
  QLabel* m_NameLabel;

  QGroupBox* m_TargetInformationGroupBox;
  QLabel* Label1;
  QLabel* m_TargetRadioLabel;
  QLabel* Label6;
  QLabel* m_TargetSeriesLabel;
  QLabel* Label11;
  QLabel* m_TargetReleaseLabel;
  QLabel* Label10;
  QLabel* m_TargetUpgradeTypeLabel;
  QLabel* PortableXPicture;
  QLabel* PortableGPicture;
  QLabel* MobileXPicture;
  QLabel* MobileGPicture;

  QGroupBox* m_CodeUpdateGroupBox;
  QLabel* Label5;
  TPortComboBox* m_ComportComboBox;
  QLabel* m_UpgradeTypeLabel;
  QRadioButton* m_ApplicationRadioButton;
  QRadioButton* m_BootRadioButton;
  QFrame* Bevel1;
  QLabel* Label4;
  TStatusLabel* m_StatusLabel;
  QProgressBar* m_ProgressBar;
  QPushButton* m_StartButton;

  QGroupBox* m_TargetVersionInfoGroupBox;
  QLabel* FileVersionHeadingLabel;
  QLabel* FileVersionLabel;
  QLabel* DSPVersionHeadingLabel;
  QLabel* DSPVersionLabel;
  QLabel* HWControllerVersionHeadingLabel;
  QLabel* HWControllerVersionLabel;
  QLabel* HWRevisionHeadingLabel;
  QLabel* HWRevisionLabel;
  QLabel* SerialNumberHeadingLabel;
  QLabel* SerialNumberLabel;
  QLabel* BootLoadVersionHeadingLabel;
  QLabel* BootLoadVersionLabel;
  QLabel* SEMVersionHeadingLabel;
  QLabel* SEMVersionLabel;
  QFrame* Bevel2;
  QLabel* Label8;
  QLabel* ConfigDeskVersionLabel;
  QLabel* Label9;
  QLabel* TuneDeskVersionLabel;
  QPushButton* m_RetrieveVersionInfoButton;

 protected:
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  class ProgressBarAdapter;
  int FrameWidth() const;
  // Gives the status line the lines its text needs: the progress bar, the
  // Start button, the Transfer group and the window move down or grow by the
  // lines beyond the first (back to the design for a one-line text).
  void LayoutStatusArea();
  void CreateControls();
  void ConnectHandlers();

  platform::SteadyClock m_Clock;
  std::unique_ptr<platform::PortDiscovery> m_OwnDiscovery;
  platform::MemoryResources m_NoResources;  // when no firmware set is linked
  std::unique_ptr<ProgressBarAdapter> m_Progress;
  std::unique_ptr<app::CodeUpdater> m_Updater;
  bool m_QuitRequested = false;
  // Closing was confirmed while a run or a Retrieve held the link: the window
  // closes once it has unwound.
  bool m_CloseWhenIdle = false;
  void CloseIfAsked();
  bool m_WaitCursor = false;
  bool m_Shown = false;
  // The status line reads "Idle" after most failed runs: its tooltip then
  // says how the last run ended ("Last run: ..."). Empty while a run goes on.
  QString m_LastRunTip;
};

}  // namespace bcu::qt
