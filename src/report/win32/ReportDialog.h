#pragma once
// The report window on Windows: a native dialog over TReportPresenter. The
// dialog shows what the presenter decides and forwards the user's actions to
// it; the services behind it can be replaced for tests.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Calendar.h"
#include "platform/Clock.h"

namespace ordana {

// Opens an address or a file with the shell.
using TShellOpener = std::function<void(HWND owner, const std::u16string& target)>;

struct TDialogServices {
  std::shared_ptr<const Clock> clock = std::make_shared<SystemClock>();
  // The twelve long month names of the user's locale, January first.
  std::function<std::vector<std::u16string>()> monthNames;
  // The folder selection dialog: the chosen folder, or an empty text.
  std::function<std::u16string(HWND owner)> chooseFolder;
  // BuildReport (folder as typed, output file, first and last day).
  std::function<void(const std::u16string&, const std::u16string&, TDate, TDate)> build;
  // Opens the finished report ("open", shown normally).
  TShellOpener openFile;
  // MessageBoxW: owner, text, caption, type.
  std::function<int(HWND, const std::u16string&, const std::u16string&, UINT)> messageBox;
  // The folder the report is written to, with a trailing delimiter.
  std::function<std::u16string()> outputFolder;
  // The About window's link labels.
  TShellOpener openUrl;
};

// The real ones: the locale, SHBrowseForFolderW, BuildReport, ShellExecuteW,
// MessageBoxW and the program's folder.
TDialogServices DefaultDialogServices();

// The locale's long month names (LOCALE_SMONTHNAME1..12).
std::vector<std::u16string> LocaleMonthNames();

// Creates the report window, hidden; it fills its month list and period when
// it is first shown. quitOnClose: closing it ends the message loop (the
// program's main window). The window frees everything it holds when it is
// destroyed. Null on failure.
HWND CreateReportDialog(HINSTANCE instance, TDialogServices services, bool quitOnClose);

// The program: the report window as main window, shown with showCommand,
// and the message loop until it closes. Returns the loop's exit code.
int RunReportDialog(HINSTANCE instance, TDialogServices services, int showCommand);

// The caption of the report window (used to find it).
inline constexpr char16_t kReportWindowCaption[] =
    u"Ordana Report Generator - генератор отчетов для Ordana";

}  // namespace ordana
