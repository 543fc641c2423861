#include "report/win32/ReportDialog.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <array>

#include "report/ui/ReportPresenter.h"
#include "report/win32/AboutDialog.h"
#include "report/win32/ControlIds.h"
#include "report/win32/Resources.h"
#include "report/win32/Win32Ui.h"

namespace ordana {

using namespace win32ui;

namespace {

// Client area 444 x 167 at 96 DPI; controls in tab order, each label in
// front of the control it names.
constexpr int kClientWidth = 444, kClientHeight = 167;
constexpr DWORD kTab = WS_TABSTOP;
constexpr TControl kControls[] = {
    {ids::FolderLabel, L"STATIC", u"Путь к папке с отчетами Velmora:", SS_LEFT | SS_NOPREFIX, 8, 8, 317, 16},
    {ids::Edit1, L"EDIT", u"N:\\Output\\Project\\Report", kTab | WS_BORDER | ES_AUTOHSCROLL, 8, 26, 317, 22},
    {ids::Button1, L"BUTTON", u"...", kTab | BS_PUSHBUTTON, 329, 26, 26, 22},
    {ids::MonthLabel, L"STATIC", u"Месяц:", SS_LEFT | SS_NOPREFIX, 8, 63, 44, 16},
    // A drop-down list's height includes its open list.
    {ids::ComboBox1, L"COMBOBOX", u"", kTab | WS_VSCROLL | CBS_DROPDOWNLIST, 54, 59, 100, 300},
    {ids::FromLabel, L"STATIC", u"Период от:", SS_LEFT | SS_NOPREFIX, 160, 63, 68, 16},
    {ids::DateTimePicker1, DATETIMEPICK_CLASSW, u"", kTab | DTS_SHORTDATEFORMAT, 229, 59, 93, 22},
    {ids::ToLabel, L"STATIC", u"до", SS_LEFT | SS_NOPREFIX, 328, 63, 16, 16},
    {ids::DateTimePicker2, DATETIMEPICK_CLASSW, u"", kTab | DTS_SHORTDATEFORMAT, 346, 59, 90, 22},
    {ids::Button3, L"BUTTON", u"О программе...", kTab | BS_PUSHBUTTON, 250, 134, 100, 25},
    {ids::Button2, L"BUTTON", u"Закрыть", kTab | BS_PUSHBUTTON, 356, 134, 80, 25},
    {ids::Button4, L"BUTTON", u"Создать отчет", kTab | BS_PUSHBUTTON, 8, 134, 110, 25},
    {ids::FormatLabel, L"STATIC", u"Формат отчета:", SS_LEFT | SS_NOPREFIX, 8, 97, 96, 16},
    {ids::RadioButton1, L"BUTTON", u"HTML", kTab | BS_AUTORADIOBUTTON | WS_GROUP | WS_DISABLED, 106, 95, 80, 20},
};

SYSTEMTIME ToSystemTime(TDate d) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(d.Year);
  st.wMonth = static_cast<WORD>(d.Month);
  st.wDay = static_cast<WORD>(d.Day);
  return st;
}

class TReportDialog final : public TReportView {
 public:
  TReportDialog(TDialogServices s, bool quitOnClose)
      : s_(std::move(s)), quitOnClose_(quitOnClose), presenter_(*this, PresenterServices()) {}

  void Attach(HWND hwnd) { hwnd_ = hwnd; }
  friend INT_PTR CALLBACK win32ui::OwningDialogProc<TReportDialog>(HWND, UINT, WPARAM, LPARAM);

 private:
  TReportServices PresenterServices() {
    TReportServices p;
    p.clock = s_.clock;
    p.monthNames = s_.monthNames;
    p.chooseFolder = [this] { return s_.chooseFolder ? s_.chooseFolder(hwnd_) : std::u16string(); };
    p.build = s_.build;
    p.openFile = [this](const std::u16string& f) {
      if (s_.openFile) s_.openFile(hwnd_, f);
    };
    p.showError = [this](const std::u16string& caption, const std::u16string& text) {
      if (s_.messageBox) s_.messageBox(hwnd_, text, caption, MB_OK | MB_ICONERROR);
    };
    p.outputFolder = s_.outputFolder;
    return p;
  }

  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

  void ApplyDpi(UINT dpi) {
    font_.Reset(MakeFont(kTahoma8, dpi));
    bold_.Reset(MakeFont(kTahoma8, dpi, true));
    for (const TControl& c : kControls) SetFont(Item(c.id), c.id == ids::Button4 ? bold_.Get() : font_.Get());
    LayOut(hwnd_, kControls, kClientWidth, kClientHeight, dpi);
  }

  INT_PTR Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case WM_INITDIALOG:
        KeepDialogDpiToMyself(hwnd_);
        CreateControls(hwnd_, kControls);
        SendMessageW(Item(ids::RadioButton1), BM_SETCHECK, BST_CHECKED, 0);
        if (HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(ORDANA_IDI_APP)))
          SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        ApplyDpi(WindowDpi(hwnd_));
        CentreOn(hwnd_, nullptr);
        return TRUE;  // the focus goes to the first control, Edit1
      case WM_SHOWWINDOW:
        if (wp && !shown_) {
          shown_ = true;
          presenter_.FormShow();
        }
        return FALSE;
      case WM_DPICHANGED: {
        ApplyDpi(HIWORD(wp));
        const RECT* r = reinterpret_cast<const RECT*>(lp);
        SetWindowPos(hwnd_, nullptr, r->left, r->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return TRUE;
      }
      case WM_COMMAND:
        Command(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
        return TRUE;
      case WM_CLOSE:
        DestroyWindow(hwnd_);
        return TRUE;
      case WM_DESTROY:
        if (quitOnClose_) PostQuitMessage(0);
        return FALSE;
    }
    return FALSE;
  }

