#pragma once
// Helpers of the native window's tests: paths of the build, messages pumped,
// and a report window over recording services.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/Calendar.h"
#include "platform/Clock.h"
#include "report/win32/ReportDialog.h"

namespace ordana::wintest {

// A path of the build machine as this program sees it: "/a/b" (a Linux
// build run under Wine) becomes "Z:\a\b"; '/' becomes '\' in any case.
std::u16string HostPath(const std::string& path);

// Handles the messages waiting for this thread (with the dialog manager for
// dialog), for at least ms milliseconds.
void Pump(int ms = 0, HWND dialog = nullptr);

// What the recording services saw.
struct TRecorded {
  struct Build {
    std::u16string folder, output;
    TDate start, end;
  };
  std::vector<Build> builds;
  std::vector<std::pair<HWND, std::u16string>> opened, urls;
  struct Box {
    HWND owner;
    std::u16string text, caption;
    UINT type;
  };
  std::vector<Box> boxes;
  std::vector<HWND> folderOwners;
  std::optional<std::u16string> folderChoice;  // empty optional: cancelled
};

inline constexpr char16_t kTestOutputFolder[] = u"C:\\prog\\";

// Services that record instead of acting; build records and returns unless
// replaced.
TDialogServices Recording(TRecorded& r, TUtcNow now);

// A report window over services, shown without activation and filled (its
// month list and period); destroyed with the object.
class TShownDialog {
 public:
  explicit TShownDialog(TDialogServices s);
  ~TShownDialog();
  TShownDialog(const TShownDialog&) = delete;
  TShownDialog& operator=(const TShownDialog&) = delete;
  HWND hwnd() const { return hwnd_; }
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

 private:
  HWND hwnd_;
};

std::u16string Text(HWND window);
TDate PickerDate(HWND picker);
void SetPickerDate(HWND picker, TDate d);
// What the user does: a click on a button, a month chosen in the list.
void Click(HWND button);
void ChooseMonth(HWND dialog, int index);
// The control's font.
LOGFONTW FontOf(HWND control);

}  // namespace ordana::wintest
