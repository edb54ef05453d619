#pragma once
// The about box: the logo, the program's name and version, a copyright line
// and OK.
#include <windows.h>

#include "app/win32/WindowKit.h"

namespace bcu::win32 {

class TAboutDialog {
 public:
  explicit TAboutDialog(HWND owner);
  ~TAboutDialog();
  TAboutDialog(const TAboutDialog&) = delete;
  TAboutDialog& operator=(const TAboutDialog&) = delete;
  void ShowModal();

 private:
  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void InitDialog(HWND dialog);

  HWND owner_;
  HBITMAP logo_ = nullptr;
  DesignFonts fonts_;
};

}  // namespace bcu::win32
