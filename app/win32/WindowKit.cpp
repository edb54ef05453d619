#include "app/win32/WindowKit.h"

#include <vector>

#include "platform/Win32Text.h"

namespace bcu::win32 {

namespace {

// Windows 10's calls, looked up so the program also starts where they are
// missing (older Windows, older wine).
template <typename F>
F UserCall(const char* name) {
  HMODULE user = ::GetModuleHandleW(L"user32.dll");
  return user ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(user, name)))
              : nullptr;
}

HFONT MakeFont(UINT dpi, int points, bool bold) {
  const int height = -MulDiv(points, static_cast<int>(dpi), 72);
  // The TrueType face scales to any density; the bitmap face of the same
  // name stands in where it is missing.
  for (const wchar_t* face : {L"Microsoft Sans Serif", L"MS Sans Serif"}) {
    HFONT font = ::CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                               DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                               DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, face);
    if (font == nullptr) continue;
    HDC dc = ::GetDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, font);
    wchar_t got[LF_FACESIZE] = {};
    ::GetTextFaceW(dc, LF_FACESIZE, got);
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    if (lstrcmpiW(got, face) == 0) return font;
    ::DeleteObject(font);
  }
  return ::CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"MS Shell Dlg");
}

}  // namespace

UINT WindowDpi(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = UserCall<GetDpiForWindowFn>("GetDpiForWindow");
  if (getDpiForWindow != nullptr && window != nullptr) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi != 0) return dpi;
  }
  HDC dc = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
  ::ReleaseDC(nullptr, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

DesignFonts::~DesignFonts() {
  Free();
}

void DesignFonts::Free() {
  for (HFONT* f : {&normal, &bold, &small, &smaller}) {
    if (*f != nullptr) ::DeleteObject(*f);
    *f = nullptr;
  }
}

void DesignFonts::Make(UINT dpi) {
  Free();
  normal = MakeFont(dpi, 8, false);
  bold = MakeFont(dpi, 8, true);
  small = MakeFont(dpi, 7, false);
  smaller = MakeFont(dpi, 6, false);
}

HWND MakeControl(HWND parent, const wchar_t* windowClass, const std::wstring& text, DWORD style,
                 int id, HFONT font, DWORD exStyle) {
  HWND control = ::CreateWindowExW(
      exStyle, windowClass, text.c_str(), WS_CHILD | WS_CLIPSIBLINGS | style, 0, 0, 0, 0, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
  if (control != nullptr && font != nullptr) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  return control;
}

void PlaceControl(HWND control, int left, int top, int width, int height, UINT dpi) {
  ::SetWindowPos(control, nullptr, Scaled(left, dpi), Scaled(top, dpi), Scaled(width, dpi),
                 Scaled(height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
}

int TextWidth(HFONT font, const std::wstring& text) {
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  return size.cx;
}

int WrappedTextHeight(HFONT font, const std::wstring& text, int width) {
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  RECT rect{0, 0, width, 0};
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect,
              DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX);
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  return rect.bottom - rect.top;
}

HBITMAP LoadPicture(int resourceId) {
  return static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr),
                                           MAKEINTRESOURCEW(resourceId), IMAGE_BITMAP, 0, 0,
                                           LR_CREATEDIBSECTION));
}

void DrawStretched(const DRAWITEMSTRUCT& item, HBITMAP picture) {
  const RECT& r = item.rcItem;
  if (picture == nullptr) {
    ::FillRect(item.hDC, &r, ::GetSysColorBrush(COLOR_BTNFACE));
    return;
  }
  BITMAP info{};
  ::GetObjectW(picture, sizeof info, &info);
  HDC source = ::CreateCompatibleDC(item.hDC);
  HGDIOBJ old = ::SelectObject(source, picture);
  ::SetStretchBltMode(item.hDC, HALFTONE);
  ::SetBrushOrgEx(item.hDC, 0, 0, nullptr);
  ::StretchBlt(item.hDC, r.left, r.top, r.right - r.left, r.bottom - r.top, source, 0, 0,
               info.bmWidth, info.bmHeight, SRCCOPY);
  ::SelectObject(source, old);
  ::DeleteDC(source);
}

void DrawPanel(const DRAWITEMSTRUCT& item, bool raised) {
  RECT r = item.rcItem;
  ::FillRect(item.hDC, &r, ::GetSysColorBrush(COLOR_BTNFACE));
  ::DrawEdge(item.hDC, &r, raised ? EDGE_RAISED : EDGE_SUNKEN, BF_RECT);
}

INT_PTR RunModalDialog(HWND owner, DLGPROC proc, LPARAM param) {
  // A DLGTEMPLATE without controls, menu, class or title; the dialog
  // procedure sizes it and makes its controls.
  struct alignas(4) EmptyTemplate {
    DLGTEMPLATE dialog;
    WORD menu, windowClass, title;
  } tpl{};
  tpl.dialog.style = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
  tpl.dialog.dwExtendedStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  tpl.dialog.cx = 100;
  tpl.dialog.cy = 50;
  return ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), &tpl.dialog, owner, proc, param);
}

SIZE OuterSizeFor(HWND window, int clientWidth, int clientHeight, UINT dpi) {
  const auto style = static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_EXSTYLE));
  RECT r{0, 0, clientWidth, clientHeight};
  using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = UserCall<AdjustForDpiFn>("AdjustWindowRectExForDpi");
  const BOOL menu = ::GetMenu(window) != nullptr;
  if (adjustForDpi == nullptr || !adjustForDpi(&r, style, menu, exStyle, dpi)) {
    ::AdjustWindowRectEx(&r, style, menu, exStyle);
  }
  return SIZE{r.right - r.left, r.bottom - r.top};
}

void SizeAndCentre(HWND window, int outerWidth, int outerHeight, HWND over, UINT dpi) {
  const int w = Scaled(outerWidth, dpi);
  const int h = Scaled(outerHeight, dpi);
  RECT area{};
  if (over != nullptr) {
    ::GetWindowRect(over, &area);
  } else {
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  const int x = area.left + (area.right - area.left - w) / 2;
  const int y = area.top + (area.bottom - area.top - h) / 2;
  ::SetWindowPos(window, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

std::wstring Wide(const std::string& utf8) {
  return platform::Widen(utf8);
}

std::string Utf8(const std::wstring& wide) {
  return platform::Narrow(wide);
}

}  // namespace bcu::win32
