// The About window: title, links (click, colour, cursor), OK on Enter and
// Escape, and its modal showing from the report window.
#include <gtest/gtest.h>

#include "WindowTestSupport.h"
#include "report/win32/AboutDialog.h"
#include "report/win32/ControlIds.h"
#include "report/win32/Win32Ui.h"

namespace ordana {
namespace {

using namespace wintest;

struct TAbout {
  std::vector<std::pair<HWND, std::u16string>> urls;
  HWND hwnd;
  TAbout() : hwnd(CreateAboutDialog(nullptr, [this](HWND o, const std::u16string& u) { urls.emplace_back(o, u); })) {
    Pump(0, hwnd);
  }
  ~TAbout() {
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
    Pump();
  }
  HWND Item(int id) const { return GetDlgItem(hwnd, id); }
};

TEST(AboutDialog, TitleLinksAndButton) {
  TAbout a;
  ASSERT_TRUE(a.hwnd);
  EXPECT_EQ(Text(a.hwnd), u"Report Generator");
  const UINT dpi = win32ui::WindowDpi(a.hwnd);
  RECT client{};
  GetClientRect(a.hwnd, &client);
  EXPECT_EQ(client.right, win32ui::Scale(406, dpi));
  EXPECT_EQ(client.bottom, win32ui::Scale(269, dpi));
  EXPECT_FALSE(GetWindowLongPtrW(a.hwnd, GWL_STYLE) & WS_THICKFRAME);

  EXPECT_EQ(Text(a.Item(ids::Label1)), u"Генератор отчетов");
  const LOGFONTW title = FontOf(a.Item(ids::Label1));
  EXPECT_STREQ(title.lfFaceName, L"Tahoma");
  EXPECT_GE(title.lfWeight, FW_BOLD);
  EXPECT_EQ(title.lfHeight, -win32ui::Scale(35, dpi)) << "35 pixels character height";

  EXPECT_EQ(Text(a.Item(ids::HyperlinkLabel1)), u"https://ordana-report.example/");
  EXPECT_EQ(Text(a.Item(ids::HyperlinkLabel2)), u"support@ordana-report.example");
  for (int id : {ids::HyperlinkLabel1, ids::HyperlinkLabel2}) {
    const LOGFONTW f = FontOf(a.Item(id));
    EXPECT_TRUE(f.lfUnderline) << id;
    EXPECT_LT(f.lfWeight, FW_BOLD) << id;
    // Navy text on a transparent background.
    HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(1, 2, 3));
    SendMessageW(a.hwnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(a.Item(id)));
    EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 128)) << id;
    EXPECT_EQ(GetBkMode(dc), TRANSPARENT) << id;
    DeleteDC(dc);
    // Its picture is 17 x 17 to its left.
    RECT pic{}, link{};
    GetWindowRect(a.Item(id == ids::HyperlinkLabel1 ? ids::Picture1 : ids::Picture2), &pic);
    GetWindowRect(a.Item(id), &link);
    EXPECT_EQ(pic.right - pic.left, win32ui::Scale(17, dpi));
    EXPECT_EQ(pic.bottom - pic.top, win32ui::Scale(17, dpi));
    EXPECT_LT(pic.right, link.left + 1);
  }
  EXPECT_EQ(Text(a.Item(IDOK)), u"OK");
  EXPECT_EQ(LOWORD(SendMessageW(a.hwnd, DM_GETDEFID, 0, 0)), IDOK);
}

TEST(AboutDialog, ClickingALinkOpensItsAddressAndTheWindowStays) {
  TAbout a;
  for (int id : {ids::HyperlinkLabel1, ids::HyperlinkLabel2}) {
    SendMessageW(a.Item(id), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    SendMessageW(a.Item(id), WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    Pump(0, a.hwnd);
  }
  ASSERT_EQ(a.urls.size(), 2u);
  EXPECT_EQ(a.urls[0].second, u"https://ordana-report.example/");
  EXPECT_EQ(a.urls[1].second, u"mailto:support@ordana-report.example?subject=Velmora");
  EXPECT_EQ(a.urls[0].first, a.hwnd);
  EXPECT_TRUE(IsWindow(a.hwnd));
}

TEST(AboutDialog, TheHandOverALinkAndTheCursorBeforeItAfterwards) {
  TAbout a;
  HWND link = a.Item(ids::HyperlinkLabel1);
  HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
  // Not the ordinary arrow before, so that putting back is seen.
  HCURSOR before = LoadCursorW(nullptr, IDC_CROSS);
  SetCursor(before);
  SendMessageW(link, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
  EXPECT_EQ(GetCursor(), hand);
  // Moving on inside keeps the hand, and asks no new cursor.
  SendMessageW(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  SendMessageW(link, WM_MOUSEMOVE, 0, MAKELPARAM(5, 2));
  EXPECT_EQ(GetCursor(), hand);
  SendMessageW(link, WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(GetCursor(), before);
  // A second visit starts from what is in force then.
  HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT);
  SetCursor(wait);
  SendMessageW(link, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
  EXPECT_EQ(GetCursor(), hand);
  SendMessageW(link, WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(GetCursor(), wait);
}

TEST(AboutDialog, EnterAndEscapePressOk) {
  for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
    TAbout a;
    MSG m{a.Item(IDOK), WM_KEYDOWN, key, 0, 0, {}};
    IsDialogMessageW(a.hwnd, &m);
    Pump(20, a.hwnd);
    EXPECT_FALSE(IsWindow(a.hwnd)) << key;
    EXPECT_TRUE(a.urls.empty());
  }
}

// What the timer saw of the About window the report window showed.
struct TSeen {
  HWND report = nullptr, about = nullptr, aboutOwner = nullptr;
  bool reportEnabled = true;
  std::u16string title;
};
TSeen* g_seen = nullptr;

BOOL CALLBACK FindAbout(HWND w, LPARAM) {
  if (Text(w) == u"Report Generator" && IsWindowVisible(w)) {
    g_seen->about = w;
    return FALSE;
  }
  return TRUE;
}

void CALLBACK LookAtAbout(HWND, UINT, UINT_PTR id, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), FindAbout, 0);
  if (!g_seen->about) return;  // not there yet
  KillTimer(nullptr, id);
  g_seen->aboutOwner = GetWindow(g_seen->about, GW_OWNER);
  g_seen->reportEnabled = IsWindowEnabled(g_seen->report);
  g_seen->title = Text(GetDlgItem(g_seen->about, ids::Label1));
  PostMessageW(g_seen->about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(g_seen->about, IDOK)));
}

TEST(AboutDialog, TheReportWindowShowsItModally) {
  TRecorded rec;
  TShownDialog d(Recording(rec, {2026, 11, 20, 8, 0}));
  TSeen seen;
  seen.report = d.hwnd();
  g_seen = &seen;
  const UINT_PTR timer = SetTimer(nullptr, 0, 30, LookAtAbout);
  ASSERT_NE(timer, 0u);
  // Returns when the About window has closed.
  Click(d.Item(ids::Button3));
  g_seen = nullptr;
  ASSERT_TRUE(seen.about) << "no About window";
  EXPECT_EQ(seen.aboutOwner, d.hwnd());
  EXPECT_FALSE(seen.reportEnabled) << "modal: the report window waits";
  EXPECT_EQ(seen.title, u"Генератор отчетов");
  EXPECT_FALSE(IsWindow(seen.about)) << "destroyed when it closes";
  EXPECT_TRUE(IsWindowEnabled(d.hwnd()));
}

}  // namespace
}  // namespace ordana
