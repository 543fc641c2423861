// Renders the report window and the About window as Windows draws them into
// 24-bit BMP files: ordana-window-shots FOLDER (writes windows-report-window.bmp
// and windows-about-window.bmp; scripts/screenshots-windows makes PNGs).
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <string>
#include <vector>

#include "report/win32/AboutDialog.h"
#include "report/win32/ReportDialog.h"

namespace {

void Pump(int ms) {
  const DWORD until = GetTickCount() + static_cast<DWORD>(ms);
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(10);
  } while (static_cast<LONG>(until - GetTickCount()) > 0);
}

// The window's rectangle as it is on the screen.
bool Save(HWND window, const std::wstring& file) {
  RECT r{};
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;  // bottom-up, as BMP files store it
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const DWORD stride = ((static_cast<DWORD>(w) * 3 + 3) & ~3u), size = stride * static_cast<DWORD>(h);
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
  fh.bfSize = fh.bfOffBits + size;
  bool ok = false;
  HANDLE f = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f != INVALID_HANDLE_VALUE) {
    DWORD n = 0;
    ok = WriteFile(f, &fh, sizeof fh, &n, nullptr) && WriteFile(f, &bi.bmiHeader, sizeof bi.bmiHeader, &n, nullptr) &&
         WriteFile(f, bits, size, &n, nullptr) && n == size;
    ok = CloseHandle(f) && ok;
  }
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring folder = argc > 1 ? argv[1] : L".";
  const HRESULT com = CoInitialize(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_DATE_CLASSES};
  InitCommonControlsEx(&controls);
  ordana::TDialogServices s = ordana::DefaultDialogServices();
  s.clock = std::make_shared<ordana::FixedClock>(ordana::TUtcNow{2026, 11, 20, 12, 0});
  HWND report = ordana::CreateReportDialog(GetModuleHandleW(nullptr), s, false);
  if (!report) return 1;
  SetWindowPos(report, HWND_TOP, 20, 20, 0, 0, SWP_NOSIZE);
  ShowWindow(report, SW_SHOW);
  Pump(700);
  bool ok = Save(report, folder + L"\\windows-report-window.bmp");
  // Beside the report window, so that neither hides the other.
  HWND about = ordana::CreateAboutDialog(report, nullptr);
  RECT r{};
  GetWindowRect(report, &r);
  SetWindowPos(about, HWND_TOP, r.right + 20, 20, 0, 0, SWP_NOSIZE);
  Pump(700);
  ok = about && Save(about, folder + L"\\windows-about-window.bmp") && ok;
  if (about) DestroyWindow(about);
  DestroyWindow(report);
  if (SUCCEEDED(com)) CoUninitialize();
  std::fputs(ok ? "written\n" : "failed\n", stdout);
  return ok ? 0 : 1;
}