  void Command(int id, int code, HWND from) {
    // Enter and Escape come without a control: the window has neither a
    // default nor a cancel button.
    if (!from) return;
    if (id == ids::ComboBox1 && code == CBN_SELCHANGE) presenter_.MonthChanged();
    if (code != BN_CLICKED) return;
    switch (id) {
      case ids::Button1: presenter_.BrowseClicked(); break;
      case ids::Button2: PostMessageW(hwnd_, WM_CLOSE, 0, 0); break;
      case ids::Button3: RunAboutDialog(hwnd_, s_.openUrl); break;
      case ids::Button4: presenter_.BuildClicked(); break;
    }
  }

  // TReportView
  void SetMonthNames(const std::vector<std::u16string>& names) override {
    SendMessageW(Item(ids::ComboBox1), CB_RESETCONTENT, 0, 0);
    for (const auto& n : names) SendMessageW(Item(ids::ComboBox1), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(n)));
  }
  void SelectMonth(int index) override { SendMessageW(Item(ids::ComboBox1), CB_SETCURSEL, index, 0); }
  int SelectedMonth() const override {
    return static_cast<int>(SendMessageW(Item(ids::ComboBox1), CB_GETCURSEL, 0, 0));
  }
  void SetPeriod(TDate start, TDate end) override {
    SYSTEMTIME a = ToSystemTime(start), b = ToSystemTime(end);
    SendMessageW(Item(ids::DateTimePicker1), DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&a));
    SendMessageW(Item(ids::DateTimePicker2), DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&b));
  }
  TDate PickerDate(int id) const {
    SYSTEMTIME st{};
    SendMessageW(Item(id), DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&st));
    return TDate{st.wYear, st.wMonth, st.wDay};
  }
  TDate PeriodStart() const override { return PickerDate(ids::DateTimePicker1); }
  TDate PeriodEnd() const override { return PickerDate(ids::DateTimePicker2); }
  std::u16string FolderText() const override { return WindowText(Item(ids::Edit1)); }
  void SetFolderText(const std::u16string& text) override { SetWindowTextW(Item(ids::Edit1), W(text)); }

  TDialogServices s_;
  bool quitOnClose_;
  bool shown_ = false;
  HWND hwnd_ = nullptr;
  TFont font_, bold_;
  TReportPresenter presenter_;
};

std::u16string BrowseForFolder(HWND owner) {
  BROWSEINFOW bi{};
  wchar_t name[MAX_PATH] = {};
  bi.hwndOwner = owner;
  bi.pidlRoot = nullptr;  // the top of the namespace, nothing preselected
  bi.pszDisplayName = name;
  bi.lpszTitle = L"Select Directory";
  bi.ulFlags = BIF_NEWDIALOGSTYLE | BIF_RETURNONLYFSDIRS | BIF_NONEWFOLDERBUTTON;
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&bi);
  if (!chosen) return {};
  std::wstring path(32768, L'\0');
  const bool ok = SHGetPathFromIDListEx(chosen, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT);
  CoTaskMemFree(chosen);
  if (!ok) return {};
  return U(path.c_str());
}

}  // namespace

std::vector<std::u16string> LocaleMonthNames() {
  std::vector<std::u16string> names;
  for (int m = 0; m < 12; ++m) {
    wchar_t buf[80] = {};
    GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SMONTHNAME1 + m, buf, static_cast<int>(std::size(buf)));
    names.push_back(U(buf));
  }
  return names;
}

TDialogServices DefaultDialogServices() {
  const TReportServices core = DefaultReportServices();
  TDialogServices s;
  s.monthNames = LocaleMonthNames;
  s.chooseFolder = BrowseForFolder;
  s.build = core.build;
  s.openFile = [](HWND owner, const std::u16string& file) {
    ShellExecuteW(owner, L"open", W(file), nullptr, nullptr, SW_SHOWNORMAL);
  };
  s.messageBox = [](HWND owner, const std::u16string& text, const std::u16string& caption, UINT type) {
    return MessageBoxW(owner, W(text), W(caption), type);
  };
  s.outputFolder = core.outputFolder;
  // A link opens its browser or mail program in a normal window: a hidden
  // one could not be seen or closed.
  s.openUrl = [](HWND owner, const std::u16string& url) {
    ShellExecuteW(owner, L"open", W(url), nullptr, nullptr, SW_SHOWNORMAL);
  };
  return s;
}

HWND CreateReportDialog(HINSTANCE instance, TDialogServices services, bool quitOnClose) {
  const std::vector<WORD> t = DialogTemplate(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                                             WS_EX_APPWINDOW, kReportWindowCaption);
  auto dialog = std::make_unique<TReportDialog>(std::move(services), quitOnClose);
  // Freed here unless the window took it.
  return CreateDialogIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(t.data()), nullptr,
                                    OwningDialogProc<TReportDialog>, reinterpret_cast<LPARAM>(&dialog));
}

int RunReportDialog(HINSTANCE instance, TDialogServices services, int showCommand) {
  HWND hwnd = CreateReportDialog(instance, std::move(services), true);
  if (!hwnd) return 1;
  ShowWindow(hwnd, showCommand);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsWindow(hwnd) && IsDialogMessageW(hwnd, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace ordana
