#include "app/win32/Codeupdatermainform.h"

#include <commctrl.h>

#include <algorithm>
#include <cwctype>
#include <exception>
#include <stdexcept>

#include "app/win32/Aboutdlg.h"
#include "app/win32/Codedownpassdlg.h"
#include "app/win32/ControlIds.h"

namespace bcu::win32 {

namespace {

constexpr int kDesignClientWidth = 688;
constexpr int kDesignClientHeight = 409;
constexpr int kVersionPanelLeft = 412;
constexpr int kVersionPanelWidth = 273;

// Where a control sits, in design pixels of the main window's client area
// (a group's children at the group's place plus their own). A width of 0
// sizes a fixed caption to its text.
struct DesignPlace {
  int id;
  int left, top, width, height;
};

// Intended Target Radio at 8, 74; Transfer at 8, 222; Target Radio Version
// Information at 412, 30.
constexpr DesignPlace kPlaces[] = {
    {kMenuToolBar, 0, 0, kDesignClientWidth, 22},
    {kToggleVersionInfoButton, 377, 35, 23, 14},
    {kNameLabel, 8, 53, 365, 14},
    {kTargetInformationGroupBox, 8, 74, 393, 143},
    {kLabel1, 8 + 8, 74 + 24, 0, 14},
    {kTargetRadioLabel, 8 + 56, 74 + 24, 160, 14},
    {kLabel6, 8 + 8, 74 + 48, 0, 14},
    {kTargetSeriesLabel, 8 + 56, 74 + 48, 160, 14},
    {kLabel11, 8 + 8, 74 + 72, 0, 14},
    {kTargetReleaseLabel, 8 + 56, 74 + 72, 160, 14},
    {kLabel10, 8 + 8, 74 + 96, 0, 14},
    {kTargetUpgradeTypeLabel, 8 + 88, 74 + 96, 128, 14},
    {kPortableGPicture, 8 + 224, 74 + 16, 145, 121},
    {kMobileXPicture, 8 + 224, 74 + 16, 145, 113},
    {kMobileGPicture, 8 + 224, 74 + 16, 145, 113},
    {kPortableXPicture, 8 + 240, 74 + 16, 113, 113},
    {kCodeUpdateGroupBox, 8, 222, 393, 179},
    {kLabel5, 8 + 8, 222 + 24, 0, 14},
    {kComportComboBox, 8 + 56, 222 + 24, 121, 200},
    {kUpgradeTypeLabel, 8 + 188, 222 + 24, 0, 14},
    {kApplicationRadioButton, 8 + 268, 222 + 22, 113, 17},
    {kBootRadioButton, 8 + 268, 222 + 40, 113, 17},
    {kBevel1, 8 + 8, 222 + 65, 377, 2},
    {kLabel4, 8 + 8, 222 + 84, 0, 14},
    {kStatusLabel, 8 + 56, 222 + 84, 332, 16},
    {kProgressBar, 8 + 10, 222 + 105, 372, 17},
    {kStartButton, 8 + 159, 222 + 145, 75, 25},
    {kTargetVersionInfoGroupBox, 412, 30, 273, 283},
    {kFileVersionHeadingLabel, 412 + 8, 30 + 20, 134, 14},
    {kDSPVersionHeadingLabel, 412 + 8, 30 + 44, 134, 14},
    {kHWControllerVersionHeadingLabel, 412 + 8, 30 + 68, 134, 14},
    {kHWRevisionHeadingLabel, 412 + 8, 30 + 92, 134, 14},
    {kSerialNumberHeadingLabel, 412 + 8, 30 + 116, 134, 14},
    {kBootLoadVersionHeadingLabel, 412 + 8, 30 + 140, 134, 14},
    {kSEMVersionHeadingLabel, 412 + 8, 30 + 164, 134, 14},
    {kFileVersionLabel, 412 + 144, 30 + 20, 127, 14},
    {kDSPVersionLabel, 412 + 144, 30 + 44, 127, 14},
    {kHWControllerVersionLabel, 412 + 144, 30 + 68, 127, 14},
    {kHWRevisionLabel, 412 + 144, 30 + 92, 127, 14},
    {kSerialNumberLabel, 412 + 144, 30 + 116, 127, 14},
    {kBootLoadVersionLabel, 412 + 144, 30 + 140, 127, 14},
    {kSEMVersionLabel, 412 + 144, 30 + 164, 127, 14},
    {kBevel2, 412 + 8, 30 + 192, 257, 2},
    {kLabel8, 412 + 8, 30 + 200, 0, 14},
    {kConfigDeskVersionLabel, 412 + 200, 30 + 200, 69, 14},
    {kLabel9, 412 + 8, 30 + 224, 0, 14},
    {kTuneDeskVersionLabel, 412 + 200, 30 + 224, 69, 14},
    {kRetrieveVersionInfoButton, 412 + 99, 30 + 250, 75, 25},
};

// The controls of the version panel, hidden with it.
constexpr int kVersionPanelControls[] = {kTargetVersionInfoGroupBox,
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
                                         kRetrieveVersionInfoButton};

constexpr int kPictureIds[] = {kPortableXPicture, kPortableGPicture, kMobileXPicture,
                               kMobileGPicture};
constexpr int kPictureResources[] = {kPortableXBitmap, kPortableGBitmap, kMobileXBitmap,
                                     kMobileGBitmap};

const DesignPlace* PlaceOf(int id) {
  for (const DesignPlace& p : kPlaces)
    if (p.id == id) return &p;
  return nullptr;
}

std::wstring WindowText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  ::GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(0, length)));
  return text;
}

