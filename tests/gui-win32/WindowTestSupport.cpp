#include "WindowTestSupport.h"

#include <commctrl.h>

#include "report/win32/ControlIds.h"
#include "report/win32/Win32Ui.h"

namespace ordana::wintest {

std::u16string HostPath(const std::string& path) {
  std::u16string out = path.size() > 0 && path[0] == '/' ? u"Z:" : u"";
  for (char c : path) out.push_back(c == '/' ? u'\\' : static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

void Pump(int ms, HWND dialog) {
  const DWORD until = GetTickCount() + static_cast<DWORD>(ms);
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (dialog && IsWindow(dialog) && IsDialogMessageW(dialog, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (ms > 0) Sleep(5);
  } while (static_cast<LONG>(until - GetTickCount()) > 0);
}

TDialogServices Recording(TRecorded& r, TUtcNow now) {
  TDialogServices s;
  s.clock = std::make_shared<FixedClock>(now);
  s.monthNames = [] {
    std::vector<std::u16string> names;
    for (int m = 1; m <= 12; ++m) names.push_back(u"Месяц " + std::u16string(1, static_cast<char16_t>(u'A' + m - 1)));
    return names;
  };
  s.chooseFolder = [&r](HWND owner) {
    r.folderOwners.push_back(owner);
    return r.folderChoice.value_or(u"");
  };
  s.build = [&r](const std::u16string& f, const std::u16string& o, TDate a, TDate b) {
    r.builds.push_back({f, o, a, b});
  };
  s.openFile = [&r](HWND owner, const std::u16string& f) { r.opened.emplace_back(owner, f); };
  s.messageBox = [&r](HWND owner, const std::u16string& text, const std::u16string& caption, UINT type) {
    r.boxes.push_back({owner, text, caption, type});
    return IDOK;
  };
  s.outputFolder = [] { return std::u16string(kTestOutputFolder); };
  s.openUrl = [&r](HWND owner, const std::u16string& u) { r.urls.emplace_back(owner, u); };
  return s;
}

TShownDialog::TShownDialog(TDialogServices s)
    : hwnd_(CreateReportDialog(GetModuleHandleW(nullptr), std::move(s), false)) {
  if (hwnd_) {
    ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
    Pump(0, hwnd_);
  }
}

TShownDialog::~TShownDialog() {
  if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
  Pump();
}

std::u16string Text(HWND window) { return win32ui::WindowText(window); }

TDate PickerDate(HWND picker) {
  SYSTEMTIME st{};
  SendMessageW(picker, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&st));
  return TDate{st.wYear, st.wMonth, st.wDay};
}

void SetPickerDate(HWND picker, TDate d) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(d.Year);
  st.wMonth = static_cast<WORD>(d.Month);
  st.wDay = static_cast<WORD>(d.Day);
  SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st));
}

void Click(HWND button) {
  SendMessageW(button, BM_CLICK, 0, 0);
  Pump(0, GetParent(button));
}

void ChooseMonth(HWND dialog, int index) {
  HWND combo = GetDlgItem(dialog, ids::ComboBox1);
  SendMessageW(combo, CB_SETCURSEL, index, 0);
  // What the list tells its window when the user picks an entry.
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(ids::ComboBox1, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

LOGFONTW FontOf(HWND control) {
  LOGFONTW lf{};
  HFONT f = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  if (f) GetObjectW(f, sizeof lf, &lf);
  return lf;
}

}  // namespace ordana::wintest
