// The report window as the user meets it: its controls found by their
// identifiers, texts, layout, tab order, the period for a given clock, the
// build, the error box and the folder choice, through recording services.
#include <gtest/gtest.h>

#include <stdexcept>

#include "WindowTestSupport.h"
// After windows.h
#include <commctrl.h>
#include "platform/FileIO.h"
#include "report/win32/ControlIds.h"
#include "report/win32/Win32Ui.h"

namespace ordana {
namespace {

using namespace wintest;

std::u16string ClassOf(HWND w) {
  wchar_t name[64] = {};
  GetClassNameW(w, name, 64);
  return win32ui::U(name);
}

RECT ClientRectIn(HWND control, HWND dialog) {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

TEST(ReportDialog, ControlsTextsAndWindow) {
  TRecorded rec;
  TShownDialog d(Recording(rec, {2026, 3, 5, 12, 0}));
  ASSERT_TRUE(d.hwnd());
  EXPECT_EQ(Text(d.hwnd()), u"Ordana Report Generator - генератор отчетов для Ordana");
  const UINT dpi = win32ui::WindowDpi(d.hwnd());
  RECT client{};
  GetClientRect(d.hwnd(), &client);
  EXPECT_EQ(client.right, win32ui::Scale(444, dpi));
  EXPECT_EQ(client.bottom, win32ui::Scale(167, dpi));
  const LONG_PTR style = GetWindowLongPtrW(d.hwnd(), GWL_STYLE);
  EXPECT_FALSE(style & WS_THICKFRAME) << "fixed size";
  EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_MINIMIZEBOX));
  EXPECT_TRUE(GetWindowLongPtrW(d.hwnd(), GWL_EXSTYLE) & WS_EX_APPWINDOW) << "on the taskbar";

