#include "report/win32/AboutDialog.h"

#include <commctrl.h>

#include <memory>

#include "report/ui/AboutLinks.h"
#include "report/win32/ControlIds.h"
#include "report/win32/HyperlinkLabel.h"
#include "report/win32/Win32Ui.h"

namespace ordana {

using namespace win32ui;

namespace {

// Client area 406 x 269 at 96 DPI.
constexpr int kClientWidth = 406, kClientHeight = 269;
constexpr int kTitleHeight = 35;  // the title's character height in pixels
constexpr TControl kControls[] = {
    {IDOK, L"BUTTON", u"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, 165, 228, 75, 25},
    {ids::Label1, L"STATIC", u"Генератор отчетов", SS_LEFT | SS_NOPREFIX, 4, 16, 398, 48},
    {ids::Picture1, L"STATIC", u"", SS_OWNERDRAW, 24, 100, 17, 17},
    {ids::HyperlinkLabel1, L"STATIC", kProductWebAddress, SS_LEFT | SS_NOPREFIX | SS_NOTIFY, 48, 101, 330, 16},
    {ids::Picture2, L"STATIC", u"", SS_OWNERDRAW, 24, 130, 17, 17},
    {ids::HyperlinkLabel2, L"STATIC", kSupportMailAddress, SS_LEFT | SS_NOPREFIX | SS_NOTIFY, 48, 131, 330, 16},
};

// The pictures beside the links, 17 x 17 at 96 DPI: a globe for the web
// page, an envelope for the mail.
void DrawPicture(const DRAWITEMSTRUCT& di, UINT dpi) {
  const RECT& r = di.rcItem;
  HDC dc = di.hDC;
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  auto px = [&](int v) { return Scale(v, dpi); };
  HPEN pen = CreatePen(PS_SOLID, px(1), RGB(0, 0, 128));
  const bool mail = di.CtlID == static_cast<UINT>(ids::Picture2);
  HBRUSH fill = CreateSolidBrush(mail ? RGB(255, 250, 220) : RGB(200, 225, 255));
  HGDIOBJ oldPen = SelectObject(dc, pen), oldBrush = SelectObject(dc, fill);
  const int x = r.left, y = r.top;
  if (mail) {
    Rectangle(dc, x + px(1), y + px(4), x + px(16), y + px(14));
    MoveToEx(dc, x + px(1), y + px(4), nullptr);
    LineTo(dc, x + px(8), y + px(10));
    LineTo(dc, x + px(16), y + px(4));
  } else {
    Ellipse(dc, x + px(1), y + px(1), x + px(16), y + px(16));
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    Ellipse(dc, x + px(5), y + px(1), x + px(12), y + px(16));
    MoveToEx(dc, x + px(1), y + px(8), nullptr);
    LineTo(dc, x + px(16), y + px(8));
  }
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(fill);
  DeleteObject(pen);
}

class TAboutDialog {
 public:
  TAboutDialog(HWND owner, TShellOpener openUrl, bool modal)
      : owner_(owner), openUrl_(std::move(openUrl)), modal_(modal) {}

  void Attach(HWND hwnd) { hwnd_ = hwnd; }
  friend INT_PTR CALLBACK win32ui::OwningDialogProc<TAboutDialog>(HWND, UINT, WPARAM, LPARAM);

 private:
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

  void ApplyDpi(UINT dpi) {
    dpi_ = dpi;
    font_.Reset(MakeFont(kTahoma8, dpi));
    title_.Reset(MakeFont(kTitleHeight, dpi, true));
    link_.Reset(MakeFont(kTahoma8, dpi, false, true));
    SetFont(Item(IDOK), font_.Get());
    SetFont(Item(ids::Label1), title_.Get());
    SetFont(Item(ids::HyperlinkLabel1), link_.Get());
    SetFont(Item(ids::HyperlinkLabel2), link_.Get());
    LayOut(hwnd_, kControls, kClientWidth, kClientHeight, dpi);
  }

  void Close() {
    if (modal_)
      EndDialog(hwnd_, IDOK);
    else
      DestroyWindow(hwnd_);
  }

  INT_PTR Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case WM_INITDIALOG:
        KeepDialogDpiToMyself(hwnd_);
        CreateControls(hwnd_, kControls);
        AttachHyperlink(Item(ids::HyperlinkLabel1), kProductWebAddress);
        AttachHyperlink(Item(ids::HyperlinkLabel2), kSupportMailUrl);
        ApplyDpi(WindowDpi(hwnd_));
        CentreOn(hwnd_, owner_);
        return TRUE;  // the focus goes to OK
      case WM_DPICHANGED: {
        ApplyDpi(HIWORD(wp));
        const RECT* r = reinterpret_cast<const RECT*>(lp);
        SetWindowPos(hwnd_, nullptr, r->left, r->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return TRUE;
      }
      case WM_CTLCOLORSTATIC: {
        HWND ctl = reinterpret_cast<HWND>(lp);
        HDC dc = reinterpret_cast<HDC>(wp);
        const int id = GetDlgCtrlID(ctl);
        if (id != ids::Label1 && !IsHyperlink(ctl)) return FALSE;
        // The title and the links are transparent; the links navy.
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, IsHyperlink(ctl) ? kHyperlinkColour : GetSysColor(COLOR_BTNTEXT));
        return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
      }
      case WM_DRAWITEM:
        DrawPicture(*reinterpret_cast<const DRAWITEMSTRUCT*>(lp), dpi_);
        return TRUE;
      case WM_COMMAND: {
        const int id = LOWORD(wp), code = HIWORD(wp);
        HWND ctl = reinterpret_cast<HWND>(lp);
        // Enter and Escape both press OK.
        if (id == IDOK || id == IDCANCEL) {
          Close();
        } else if (code == STN_CLICKED && IsHyperlink(ctl)) {
          // The window stays open.
          if (openUrl_) openUrl_(hwnd_, HyperlinkUrl(ctl));
        }
        return TRUE;
      }
      case WM_CLOSE:
        Close();
        return TRUE;
    }
    return FALSE;
  }

  HWND owner_;
  TShellOpener openUrl_;
  bool modal_;
  HWND hwnd_ = nullptr;
  UINT dpi_ = 96;
  TFont font_, title_, link_;
};

std::vector<WORD> AboutTemplate() {
  return DialogTemplate(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, kAboutWindowCaption);
}

}  // namespace

INT_PTR RunAboutDialog(HWND owner, TShellOpener openUrl) {
  const std::vector<WORD> t = AboutTemplate();
  auto dialog = std::make_unique<TAboutDialog>(owner, std::move(openUrl), true);
  HINSTANCE inst = owner ? reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE))
                         : GetModuleHandleW(nullptr);
  return DialogBoxIndirectParamW(inst, reinterpret_cast<LPCDLGTEMPLATEW>(t.data()), owner,
                                 OwningDialogProc<TAboutDialog>, reinterpret_cast<LPARAM>(&dialog));
}

HWND CreateAboutDialog(HWND owner, TShellOpener openUrl) {
  const std::vector<WORD> t = AboutTemplate();
  auto dialog = std::make_unique<TAboutDialog>(owner, std::move(openUrl), false);
  HINSTANCE inst = owner ? reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE))
                         : GetModuleHandleW(nullptr);
  HWND hwnd = CreateDialogIndirectParamW(inst, reinterpret_cast<LPCDLGTEMPLATEW>(t.data()), owner,
                                         OwningDialogProc<TAboutDialog>, reinterpret_cast<LPARAM>(&dialog));
  if (hwnd) ShowWindow(hwnd, SW_SHOW);
  return hwnd;
}

}  // namespace ordana