void ShowException(HWND owner, const char* what) {
  ::MessageBoxW(owner, Wide(what).c_str(), kMainWindowCaption, MB_OK | MB_ICONERROR);
}

}  // namespace

// The progress bar as the downloads see it. A position beyond the range stops
// at its nearer end, as the control of the design does.
class TCodeUpdaterMainDispForm::ProgressBarAdapter final : public platform::ProgressBar {
 public:
  explicit ProgressBarAdapter(HWND bar) : bar_(bar) {}
  void SetMin(int value) override {
    min_ = value;
    ::SendMessageW(bar_, PBM_SETRANGE32, static_cast<WPARAM>(min_), max_);
  }
  void SetMax(int value) override {
    max_ = value;
    ::SendMessageW(bar_, PBM_SETRANGE32, static_cast<WPARAM>(min_), max_);
  }
  void SetPosition(int value) override {
    position_ = std::clamp(value, min_, std::max(min_, max_));
    ::SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(position_), 0);
  }
  int Min() const override { return min_; }
  int Max() const override { return max_; }
  int Position() const override { return position_; }

 private:
  HWND bar_;
  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
};

TCodeUpdaterMainDispForm::TCodeUpdaterMainDispForm(MainFormOptions options)
    : m_Clock(options.delayScale) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &TCodeUpdaterMainDispForm::WindowProc;
  wc.hInstance = instance;
  wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kMainWindowClass;
  ::RegisterClassExW(&wc);
  m_Hwnd =
      ::CreateWindowExW(WS_EX_CONTROLPARENT, kMainWindowClass, kMainWindowCaption,
                        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                        CW_USEDEFAULT, 100, 100, nullptr, nullptr, instance, this);
  if (m_Hwnd == nullptr) throw std::runtime_error("cannot create the main window");
  m_Dpi = WindowDpi(m_Hwnd);
  m_Fonts.Make(m_Dpi);
  m_Timers = std::make_unique<TimerTable>(m_Hwnd);
  for (std::size_t i = 0; i < m_Pictures.size(); ++i)
    m_Pictures[i] = LoadPicture(kPictureResources[i]);
  CreateControls();
  m_Progress = std::make_unique<ProgressBarAdapter>(Item(kProgressBar));

  const platform::ResourceSource& resources =
      options.resources != nullptr ? *options.resources : m_NoResources;
  // The logic runs the start-up steps; the window then draws the whole state.
  m_Updater = std::make_unique<app::CodeUpdater>(*this, *this, resources, options.programPath,
                                                 m_Discovery, std::move(options.updater));
  LayoutControls();
  TargetLabelsChanged();
  PortListChanged();
  UpgradeChoiceChanged();
  VersionPanelChanged();
  VersionPanelToggled();
  RunningStateChanged();
  ShowStatusText("Idle");

  // The version panel starts hidden: the window ends 5 pixels right of the
  // panel's left edge. Centred on the desktop.
  const SIZE outer = OuterSizeFor(m_Hwnd, Scaled(kDesignClientWidth, m_Dpi),
                                  Scaled(kDesignClientHeight, m_Dpi), m_Dpi);
  const int width = Scaled(kVersionPanelLeft + 5, m_Dpi);
  RECT area{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  ::SetWindowPos(m_Hwnd, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - outer.cy) / 2, width, outer.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

TCodeUpdaterMainDispForm::~TCodeUpdaterMainDispForm() {
  // The logic's timers live on this window: end the logic first.
  m_Updater.reset();
  m_Progress.reset();
  m_Timers.reset();
  if (m_Hwnd != nullptr && ::IsWindow(m_Hwnd)) ::DestroyWindow(m_Hwnd);
  for (HBITMAP b : m_Pictures)
    if (b != nullptr) ::DeleteObject(b);
  if (m_FileMenu != nullptr) ::DestroyMenu(m_FileMenu);
  if (m_HelpMenu != nullptr) ::DestroyMenu(m_HelpMenu);
}

void TCodeUpdaterMainDispForm::CreateControls() {
  HFONT f = m_Fonts.normal;
  const DWORD label = WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
  const DWORD button = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;

  // The menu, shown as flat buttons in a bar along the top edge.
  HWND bar = MakeControl(
      m_Hwnd, TOOLBARCLASSNAMEW, L"",
      WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_LIST | CCS_NODIVIDER | CCS_NORESIZE | CCS_NOPARENTALIGN,
      kMenuToolBar, f);
  ::SendMessageW(bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  ::SendMessageW(bar, TB_SETBITMAPSIZE, 0, MAKELONG(0, 0));
  static wchar_t fileText[] = L"&File";
  static wchar_t helpText[] = L"&Help";
  TBBUTTON buttons[2] = {};
  buttons[0] = {I_IMAGENONE,
                kFileMenuButton,
                TBSTATE_ENABLED,
                BTNS_AUTOSIZE | BTNS_SHOWTEXT,
                {},
                0,
                reinterpret_cast<INT_PTR>(fileText)};
  buttons[1] = {I_IMAGENONE,
                kHelpMenuButton,
                TBSTATE_ENABLED,
                BTNS_AUTOSIZE | BTNS_SHOWTEXT,
                {},
                0,
                reinterpret_cast<INT_PTR>(helpText)};
  ::SendMessageW(bar, TB_ADDBUTTONSW, 2, reinterpret_cast<LPARAM>(buttons));
  m_FileMenu = ::CreatePopupMenu();
  ::AppendMenuW(m_FileMenu, MF_STRING, kUpdateCOMPortsMenuItem, L"&Update COM Ports");
  ::AppendMenuW(m_FileMenu, MF_STRING, kFileExitMenuItem, L"E&xit");
  m_HelpMenu = ::CreatePopupMenu();
  ::AppendMenuW(m_HelpMenu, MF_STRING, kHelpAboutMenuItem, L"&About");

  // Group boxes first: the controls made after them lie above them.
  MakeControl(m_Hwnd, WC_BUTTONW, L"Intended Target Radio", WS_VISIBLE | BS_GROUPBOX,
              kTargetInformationGroupBox, f);
  MakeControl(m_Hwnd, WC_BUTTONW, L"Transfer", WS_VISIBLE | BS_GROUPBOX, kCodeUpdateGroupBox, f);
  MakeControl(m_Hwnd, WC_BUTTONW, L"Target Radio Version Information", WS_VISIBLE | BS_GROUPBOX,
              kTargetVersionInfoGroupBox, f);

  HWND toggle =
      MakeControl(m_Hwnd, WC_BUTTONW, L">>", button, kToggleVersionInfoButton, m_Fonts.bold);
  MakeControl(m_Hwnd, WC_STATICW, L"Name:", label, kNameLabel, f);

  MakeControl(m_Hwnd, WC_STATICW, L"Radio:", label, kLabel1, f);
  MakeControl(m_Hwnd, WC_STATICW, L"", label, kTargetRadioLabel, f);
  MakeControl(m_Hwnd, WC_STATICW, L"Series:", label, kLabel6, f);
  MakeControl(m_Hwnd, WC_STATICW, L"", label, kTargetSeriesLabel, f);
  MakeControl(m_Hwnd, WC_STATICW, L"Release:", label, kLabel11, f);
  MakeControl(m_Hwnd, WC_STATICW, L"", label, kTargetReleaseLabel, f);
  MakeControl(m_Hwnd, WC_STATICW, L"Upgrade Type:", label, kLabel10, f);
  MakeControl(m_Hwnd, WC_STATICW, L"", label, kTargetUpgradeTypeLabel, f);
  for (int id : kPictureIds) MakeControl(m_Hwnd, WC_STATICW, L"", SS_OWNERDRAW, id, nullptr);

  MakeControl(m_Hwnd, WC_STATICW, L"COM:", label, kLabel5, f);
  MakeControl(
      m_Hwnd, WC_COMBOBOXW, L"",
      WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS,
      kComportComboBox, f);
  MakeControl(m_Hwnd, WC_STATICW, L"Upgrade Type:", SS_LEFT | SS_NOPREFIX, kUpgradeTypeLabel, f);
  MakeControl(m_Hwnd, WC_BUTTONW, L"Application", WS_TABSTOP | BS_RADIOBUTTON,
              kApplicationRadioButton, f);
  MakeControl(m_Hwnd, WC_BUTTONW, L"Boot", WS_TABSTOP | BS_RADIOBUTTON, kBootRadioButton, f);
  MakeControl(m_Hwnd, WC_STATICW, L"", WS_VISIBLE | SS_ETCHEDHORZ, kBevel1, nullptr);
  MakeControl(m_Hwnd, WC_STATICW, L"Status:", label, kLabel4, f);
  // Long texts wrap, a long path too (at any character, as an edit does).
  MakeControl(m_Hwnd, WC_STATICW, L"Idle", label | SS_EDITCONTROL, kStatusLabel, f);
  HWND progress =
      MakeControl(m_Hwnd, PROGRESS_CLASSW, L"", WS_VISIBLE | PBS_SMOOTH, kProgressBar, nullptr);
  ::SendMessageW(progress, PBM_SETRANGE32, 0, 100);
  ::SendMessageW(progress, PBM_SETSTEP, 1, 0);
  MakeControl(m_Hwnd, WC_BUTTONW, L"Start", button, kStartButton, f);

  const wchar_t* headings[] = {
      L"File Format Version:", L"DSP Software Version:", L"HC08 Software Version:",
      L"Hardware Revision:",   L"Radio Serial Number:",  L"Boot Load Version:",
      L"SEM Version:"};
  for (int i = 0; i < 7; ++i) {
    MakeControl(m_Hwnd, WC_STATICW, headings[i], label, kFileVersionHeadingLabel + i, f);
    MakeControl(m_Hwnd, WC_STATICW, L"", label, kFileVersionLabel + i, f);
  }
  MakeControl(m_Hwnd, WC_STATICW, L"", WS_VISIBLE | SS_ETCHEDHORZ, kBevel2, nullptr);
  MakeControl(m_Hwnd, WC_STATICW, L"Corresponding ConfigDesk Version:", label, kLabel8, f);
  MakeControl(m_Hwnd, WC_STATICW, L"", label, kConfigDeskVersionLabel, f);
  MakeControl(m_Hwnd, WC_STATICW, L"Corresponding TuneDesk Version:", label, kLabel9, f);
  MakeControl(m_Hwnd, WC_STATICW, L"", label, kTuneDeskVersionLabel, f);
  MakeControl(m_Hwnd, WC_BUTTONW, L"&Retrieve", button, kRetrieveVersionInfoButton, f);

  // The group boxes lie below the controls inside them (a group box draws
  // only its frame and caption; the window's background shows through).
  for (int id : {kTargetInformationGroupBox, kCodeUpdateGroupBox, kTargetVersionInfoGroupBox}) {
    ::SetWindowPos(Item(id), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }

  m_ToolTip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                0, 0, 0, 0, m_Hwnd, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  if (m_ToolTip != nullptr) {
    static wchar_t hint[] = L"Toggle Version Info";
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = m_Hwnd;
    tool.uId = reinterpret_cast<UINT_PTR>(toggle);
    tool.lpszText = hint;
    ::SendMessageW(m_ToolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void TCodeUpdaterMainDispForm::LayoutControls() {
  for (const DesignPlace& p : kPlaces) {
    HWND control = Item(p.id);
    if (control == nullptr) continue;
    if (p.width == 0) {
      const auto font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
      const int width = TextWidth(font, WindowText(control)) + Scaled(2, m_Dpi);
      ::SetWindowPos(control, nullptr, Scaled(p.left, m_Dpi), Scaled(p.top, m_Dpi), width,
                     Scaled(p.height, m_Dpi), SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
      PlaceControl(control, p.left, p.top, p.width, p.height, m_Dpi);
    }
  }
  ::SendMessageW(Item(kComportComboBox), CB_SETITEMHEIGHT, static_cast<WPARAM>(-1),
                 Scaled(15, m_Dpi));
  ::SendMessageW(Item(kComportComboBox), CB_SETITEMHEIGHT, 0, Scaled(13, m_Dpi));
  ::SendMessageW(Item(kMenuToolBar), TB_AUTOSIZE, 0, 0);
  PlaceControl(Item(kMenuToolBar), 0, 0, kDesignClientWidth, 22, m_Dpi);
  LayoutStatusArea();
}

void TCodeUpdaterMainDispForm::LayoutStatusArea() {
  HWND status = Item(kStatusLabel);
  const std::wstring text = WindowText(status);
  const int width = Scaled(332, m_Dpi);
  const int lineHeight = Scaled(16, m_Dpi);
  int extra = 0;
  if (TextWidth(m_Fonts.normal, text) > width) {
    extra = std::max(0, WrappedTextHeight(m_Fonts.normal, text, width) - lineHeight);
  }
  m_StatusExtra = extra;
  const auto move = [&](int id, int dy, int dh) {
    const DesignPlace* p = PlaceOf(id);
    ::SetWindowPos(Item(id), nullptr, Scaled(p->left, m_Dpi), Scaled(p->top, m_Dpi) + dy,
                   Scaled(p->width, m_Dpi), Scaled(p->height, m_Dpi) + dh,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  };
  move(kStatusLabel, 0, extra);
  move(kProgressBar, extra, 0);
  move(kStartButton, extra, 0);
  move(kCodeUpdateGroupBox, 0, extra);
  ::InvalidateRect(Item(kCodeUpdateGroupBox), nullptr, TRUE);
  SetClientHeight(kDesignClientHeight);
}

void TCodeUpdaterMainDispForm::SetClientHeight(int designHeight) {
  RECT client{};
  ::GetClientRect(m_Hwnd, &client);
  const int height = Scaled(designHeight, m_Dpi) + m_StatusExtra;
  if (client.bottom == height) return;
  const SIZE outer = OuterSizeFor(m_Hwnd, client.right, height, m_Dpi);
  ::SetWindowPos(m_Hwnd, nullptr, 0, 0, OuterWidth(), outer.cy,
                 SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

int TCodeUpdaterMainDispForm::OuterWidth() const {
  RECT r{};
  ::GetWindowRect(m_Hwnd, &r);
  return r.right - r.left;
}

void TCodeUpdaterMainDispForm::SetOuterWidth(int pixels) {
  RECT r{};
  ::GetWindowRect(m_Hwnd, &r);
  ::SetWindowPos(m_Hwnd, nullptr, 0, 0, pixels, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

int TCodeUpdaterMainDispForm::Run(int show) {
  ::ShowWindow(m_Hwnd, show);
  ::UpdateWindow(m_Hwnd);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!::IsDialogMessageW(m_Hwnd, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  return static_cast<int>(msg.wParam);
}

// ---- Host ----

void TCodeUpdaterMainDispForm::ShowStatusText(const std::string& text) {
  ::SetWindowTextW(Item(kStatusLabel), Wide(text).c_str());
  LayoutStatusArea();
  ::UpdateWindow(Item(kStatusLabel));
}

platform::ProgressBar& TCodeUpdaterMainDispForm::Progress() {
  return *m_Progress;
}

platform::MsgResult TCodeUpdaterMainDispForm::ShowMessage(const std::string& text,
                                                          const std::string& caption,
                                                          platform::MsgIcon icon,
                                                          platform::MsgButtons buttons) {
  UINT type = MB_ICONERROR;
  if (icon == platform::MsgIcon::Information) type = MB_ICONINFORMATION;
  if (icon == platform::MsgIcon::Question) type = MB_ICONQUESTION;
  type |= buttons == platform::MsgButtons::YesNo ? MB_YESNO : MB_OK;
  const int answer = ::MessageBoxW(m_Hwnd, Wide(text).c_str(), Wide(caption).c_str(), type);
  if (buttons == platform::MsgButtons::Ok) return platform::MsgResult::Ok;
  return answer == IDYES ? platform::MsgResult::Yes : platform::MsgResult::No;
}

bool TCodeUpdaterMainDispForm::AskPassword(platform::PasswordPurpose, std::string& text) {
  TCodeDownPassDispDlg dialog(m_Hwnd);
  dialog.ShowModal();
  text = dialog.m_PasswordText;
  return dialog.m_Confirmed;
}

std::unique_ptr<platform::Timer> TCodeUpdaterMainDispForm::CreateTimer(
    platform::TimerHandler handler) {
  return std::make_unique<Win32HostTimer>(*m_Timers, m_Clock, std::move(handler));
}

void TCodeUpdaterMainDispForm::Pump() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // For the outer message loop, which ends the program.
      m_QuitRequested = true;
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (!::IsDialogMessageW(m_Hwnd, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
}

// ---- View ----

void TCodeUpdaterMainDispForm::RunningStateChanged() {
  if (!m_Updater) return;  // still inside the logic's start-up; drawn after it
  const app::CodeUpdater& u = *m_Updater;
  ::SetWindowTextW(Item(kStartButton), Wide(u.m_StartButtonCaption).c_str());
  ::EnableWindow(Item(kStartButton), u.m_StartButtonEnabled);
  ::EnableWindow(Item(kComportComboBox), u.m_ComportComboBoxEnabled);
  ::EnableWindow(Item(kRetrieveVersionInfoButton), u.m_RetrieveVersionInfoButtonEnabled);
  ::InvalidateRect(Item(kComportComboBox), nullptr, TRUE);
}

void TCodeUpdaterMainDispForm::PortListChanged() {
  if (!m_Updater) return;
  HWND combo = Item(kComportComboBox);
  ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  for (const std::string& item : m_Updater->m_PortItems) {
    ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item).c_str()));
  }
  ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(m_Updater->m_PortItemIndex), 0);
  ::InvalidateRect(combo, nullptr, TRUE);
}

void TCodeUpdaterMainDispForm::PortSelectionChanged() {
  if (!m_Updater) return;
  HWND combo = Item(kComportComboBox);
  ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(m_Updater->m_PortItemIndex), 0);
  ::InvalidateRect(combo, nullptr, TRUE);
}

void TCodeUpdaterMainDispForm::VersionPanelToggled() {
  if (!m_Updater) return;
  SetText(kToggleVersionInfoButton, m_Updater->m_ToggleVersionInfoCaption);
  // Outside the window when hidden; hidden as well, so that no frame shows a
  // sliver of it at the right edge.
  const int show = m_Updater->m_VersionPanelShown ? SW_SHOW : SW_HIDE;
  for (int id : kVersionPanelControls) ::ShowWindow(Item(id), show);
}

void TCodeUpdaterMainDispForm::VersionPanelChanged() {
  if (!m_Updater) return;
  const app::VersionPanelTexts& v = m_Updater->m_VersionPanel;
  SetFittedText(kFileVersionLabel, v.FileVersionLabel);
  SetFittedText(kDSPVersionLabel, v.DSPVersionLabel);
  SetText(kHWControllerVersionHeadingLabel, v.HWControllerVersionHeadingLabel);
  SetFittedText(kHWControllerVersionLabel, v.HWControllerVersionLabel);
  SetFittedText(kHWRevisionLabel, v.HWRevisionLabel);
  SetFittedText(kSerialNumberLabel, v.SerialNumberLabel);
  SetFittedText(kBootLoadVersionLabel, v.BootLoadVersionLabel);
  SetFittedText(kSEMVersionLabel, v.SEMVersionLabel);
}

void TCodeUpdaterMainDispForm::TargetLabelsChanged() {
  if (!m_Updater) return;
  const app::CodeUpdater& u = *m_Updater;
  const app::IntendedTargetTexts& t = u.m_Target;
  SetText(kNameLabel, t.m_NameLabel);
  SetText(kTargetReleaseLabel, t.m_TargetReleaseLabel);
  SetText(kTargetRadioLabel, t.m_TargetRadioLabel);
  SetText(kTargetSeriesLabel, t.m_TargetSeriesLabel);
  SetText(kTargetUpgradeTypeLabel, t.m_TargetUpgradeTypeLabel);
  SetText(kConfigDeskVersionLabel, t.ConfigDeskVersionLabel);
  SetText(kTuneDeskVersionLabel, t.TuneDeskVersionLabel);
  const app::RadioPicture pictures[] = {app::RadioPicture::PortableX, app::RadioPicture::PortableG,
                                        app::RadioPicture::MobileX, app::RadioPicture::MobileG};
  for (int i = 0; i < 4; ++i) {
    ::ShowWindow(Item(kPictureIds[i]), t.picture == pictures[i] ? SW_SHOW : SW_HIDE);
  }
  const int choice = u.m_UpgradeChoiceVisible ? SW_SHOW : SW_HIDE;
  ::ShowWindow(Item(kUpgradeTypeLabel), choice);
  ::ShowWindow(Item(kApplicationRadioButton), choice);
  ::ShowWindow(Item(kBootRadioButton), choice);
}

void TCodeUpdaterMainDispForm::UpgradeChoiceChanged() {
  if (!m_Updater) return;
  ::SendMessageW(Item(kApplicationRadioButton), BM_SETCHECK,
                 m_Updater->m_ApplicationRadioChecked ? BST_CHECKED : BST_UNCHECKED, 0);
  ::SendMessageW(Item(kBootRadioButton), BM_SETCHECK,
                 m_Updater->m_BootRadioChecked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCodeUpdaterMainDispForm::FocusRetrieveButton() {
  ::SetFocus(Item(kRetrieveVersionInfoButton));
}

void TCodeUpdaterMainDispForm::SetWaitCursor(bool on) {
  m_WaitCursor = on;
  ::SetCursor(::LoadCursorW(nullptr, on ? IDC_WAIT : IDC_ARROW));
}

void TCodeUpdaterMainDispForm::ShowAboutBox() {
  TAboutDialog about(m_Hwnd);
  about.ShowModal();
}

void TCodeUpdaterMainDispForm::SetText(int id, const std::string& text) {
  ::SetWindowTextW(Item(id), Wide(text).c_str());
}

void TCodeUpdaterMainDispForm::SetFittedText(int id, const std::string& text) {
  // A narrower font where the text would not fit the label's design width
  // (the 23 characters of a serial number).
  const std::wstring wide = Wide(text);
  const int width = Scaled(PlaceOf(id)->width, m_Dpi);
  HFONT font = m_Fonts.normal;
  for (HFONT smaller : {m_Fonts.small, m_Fonts.smaller}) {
    if (TextWidth(font, wide) <= width) break;
    font = smaller;
  }
  ::SendMessageW(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  ::SetWindowTextW(Item(id), wide.c_str());
}

// ---- Messages ----

LRESULT CALLBACK TCodeUpdaterMainDispForm::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                      LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    auto* self = static_cast<TCodeUpdaterMainDispForm*>(create->lpCreateParams);
    self->m_Hwnd = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self =
      reinterpret_cast<TCodeUpdaterMainDispForm*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  // An exception out of a handler is shown with the program's title, and the
  // program goes on.
  try {
    return self->OnMessage(message, wParam, lParam);
  } catch (const std::exception& e) {
    ShowException(window, e.what());
  } catch (...) {
    ShowException(window, "unexpected error");
  }
  return 0;
}

LRESULT TCodeUpdaterMainDispForm::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_TIMER:
      if (m_Timers && m_Timers->Fire(wParam)) return 0;
      break;
    case WM_MEASUREITEM: {
      auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      if (item->CtlID == kComportComboBox) {
        item->itemHeight = static_cast<UINT>(Scaled(13, m_Dpi));
        return TRUE;
      }
      break;
    }
    case WM_DRAWITEM:
      OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_SETCURSOR:
      if (m_WaitCursor) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_SYSCOMMAND:
      // Alt+F and Alt+H open the menus of the bar.
      if ((wParam & 0xFFF0) == SC_KEYMENU) {
        const auto key = static_cast<wchar_t>(towlower(static_cast<wint_t>(lParam)));
        if (key == L'f' || key == L'h') {
          ShowMenu(key == L'f' ? kFileMenuButton : kHelpMenuButton);
          return 0;
        }
      }
      break;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == kMenuToolBar && header->code == TBN_DROPDOWN) {
        ShowMenu(reinterpret_cast<const NMTOOLBARW*>(lParam)->iItem);
        return TBDDRET_DEFAULT;
      }
      break;
    }
    case 0x02E0: {  // WM_DPICHANGED: another monitor, or its density changed
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      OnDpiChanged(HIWORD(wParam), *suggested);
      return 0;
    }
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(m_Hwnd, message, wParam, lParam);
}

void TCodeUpdaterMainDispForm::OnCommand(int id, int code) {
  if (!m_Updater) return;
  // A click reaches a control only while it is enabled; a queued one that
  // arrives after the control was disabled is dropped.
  HWND control = Item(id);
  if (control != nullptr && id != kComportComboBox && !::IsWindowEnabled(control)) return;
  switch (id) {
    case kToggleVersionInfoButton:
      m_ToggleVersionInfoSpeedButtonClick();
      break;
    case kStartButton:
      m_StartButtonClick();
      break;
    case kRetrieveVersionInfoButton:
      m_RetrieveVersionInfoButtonClick();
      break;
    case kComportComboBox: {
      HWND combo = Item(kComportComboBox);
      const bool dropped = ::SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0) != 0;
      if (code == CBN_SELENDOK || (code == CBN_SELCHANGE && !dropped)) {
        const auto index = static_cast<int>(::SendMessageW(combo, CB_GETCURSEL, 0, 0));
        if (index >= 0) m_ComportComboBoxChange(index);
      }
      break;
    }
    case kApplicationRadioButton:
      m_Updater->m_ApplicationRadioButtonClick();
      UpgradeChoiceChanged();
      break;
    case kBootRadioButton:
      m_Updater->m_BootRadioButtonClick();
      UpgradeChoiceChanged();
      break;
    case kFileMenuButton:
    case kHelpMenuButton:
      ShowMenu(id);
      break;
    case kUpdateCOMPortsMenuItem:
      m_Updater->m_UpdateCOMPortsMenuItemClick();
      break;
    case kFileExitMenuItem:
      ::PostMessageW(m_Hwnd, WM_CLOSE, 0, 0);  // through the close question
      break;
    case kHelpAboutMenuItem:
      m_Updater->m_HelpAboutMenuItemClick();
      break;
    default:
      break;
  }
}

void TCodeUpdaterMainDispForm::ShowMenu(int button) {
  HWND bar = Item(kMenuToolBar);
  RECT r{};
  const auto index = ::SendMessageW(bar, TB_COMMANDTOINDEX, static_cast<WPARAM>(button), 0);
  ::SendMessageW(bar, TB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
  POINT below{r.left, r.bottom};
  ::ClientToScreen(bar, &below);
  ::SendMessageW(bar, TB_PRESSBUTTON, static_cast<WPARAM>(button), TRUE);
  ::TrackPopupMenu(button == kFileMenuButton ? m_FileMenu : m_HelpMenu,
                   TPM_LEFTALIGN | TPM_TOPALIGN, below.x, below.y, 0, m_Hwnd, nullptr);
  ::SendMessageW(bar, TB_PRESSBUTTON, static_cast<WPARAM>(button), FALSE);
}

void TCodeUpdaterMainDispForm::OnDrawItem(const DRAWITEMSTRUCT& item) {
  if (item.CtlID == kComportComboBox) {
    DrawPortItem(item);
    return;
  }
  for (std::size_t i = 0; i < 4; ++i) {
    if (static_cast<int>(item.CtlID) == kPictureIds[i]) DrawStretched(item, m_Pictures[i]);
  }
}

void TCodeUpdaterMainDispForm::DrawPortItem(const DRAWITEMSTRUCT& item) {
  if (item.itemID == static_cast<UINT>(-1)) {
    ::FillRect(item.hDC, &item.rcItem, ::GetSysColorBrush(COLOR_WINDOW));
    return;
  }
  // A port that is present is drawn as usual; one that is not, grey, and on
  // white where it is the selected one.
  const bool available = m_Updater && m_Updater->PortItemAvailable(static_cast<int>(item.itemID));
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  COLORREF background = ::GetSysColor(COLOR_WINDOW);
  COLORREF text = ::GetSysColor(COLOR_WINDOWTEXT);
  if (available) {
    if (selected) {
      background = ::GetSysColor(COLOR_HIGHLIGHT);
      text = ::GetSysColor(COLOR_HIGHLIGHTTEXT);
    }
  } else {
    if (selected) background = RGB(255, 255, 255);
    text = RGB(128, 128, 128);
  }
  HBRUSH brush = ::CreateSolidBrush(background);
  ::FillRect(item.hDC, &item.rcItem, brush);
  ::DeleteObject(brush);
  wchar_t buffer[256] = {};
  const auto length = ::SendMessageW(item.hwndItem, CB_GETLBTEXTLEN, item.itemID, 0);
  if (length > 0 && length < 256) {
    ::SendMessageW(item.hwndItem, CB_GETLBTEXT, item.itemID, reinterpret_cast<LPARAM>(buffer));
  }
  ::SetBkMode(item.hDC, TRANSPARENT);
  ::SetTextColor(item.hDC, text);
  RECT r = item.rcItem;
  r.left += Scaled(2, m_Dpi);
  ::DrawTextW(item.hDC, buffer, -1, &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
  if ((item.itemState & ODS_FOCUS) != 0 && available) ::DrawFocusRect(item.hDC, &item.rcItem);
}

void TCodeUpdaterMainDispForm::OnDpiChanged(UINT dpi, const RECT& suggested) {
  const bool panel = m_Updater && m_Updater->m_VersionPanelShown;
  m_Dpi = dpi;
  m_Fonts.Make(dpi);
  for (const DesignPlace& p : kPlaces) {
    HWND control = Item(p.id);
    if (control == nullptr || p.id == kToggleVersionInfoButton) continue;
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_Fonts.normal), FALSE);
  }
  ::SendMessageW(Item(kToggleVersionInfoButton), WM_SETFONT, reinterpret_cast<WPARAM>(m_Fonts.bold),
                 FALSE);
  const int width =
      Scaled(panel ? kVersionPanelLeft + 5 + kVersionPanelWidth + 5 : kVersionPanelLeft + 5, dpi);
  ::SetWindowPos(m_Hwnd, nullptr, suggested.left, suggested.top, width,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  LayoutControls();
  VersionPanelChanged();
  ::InvalidateRect(m_Hwnd, nullptr, TRUE);
}

// ---- Handlers ----

void TCodeUpdaterMainDispForm::m_ToggleVersionInfoSpeedButtonClick() {
  const int panelLeft = Scaled(kVersionPanelLeft, m_Dpi);
  const int panelWidth = Scaled(kVersionPanelWidth, m_Dpi);
  if (m_Updater->m_VersionPanelShown) {
    SetOuterWidth(panelLeft + Scaled(5, m_Dpi));
  } else {
    SetOuterWidth(panelWidth + OuterWidth() + Scaled(5, m_Dpi));
  }
  m_Updater->m_ToggleVersionInfoSpeedButtonClick();
  VersionPanelToggled();
}

void TCodeUpdaterMainDispForm::m_StartButtonClick() {
  m_Updater->m_StartButtonClick();
  CloseIfAsked();
}

void TCodeUpdaterMainDispForm::m_RetrieveVersionInfoButtonClick() {
  m_Updater->m_RetrieveVersionInfoButtonClick();
  CloseIfAsked();
}

void TCodeUpdaterMainDispForm::m_ComportComboBoxChange(int index) {
  m_Updater->m_ComportComboBoxChange(index);
  PortSelectionChanged();
}

void TCodeUpdaterMainDispForm::OnClose() {
  // FormCloseQuery: during an update only after the user's Yes, which also
  // stops the update.
  if (!m_Updater->FormCloseQuery()) return;
  m_QuitRequested = true;
  if (m_Updater->Busy()) {
    // The run is stopping: the window shows it until the run has unwound
    // (the fixed waits end early now), then closes.
    m_CloseWhenIdle = true;
    return;
  }
  ::DestroyWindow(m_Hwnd);
}

void TCodeUpdaterMainDispForm::CloseIfAsked() {
  // Only the outermost handler returns with the updater idle.
  if (m_CloseWhenIdle && !m_Updater->Busy()) {
    m_CloseWhenIdle = false;
    ::DestroyWindow(m_Hwnd);
  }
}

}  // namespace bcu::win32