  const struct {
    int id;
    const char16_t* cls;
    const char16_t* text;
  } expected[] = {
      {ids::FolderLabel, u"Static", u"Путь к папке с отчетами Velmora:"},
      {ids::Edit1, u"Edit", u"N:\\Output\\Project\\Report"},
      {ids::Button1, u"Button", u"..."},
      {ids::MonthLabel, u"Static", u"Месяц:"},
      {ids::ComboBox1, u"ComboBox", nullptr},
      {ids::FromLabel, u"Static", u"Период от:"},
      {ids::DateTimePicker1, u"SysDateTimePick32", nullptr},
      {ids::ToLabel, u"Static", u"до"},
      {ids::DateTimePicker2, u"SysDateTimePick32", nullptr},
      {ids::Button3, u"Button", u"О программе..."},
      {ids::Button2, u"Button", u"Закрыть"},
      {ids::Button4, u"Button", u"Создать отчет"},
      {ids::FormatLabel, u"Static", u"Формат отчета:"},
      {ids::RadioButton1, u"Button", u"HTML"},
  };
  for (const auto& e : expected) {
    HWND c = d.Item(e.id);
    ASSERT_TRUE(c) << e.id;
    EXPECT_TRUE(_wcsicmp(win32ui::W(ClassOf(c)), win32ui::W(e.cls)) == 0) << e.id;
    if (e.text) {
      EXPECT_EQ(Text(c), e.text) << e.id;
    }
    const LOGFONTW f = FontOf(c);
    EXPECT_STREQ(f.lfFaceName, L"Tahoma") << e.id;
    EXPECT_EQ(f.lfHeight, -win32ui::Scale(11, dpi)) << e.id << ": Tahoma 8 point";
    EXPECT_EQ(f.lfWeight >= FW_BOLD, e.id == ids::Button4) << e.id << ": only the build button is bold";
    // Every text fits its control.
    if (e.text && e.id != ids::Edit1) {
      HDC dc = GetDC(c);
      HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0)));
      SIZE sz{};
      GetTextExtentPoint32W(dc, win32ui::W(e.text), static_cast<int>(std::char_traits<char16_t>::length(e.text)), &sz);
      SelectObject(dc, old);
      ReleaseDC(c, dc);
      RECT r{};
      GetClientRect(c, &r);
      const int room = e.id == ids::RadioButton1 ? r.right - win32ui::Scale(18, dpi) : r.right;
      EXPECT_LE(sz.cx, room) << e.id << " clips its text";
    }
    const RECT r = ClientRectIn(c, d.hwnd());
    EXPECT_GE(r.left, 0) << e.id;
    EXPECT_LE(r.right, client.right) << e.id;
    if (e.id != ids::ComboBox1) {
      EXPECT_LE(r.bottom, client.bottom) << e.id;
    }
  }
  // The drop-down list takes no free text.
  EXPECT_EQ(GetWindowLongPtrW(d.Item(ids::ComboBox1), GWL_STYLE) & 3, CBS_DROPDOWNLIST);
  // The only report format: selected, not to be changed.
  EXPECT_EQ(SendMessageW(d.Item(ids::RadioButton1), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_FALSE(IsWindowEnabled(d.Item(ids::RadioButton1)));

  // The layout: the folder field 317 wide with the 26 wide button to its
  // right, the three buttons along the bottom, the build button on the left.
  const RECT edit = ClientRectIn(d.Item(ids::Edit1), d.hwnd());
  const RECT browse = ClientRectIn(d.Item(ids::Button1), d.hwnd());
  EXPECT_EQ(edit.right - edit.left, win32ui::Scale(317, dpi));
  EXPECT_EQ(browse.right - browse.left, win32ui::Scale(26, dpi));
  EXPECT_GT(browse.left, edit.right - 1);
  EXPECT_EQ(browse.top, edit.top);
  const RECT b4 = ClientRectIn(d.Item(ids::Button4), d.hwnd());
  const RECT b3 = ClientRectIn(d.Item(ids::Button3), d.hwnd());
  const RECT b2 = ClientRectIn(d.Item(ids::Button2), d.hwnd());
  EXPECT_LT(b4.right, b3.left);
  EXPECT_LT(b3.right, b2.left);
  EXPECT_EQ(b4.top, b3.top);
  EXPECT_EQ(b3.top, b2.top);
  EXPECT_GT(b4.top, ClientRectIn(d.Item(ids::RadioButton1), d.hwnd()).bottom - 1);
}

TEST(ReportDialog, TabOrder) {
  TRecorded rec;
  TShownDialog d(Recording(rec, {2026, 3, 5, 12, 0}));
  // The tab stops in window order: the order Tab walks through.
  std::vector<int> stops;
  for (HWND c = GetWindow(d.hwnd(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if (GetWindowLongPtrW(c, GWL_STYLE) & WS_TABSTOP) stops.push_back(GetDlgCtrlID(c));
  const std::vector<int> order = {ids::Edit1,  ids::Button1, ids::ComboBox1, ids::DateTimePicker1,
                                  ids::DateTimePicker2, ids::Button3, ids::Button2, ids::Button4,
                                  ids::RadioButton1};
  EXPECT_EQ(stops, order);
  // The dialog manager walks them so, skipping the disabled radio button.
  HWND at = d.Item(ids::Edit1);
  for (size_t i = 1; i < order.size() - 1; ++i) {
    at = GetNextDlgTabItem(d.hwnd(), at, FALSE);
    EXPECT_EQ(GetDlgCtrlID(at), order[i]) << i;
  }
  EXPECT_EQ(GetDlgCtrlID(GetNextDlgTabItem(d.hwnd(), at, FALSE)), ids::Edit1);
}

struct TPeriod {
  int month;
  TDate start, end;
};
TPeriod Shown(TUtcNow now) {
  TRecorded rec;
  TShownDialog d(Recording(rec, now));
  return {static_cast<int>(SendMessageW(d.Item(ids::ComboBox1), CB_GETCURSEL, 0, 0)),
          PickerDate(d.Item(ids::DateTimePicker1)), PickerDate(d.Item(ids::DateTimePicker2))};
}

TEST(ReportDialog, PeriodOfTheCurrentMonthInEveryMonthOfALeapYear) {
  const int last[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int m = 1; m <= 12; ++m) {
    const TPeriod p = Shown({2028, m, 15, 10, 0});
    EXPECT_EQ(p.month, m - 1) << m;
    EXPECT_EQ(p.start, (TDate{2028, m, 1})) << m;
    EXPECT_EQ(p.end, (TDate{2028, m, last[m - 1]})) << m;
  }
  // The last minute of the year, and the first.
  TPeriod p = Shown({2026, 12, 31, 23, 59});
  EXPECT_EQ(p.month, 11);
  EXPECT_EQ(p.start, (TDate{2026, 12, 1}));
  EXPECT_EQ(p.end, (TDate{2026, 12, 31}));
  p = Shown({2027, 1, 1, 0, 0});
  EXPECT_EQ(p.month, 0);
  EXPECT_EQ(p.end, (TDate{2027, 1, 31}));
  // 21:30 UTC on 31 January is already 1 February three hours east: the
  // window goes by UTC.
  p = Shown({2026, 1, 31, 21, 30});
  EXPECT_EQ(p.month, 0);
  EXPECT_EQ(p.start, (TDate{2026, 1, 1}));
  EXPECT_EQ(p.end, (TDate{2026, 1, 31}));
}

TEST(ReportDialog, ChoosingAMonthUsesTheClocksYearNotThePickers) {
  TRecorded rec;
  TShownDialog d(Recording(rec, {2028, 7, 4, 9, 0}));
  ASSERT_EQ(SendMessageW(d.Item(ids::ComboBox1), CB_GETCOUNT, 0, 0), 12);
  EXPECT_EQ(Text(d.Item(ids::ComboBox1)), u"Месяц G");
  SetPickerDate(d.Item(ids::DateTimePicker1), {1999, 3, 3});
  SetPickerDate(d.Item(ids::DateTimePicker2), {2031, 4, 4});
  ChooseMonth(d.hwnd(), 1);
  EXPECT_EQ(PickerDate(d.Item(ids::DateTimePicker1)), (TDate{2028, 2, 1}));
  EXPECT_EQ(PickerDate(d.Item(ids::DateTimePicker2)), (TDate{2028, 2, 29}));
  ChooseMonth(d.hwnd(), 11);
  EXPECT_EQ(PickerDate(d.Item(ids::DateTimePicker1)), (TDate{2028, 12, 1}));
  EXPECT_EQ(PickerDate(d.Item(ids::DateTimePicker2)), (TDate{2028, 12, 31}));
  // Changing the pickers by hand leaves the month as it is.
  SetPickerDate(d.Item(ids::DateTimePicker1), {2028, 5, 5});
  EXPECT_EQ(SendMessageW(d.Item(ids::ComboBox1), CB_GETCURSEL, 0, 0), 11);
}

TEST(ReportDialog, TheLocaleGivesTwelveMonthNames) {
  const std::vector<std::u16string> names = LocaleMonthNames();
  ASSERT_EQ(names.size(), 12u);
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_FALSE(names[i].empty()) << i;
    for (size_t j = 0; j < i; ++j) EXPECT_NE(names[i], names[j]) << i << " " << j;
  }
}

TEST(ReportDialog, BuildTakesTheFieldsAsTheyStandAndOpensTheReport) {
  TRecorded rec;
  TShownDialog d(Recording(rec, {2026, 11, 20, 8, 0}));
  SetWindowTextW(d.Item(ids::Edit1), L"  D:\\Velmora\\Logs ");
  // An inverted period is built as it stands.
  SetPickerDate(d.Item(ids::DateTimePicker1), {2026, 11, 30});
  SetPickerDate(d.Item(ids::DateTimePicker2), {2026, 11, 2});
  Click(d.Item(ids::Button4));
  ASSERT_EQ(rec.builds.size(), 1u);
  EXPECT_EQ(rec.builds[0].folder, u"  D:\\Velmora\\Logs ");
  EXPECT_EQ(rec.builds[0].output, u"C:\\prog\\~~report_gen.htm");
  EXPECT_EQ(rec.builds[0].start, (TDate{2026, 11, 30}));
  EXPECT_EQ(rec.builds[0].end, (TDate{2026, 11, 2}));
  ASSERT_EQ(rec.opened.size(), 1u);
  EXPECT_EQ(rec.opened[0].first, d.hwnd());
  EXPECT_EQ(rec.opened[0].second, u"C:\\prog\\~~report_gen.htm");
  EXPECT_TRUE(rec.boxes.empty());
  EXPECT_TRUE(IsWindow(d.hwnd()));
}

TEST(ReportDialog, AFailedBuildShowsTheErrorBoxAndOpensNothing) {
  TRecorded rec;
  TDialogServices s = Recording(rec, {2026, 11, 20, 8, 0});
  int calls = 0;
  s.build = [&calls](const std::u16string&, const std::u16string&, TDate, TDate) {
    if (++calls == 1) throw EFOpenError("Cannot open file \"D:\\logs\\2026-11-03.csv\". Access is denied");
    throw std::runtime_error("out of luck");
  };
  TShownDialog d(std::move(s));
  SetWindowTextW(d.Item(ids::Edit1), L"D:\\logs");
  Click(d.Item(ids::Button4));
  ASSERT_EQ(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes[0].owner, d.hwnd());
  EXPECT_EQ(rec.boxes[0].caption, u"Error");
  EXPECT_EQ(rec.boxes[0].text,
            u"Ошибка при создании отчета! \r\nEFOpenError:Cannot open file \"D:\\logs\\2026-11-03.csv\". Access is denied");
  EXPECT_EQ(rec.boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
  EXPECT_TRUE(rec.opened.empty());
  // The window keeps its values and can try again.
  EXPECT_EQ(Text(d.Item(ids::Edit1)), u"D:\\logs");
  EXPECT_EQ(PickerDate(d.Item(ids::DateTimePicker1)), (TDate{2026, 11, 1}));
  Click(d.Item(ids::Button4));
  ASSERT_EQ(rec.boxes.size(), 2u);
  EXPECT_EQ(rec.boxes[1].text, u"Ошибка при создании отчета! \r\nException:out of luck");
  EXPECT_TRUE(rec.opened.empty());
}

TEST(ReportDialog, TheFolderButtonPutsTheChoiceOrNothingIntoTheField) {
  TRecorded rec;
  TShownDialog d(Recording(rec, {2026, 11, 20, 8, 0}));
  rec.folderChoice = u"C:\\Velmora\\Отчеты";
  Click(d.Item(ids::Button1));
  EXPECT_EQ(Text(d.Item(ids::Edit1)), u"C:\\Velmora\\Отчеты");
  rec.folderChoice.reset();  // cancelled
  Click(d.Item(ids::Button1));
  EXPECT_EQ(Text(d.Item(ids::Edit1)), u"");
  ASSERT_EQ(rec.folderOwners.size(), 2u);
  EXPECT_EQ(rec.folderOwners[0], d.hwnd());
}

TEST(ReportDialog, OnlyTheCloseButtonClosesIt) {
  TRecorded rec;
  TShownDialog d(Recording(rec, {2026, 11, 20, 8, 0}));
  // Enter and Escape: the window has no default or cancel button.
  SetFocus(d.Item(ids::Edit1));
  for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
    MSG m{d.Item(ids::Edit1), WM_KEYDOWN, key, 0, 0, {}};
    IsDialogMessageW(d.hwnd(), &m);
    Pump(20, d.hwnd());
    EXPECT_TRUE(IsWindow(d.hwnd())) << key;
  }
  EXPECT_TRUE(rec.builds.empty());
  Click(d.Item(ids::Button2));
  Pump(20, d.hwnd());
  EXPECT_FALSE(IsWindow(d.hwnd()));
}

}  // namespace
}  // namespace ordana
