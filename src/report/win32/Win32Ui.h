#pragma once
// What the two Win32 windows share: texts between char16_t and the API's
// wchar_t, the window's DPI, fonts, an in-memory dialog template without
// controls, and controls laid out in pixels at 96 DPI and scaled.
#include <windows.h>

#include <memory>
#include <span>
#include <string>
#include <vector>

namespace ordana::win32ui {

// UTF-16 both: wchar_t is 16 bits wide on Windows.
inline const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
inline std::u16string U(const wchar_t* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); }

std::u16string WindowText(HWND window);

// The window's DPI (the screen's on systems without per-window DPI).
UINT WindowDpi(HWND window);
inline int Scale(int px96, UINT dpi) { return MulDiv(px96, static_cast<int>(dpi), 96); }

// Per-monitor DPI for the dialogs: the system must not rescale them behind
// their back; they lay themselves out anew on WM_DPICHANGED.
void KeepDialogDpiToMyself(HWND dialog);

// A Tahoma font of the given character height in pixels at 96 DPI.
HFONT MakeFont(int charHeight96, UINT dpi, bool bold = false, bool underline = false);
// Tahoma 8 point (the windows' text).
inline constexpr int kTahoma8 = 11;

// A DLGTEMPLATEEX without controls, with Tahoma 8 as its font; the window
// creates its controls itself when it receives WM_INITDIALOG.
std::vector<WORD> DialogTemplate(DWORD style, DWORD exStyle, const std::u16string& caption);

// One control of a window, its place in pixels at 96 DPI. Controls are
// created in table order, which is their tab order.
struct TControl {
  int id;
  const wchar_t* className;
  const char16_t* text;
  DWORD style;
  int x, y, w, h;
};
void CreateControls(HWND parent, std::span<const TControl> controls);
// Sets the client area to w x h pixels at 96 DPI scaled to dpi and places the
// controls; the window keeps its top-left corner.
void LayOut(HWND window, std::span<const TControl> controls, int w, int h, UINT dpi);
// Moves the window to the centre of the other window, or of the work area of
// its monitor when other is null.
void CentreOn(HWND window, HWND other);

// Fonts owned by a window, replaced on a DPI change and freed with it.
class TFont {
 public:
  TFont() = default;
  ~TFont() { Reset(nullptr); }
  TFont(const TFont&) = delete;
  TFont& operator=(const TFont&) = delete;
  void Reset(HFONT f) {
    if (f_) DeleteObject(f_);
    f_ = f;
  }
  HFONT Get() const { return f_; }

 private:
  HFONT f_ = nullptr;
};
void SetFont(HWND control, HFONT font);

// A dialog whose window owns a T: T has Attach(HWND) and
// INT_PTR Handle(UINT, WPARAM, LPARAM). The creating code passes the address
// of a std::unique_ptr<T> as the init parameter; the window takes the object
// on WM_INITDIALOG (what it never took, the creator frees) and deletes it
// when it is destroyed.
template <typename T>
INT_PTR CALLBACK OwningDialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    T* taken = reinterpret_cast<std::unique_ptr<T>*>(lp)->release();
    taken->Attach(hwnd);
    SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(taken));
  }
  auto* self = reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!self) return FALSE;
  const INT_PTR r = self->Handle(msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    delete self;
  }
  return r;
}

}  // namespace ordana::win32ui
