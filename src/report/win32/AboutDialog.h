#pragma once
// The About window on Windows: the title, the two link labels with their
// pictures and the OK button (Enter and Escape press it).
#include <windows.h>

#include "report/win32/ReportDialog.h"

namespace ordana {

inline constexpr char16_t kAboutWindowCaption[] = u"Report Generator";

// Shows the About window modally, owned by owner, until it closes; IDOK.
INT_PTR RunAboutDialog(HWND owner, TShellOpener openUrl);

// The same window without a modal loop of its own, shown (for tests and
// screenshots); OK destroys it.
HWND CreateAboutDialog(HWND owner, TShellOpener openUrl);

}  // namespace ordana
