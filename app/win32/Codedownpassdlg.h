#pragma once
// The password dialog: the start password, and the codeplug password when a
// radio asks for one. Modal; its caller reads m_Confirmed and the text typed.
#include <windows.h>

#include <string>

#include "app/win32/WindowKit.h"

namespace bcu::win32 {

class TCodeDownPassDispDlg {
 public:
  explicit TCodeDownPassDispDlg(HWND owner) : owner_(owner) {}
  // Shows the dialog until OK or Cancel closes it.
  void ShowModal();

  bool m_Confirmed = false;
  std::string m_PasswordText;  // as typed, UTF-8

 private:
  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void InitDialog(HWND dialog);
  void FormActivate();
  void BitBtn1Click();
  void BitBtn2Click();

  HWND owner_;
  HWND dialog_ = nullptr;
  HWND m_PasswordEdit = nullptr;
  DesignFonts fonts_;
};

}  // namespace bcu::win32
