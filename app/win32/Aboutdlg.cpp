#include "app/win32/Aboutdlg.h"

#include <commctrl.h>

#include <string>

#include "app/ProgramVersion.h"
#include "app/win32/ControlIds.h"

namespace bcu::win32 {

namespace {

constexpr int kOuterWidth = 302;
constexpr int kOuterHeight = 225;

}  // namespace

TAboutDialog::TAboutDialog(HWND owner) : owner_(owner), logo_(LoadPicture(kLogoBitmap)) {}

TAboutDialog::~TAboutDialog() {
  if (logo_ != nullptr) ::DeleteObject(logo_);
}

void TAboutDialog::ShowModal() {
  RunModalDialog(owner_, &TAboutDialog::Proc, reinterpret_cast<LPARAM>(this));
}

void TAboutDialog::InitDialog(HWND dialog) {
  const UINT dpi = WindowDpi(owner_ != nullptr ? owner_ : dialog);
  fonts_.Make(dpi);
  ::SetWindowTextW(dialog, kAboutCaption);
  ::SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.normal), FALSE);
  SizeAndCentre(dialog, kOuterWidth, kOuterHeight, owner_, dpi);

  // The outer size holds the caption: the button sits 12 pixels above the
  // client's bottom edge, whatever the caption's height, and the panel ends
  // 8 pixels above the button.
  RECT client{};
  ::GetClientRect(dialog, &client);
  const int okTop = client.bottom - Scaled(37, dpi);
  HWND panel =
      MakeControl(dialog, WC_STATICW, L"", WS_VISIBLE | SS_OWNERDRAW, kAboutPanel, nullptr);
  ::SetWindowPos(panel, nullptr, Scaled(8, dpi), Scaled(8, dpi), Scaled(286, dpi),
                 okTop - Scaled(16, dpi), SWP_NOZORDER);
  HWND image =
      MakeControl(dialog, WC_STATICW, L"", WS_VISIBLE | SS_OWNERDRAW, kAboutImage, nullptr);
  PlaceControl(image, 20, 20, 64, 64, dpi);
  const std::wstring name = L"Brisant Code Updater";
  HWND nameLabel = MakeControl(dialog, WC_STATICW, name, WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                               kAboutNameLabel, fonts_.bold);
  PlaceControl(nameLabel, 100, 28, 180, 14, dpi);
  const std::wstring version = L"Version " + Wide(app::ProgramVersion());
  HWND versionLabel = MakeControl(dialog, WC_STATICW, version, WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                                  kAboutVersionLabel, fonts_.normal);
  PlaceControl(versionLabel, 100, 52, 180, 14, dpi);
  HWND copyright =
      MakeControl(dialog, WC_STATICW, L"Copyright (c) 2026 Brisant Radio Systems",
                  WS_VISIBLE | SS_LEFT | SS_NOPREFIX, kAboutCopyrightLabel, fonts_.normal);
  PlaceControl(copyright, 20, 104, 266, 14, dpi);
  HWND ok = MakeControl(dialog, WC_BUTTONW, L"OK", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK,
                        fonts_.normal);
  ::SetWindowPos(ok, nullptr, Scaled(113, dpi), okTop, Scaled(75, dpi), Scaled(25, dpi),
                 SWP_NOZORDER);
  // The panel lies below the controls on it (siblings clip one another, and
  // the first one made is on top).
  ::SetWindowPos(panel, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ::SetFocus(ok);
}

INT_PTR CALLBACK TAboutDialog::Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<TAboutDialog*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      self = reinterpret_cast<TAboutDialog*>(lParam);
      ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      self->InitDialog(dialog);
      return FALSE;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item->CtlID == kAboutPanel) {
        DrawPanel(*item, true);
        return TRUE;
      }
      if (item->CtlID == kAboutImage && self != nullptr) {
        DrawStretched(*item, self->logo_);
        return TRUE;
      }
      return FALSE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(dialog, IDOK);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace bcu::win32
