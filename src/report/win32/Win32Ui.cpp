#include "report/win32/Win32Ui.h"

namespace ordana::win32ui {

std::u16string WindowText(HWND window) {
  const int n = GetWindowTextLengthW(window);
  std::wstring buf(static_cast<size_t>(n) + 1, L'\0');
  const int got = GetWindowTextW(window, buf.data(), n + 1);
  buf.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return std::u16string(buf.begin(), buf.end());
}

namespace {
// Functions of newer systems, looked up once; null where they are missing.
template <typename F>
F User32Function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                : nullptr;
}
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
using DialogDpiFn = BOOL(WINAPI*)(HWND, int, int);

void Push32(std::vector<WORD>& t, DWORD v) {
  t.push_back(LOWORD(v));
  t.push_back(HIWORD(v));
}
void PushText(std::vector<WORD>& t, const char16_t* s) {
  for (; *s; ++s) t.push_back(*s);
  t.push_back(0);
}
}  // namespace

UINT WindowDpi(HWND window) {
  static const auto forWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  if (forWindow && window) {
    const UINT dpi = forWindow(window);
    if (dpi) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

void KeepDialogDpiToMyself(HWND dialog) {
  // SetDialogDpiChangeBehavior(DDC_DISABLE_ALL, DDC_DISABLE_ALL)
  static const auto behaviour = User32Function<DialogDpiFn>("SetDialogDpiChangeBehavior");
  if (behaviour) behaviour(dialog, 1, 1);
}

HFONT MakeFont(int charHeight96, UINT dpi, bool bold, bool underline) {
  LOGFONTW lf{};
  lf.lfHeight = -Scale(charHeight96, dpi);
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  lf.lfUnderline = underline ? TRUE : FALSE;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = DEFAULT_QUALITY;
  lstrcpynW(lf.lfFaceName, L"Tahoma", LF_FACESIZE);
  return CreateFontIndirectW(&lf);
}

std::vector<WORD> DialogTemplate(DWORD style, DWORD exStyle, const std::u16string& caption) {
  std::vector<WORD> t;
  t.push_back(1);       // dlgVer
  t.push_back(0xFFFF);  // signature: DLGTEMPLATEEX
  Push32(t, 0);         // helpID
  Push32(t, exStyle);
  Push32(t, style | DS_SETFONT);
  t.push_back(0);  // no controls
  for (int i = 0; i < 4; ++i) t.push_back(0);  // x, y, cx, cy: set in pixels later
  t.push_back(0);  // no menu
  t.push_back(0);  // the dialog class
  PushText(t, caption.c_str());
  t.push_back(8);  // point size
  t.push_back(FW_NORMAL);
  t.push_back(static_cast<WORD>(DEFAULT_CHARSET << 8));  // not italic (low byte), charset
  PushText(t, u"Tahoma");
  return t;
}

void CreateControls(HWND parent, std::span<const TControl> controls) {
  HINSTANCE inst = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE));
  for (const TControl& c : controls) {
    CreateWindowExW(0, c.className, W(c.text), WS_CHILD | WS_VISIBLE | c.style, 0, 0, 0, 0, parent,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), inst, nullptr);
  }
}

void LayOut(HWND window, std::span<const TControl> controls, int w, int h, UINT dpi) {
  static const auto adjustForDpi = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
  RECT r{0, 0, Scale(w, dpi), Scale(h, dpi)};
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  if (adjustForDpi)
    adjustForDpi(&r, style, FALSE, exStyle, dpi);
  else
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
  SetWindowPos(window, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  for (const TControl& c : controls) {
    if (HWND ctl = GetDlgItem(window, c.id))
      SetWindowPos(ctl, nullptr, Scale(c.x, dpi), Scale(c.y, dpi), Scale(c.w, dpi), Scale(c.h, dpi),
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void CentreOn(HWND window, HWND other) {
  RECT area{};
  if (other) {
    GetWindowRect(other, &area);
  } else {
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &mi);
    area = mi.rcWork;
  }
  RECT r{};
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  SetWindowPos(window, nullptr, area.left + (area.right - area.left - w) / 2,
               area.top + (area.bottom - area.top - h) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetFont(HWND control, HFONT font) {
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

}  // namespace ordana::win32ui
