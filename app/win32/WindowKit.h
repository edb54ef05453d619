#pragma once
// What the Windows window and its dialogs share: the design's pixels (laid
// out for 96 dots per inch) on a monitor of any density, the design font,
// controls made and placed in design pixels, the pictures, and modal dialogs
// without a template of their own.
#include <windows.h>

#include <string>

namespace bcu::win32 {

// The density the window is drawn at (its monitor's where the system says).
UINT WindowDpi(HWND window);
// Design pixels at `dpi`.
inline int Scaled(int design, UINT dpi) {
  return MulDiv(design, static_cast<int>(dpi), 96);
}

// The design font, a narrow sans serif at 8 points, its bold face, and two
// smaller sizes for values that would not fit their labels.
class DesignFonts {
 public:
  DesignFonts() = default;
  ~DesignFonts();
  DesignFonts(const DesignFonts&) = delete;
  DesignFonts& operator=(const DesignFonts&) = delete;
  void Make(UINT dpi);
  HFONT normal = nullptr;
  HFONT bold = nullptr;
  HFONT small = nullptr;    // 7 points
  HFONT smaller = nullptr;  // 6 points

 private:
  void Free();
};

HWND MakeControl(HWND parent, const wchar_t* windowClass, const std::wstring& text, DWORD style,
                 int id, HFONT font, DWORD exStyle = 0);
// Moves and sizes `control` to a design rectangle.
void PlaceControl(HWND control, int left, int top, int width, int height, UINT dpi);
// Width in pixels of `text` in `font`.
int TextWidth(HFONT font, const std::wstring& text);
// Height of `text` broken into lines of `width` pixels as a word-wrapping
// static control breaks it (long words included).
int WrappedTextHeight(HFONT font, const std::wstring& text, int width);

// A bitmap resource of the program (a picture decoded at build time).
HBITMAP LoadPicture(int resourceId);
// Draws `picture` stretched over an owner-drawn static control.
void DrawStretched(const DRAWITEMSTRUCT& item, HBITMAP picture);
// An owner-drawn static control as a raised or lowered panel.
void DrawPanel(const DRAWITEMSTRUCT& item, bool raised);

// Runs a modal dialog with no controls of its own; `proc` makes them on
// WM_INITDIALOG (lParam is `param`). Returns EndDialog's result.
INT_PTR RunModalDialog(HWND owner, DLGPROC proc, LPARAM param);
// Gives `window` an outer size of design pixels and centres it on `over`
// (the desktop's work area when null).
void SizeAndCentre(HWND window, int outerWidth, int outerHeight, HWND over, UINT dpi);
// The outer size that holds a client area of this many pixels.
SIZE OuterSizeFor(HWND window, int clientWidth, int clientHeight, UINT dpi);

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

}  // namespace bcu::win32
