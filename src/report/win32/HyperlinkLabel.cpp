#include "report/win32/HyperlinkLabel.h"

#include <commctrl.h>

namespace ordana {

namespace {

struct THyperlinkLabel {
  std::u16string URL;
  HCURSOR OC = nullptr;  // the cursor in force before the mouse entered
  bool inside = false;
};

constexpr UINT_PTR kSubclassId = 0x4F48;  // "OH"
// The state is found again through a window property of the label.
constexpr wchar_t kStateProperty[] = L"ordana.hyperlink";

LRESULT CALLBACK LabelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
  auto* self = reinterpret_cast<THyperlinkLabel*>(ref);
  switch (msg) {
    case WM_MOUSEMOVE: {
      const LRESULT r = DefSubclassProc(hwnd, msg, wp, lp);
      if (!self->inside) {
        self->inside = true;
        self->OC = GetCursor();
        TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, hwnd, 0};
        TrackMouseEvent(&tme);
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
      }
      return r;
    }
    case WM_SETCURSOR:
      // While the mouse is over the label the hand stays.
      if (self->inside) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_MOUSELEAVE: {
      const LRESULT r = DefSubclassProc(hwnd, msg, wp, lp);
      if (self->inside) {
        self->inside = false;
        SetCursor(self->OC);
      }
      return r;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, LabelProc, kSubclassId);
      RemovePropW(hwnd, kStateProperty);
      delete self;
      return DefSubclassProc(hwnd, msg, wp, lp);
  }
  return DefSubclassProc(hwnd, msg, wp, lp);
}

THyperlinkLabel* State(HWND control) {
  return control ? static_cast<THyperlinkLabel*>(GetPropW(control, kStateProperty)) : nullptr;
}

}  // namespace

void AttachHyperlink(HWND label, const std::u16string& url) {
  if (!label) return;
  if (THyperlinkLabel* existing = State(label)) {
    existing->URL = url;
    return;
  }
  auto* state = new THyperlinkLabel{url};
  if (!SetPropW(label, kStateProperty, state)) {
    delete state;
    return;
  }
  if (!SetWindowSubclass(label, LabelProc, kSubclassId, reinterpret_cast<DWORD_PTR>(state))) {
    RemovePropW(label, kStateProperty);
    delete state;
  }
}

bool IsHyperlink(HWND control) { return State(control) != nullptr; }

std::u16string HyperlinkUrl(HWND label) {
  const THyperlinkLabel* s = State(label);
  return s ? s->URL : std::u16string();
}

}  // namespace ordana
