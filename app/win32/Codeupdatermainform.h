#pragma once
// The updater's Windows window: the main window of the design as a native
// dialog-style window. It draws what the logic (app/CodeUpdater.h) keeps and
// hands the user's clicks to it; it decides nothing itself. It is the logic's
// host too: status line, progress bar, message boxes, the password dialog,
// timers (SetTimer) and the message pump (PeekMessage).
#include <windows.h>

#include <array>
#include <memory>
#include <string>

#include "app/CodeUpdater.h"
#include "app/CodeUpdaterView.h"
#include "app/win32/Win32HostTimer.h"
#include "app/win32/WindowKit.h"
#include "platform/Clock.h"
#include "platform/Host.h"
#include "platform/PortDiscovery.h"
#include "platform/Resources.h"

namespace bcu::win32 {

struct MainFormOptions {
  std::string programPath = "bcu-window.exe";
  const platform::ResourceSource* resources = nullptr;  // not owned
  app::CodeUpdaterOptions updater;
  double delayScale = 1.0;  // real milliseconds per clock millisecond
};

class TCodeUpdaterMainDispForm final : public platform::Host, public app::CodeUpdaterView {
 public:
  explicit TCodeUpdaterMainDispForm(MainFormOptions options);
  ~TCodeUpdaterMainDispForm() override;
  TCodeUpdaterMainDispForm(const TCodeUpdaterMainDispForm&) = delete;
  TCodeUpdaterMainDispForm& operator=(const TCodeUpdaterMainDispForm&) = delete;

  HWND Handle() const { return m_Hwnd; }
  // Shows the window and runs its message loop until it is closed.
  int Run(int show);

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

 private:
  class ProgressBarAdapter;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  // Places every control at its design rectangle for the window's density.
  void LayoutControls();
  // The status line takes the lines its text needs; the progress bar, the
  // Start button, the Transfer group and the window move down or grow.
  void LayoutStatusArea();
  void SetClientHeight(int designHeight);
  int OuterWidth() const;
  void SetOuterWidth(int pixels);
  HWND Item(int id) const { return ::GetDlgItem(m_Hwnd, id); }
  void SetText(int id, const std::string& text);
  void SetFittedText(int id, const std::string& text);
  void OnCommand(int id, int code);
  void OnDrawItem(const DRAWITEMSTRUCT& item);
  void DrawPortItem(const DRAWITEMSTRUCT& item);
  void ShowMenu(int button);
  void OnClose();
  void CloseIfAsked();
  void OnDpiChanged(UINT dpi, const RECT& suggested);

  // ---- Handlers ----
  void m_ToggleVersionInfoSpeedButtonClick();
  void m_StartButtonClick();
  void m_RetrieveVersionInfoButtonClick();
  void m_ComportComboBoxChange(int index);

  HWND m_Hwnd = nullptr;
  HWND m_ToolTip = nullptr;
  UINT m_Dpi = 96;
  DesignFonts m_Fonts;
  std::array<HBITMAP, 4> m_Pictures{};
  HMENU m_FileMenu = nullptr;
  HMENU m_HelpMenu = nullptr;
  platform::SteadyClock m_Clock;
  std::unique_ptr<TimerTable> m_Timers;
  std::unique_ptr<ProgressBarAdapter> m_Progress;
  platform::SystemPortDiscovery m_Discovery;
  platform::MemoryResources m_NoResources;
  std::unique_ptr<app::CodeUpdater> m_Updater;
  int m_StatusExtra = 0;  // design pixels the status line grew by
  bool m_QuitRequested = false;
  // Closing was confirmed while a run or a Retrieve held the link: the window
  // closes once it has unwound.
  bool m_CloseWhenIdle = false;
  bool m_WaitCursor = false;
};

}  // namespace bcu::win32
