#include "app/win32/Codedownpassdlg.h"

#include <commctrl.h>

#include "app/win32/ControlIds.h"

namespace bcu::win32 {

namespace {

constexpr int kClientWidth = 387;
constexpr int kClientHeight = 107;

}  // namespace

void TCodeDownPassDispDlg::ShowModal() {
  m_Confirmed = false;
  RunModalDialog(owner_, &TCodeDownPassDispDlg::Proc, reinterpret_cast<LPARAM>(this));
}

void TCodeDownPassDispDlg::InitDialog(HWND dialog) {
  dialog_ = dialog;
  const UINT dpi = WindowDpi(owner_ != nullptr ? owner_ : dialog);
  fonts_.Make(dpi);
  ::SetWindowTextW(dialog, kPasswordCaption);
  ::SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.normal), FALSE);

  HWND panel =
      MakeControl(dialog, WC_STATICW, L"", WS_VISIBLE | SS_OWNERDRAW, kPasswordPanel, nullptr);
  PlaceControl(panel, 8, 8, 289, 91, dpi);
  const std::wstring prompt = L"Please enter your password:";
  HWND label = MakeControl(dialog, WC_STATICW, prompt, WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                           kPasswordLabel, fonts_.normal);
  PlaceControl(label, 20, 26, 265, 14, dpi);
  m_PasswordEdit = MakeControl(dialog, WC_EDITW, L"",
                               WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL | ES_PASSWORD,
                               kPasswordEdit, fonts_.normal, WS_EX_CLIENTEDGE);
  PlaceControl(m_PasswordEdit, 20, 50, 265, 21, dpi);
  // Every character shows as "*", whatever the theme's own mask is.
  ::SendMessageW(m_PasswordEdit, EM_SETPASSWORDCHAR, L'*', 0);
  HWND ok = MakeControl(dialog, WC_BUTTONW, L"OK", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK,
                        fonts_.normal);
  PlaceControl(ok, 304, 8, 75, 25, dpi);
  HWND cancel = MakeControl(dialog, WC_BUTTONW, L"Cancel", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                            IDCANCEL, fonts_.normal);
  PlaceControl(cancel, 304, 40, 75, 25, dpi);
  // The panel lies below the label and the edit on it (siblings clip one
  // another, and the first one made is on top).
  ::SetWindowPos(panel, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  const SIZE outer =
      OuterSizeFor(dialog, Scaled(kClientWidth, dpi), Scaled(kClientHeight, dpi), dpi);
  // SizeAndCentre takes design pixels; the outer size is already scaled.
  RECT area{};
  if (owner_ != nullptr) {
    ::GetWindowRect(owner_, &area);
  } else {
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  ::SetWindowPos(dialog, nullptr, area.left + (area.right - area.left - outer.cx) / 2,
                 area.top + (area.bottom - area.top - outer.cy) / 2, outer.cx, outer.cy,
                 SWP_NOZORDER);
  FormActivate();
}

void TCodeDownPassDispDlg::FormActivate() {
  ::SetFocus(m_PasswordEdit);
}

void TCodeDownPassDispDlg::BitBtn1Click() {
  const int length = ::GetWindowTextLengthW(m_PasswordEdit);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  ::GetWindowTextW(m_PasswordEdit, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));
  m_PasswordText = Utf8(text);
  m_Confirmed = true;
  ::EndDialog(dialog_, IDOK);
}

void TCodeDownPassDispDlg::BitBtn2Click() {
  m_Confirmed = false;
  ::EndDialog(dialog_, IDCANCEL);
}

INT_PTR CALLBACK TCodeDownPassDispDlg::Proc(HWND dialog, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  auto* self = reinterpret_cast<TCodeDownPassDispDlg*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      self = reinterpret_cast<TCodeDownPassDispDlg*>(lParam);
      ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      self->InitDialog(dialog);
      return FALSE;  // the focus is set: the password field
    case WM_ACTIVATE:
      if (self != nullptr && LOWORD(wParam) != WA_INACTIVE) self->FormActivate();
      return FALSE;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item->CtlID != kPasswordPanel) return FALSE;
      DrawPanel(*item, false);
      return TRUE;
    }
    case WM_COMMAND:
      if (self == nullptr) return FALSE;
      if (LOWORD(wParam) == IDOK) {
        self->BitBtn1Click();
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        self->BitBtn2Click();
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace bcu::win32
