#pragma once
// THyperlinkLabel: an ordinary static text label (SS_NOTIFY) that opens URL
// when clicked (its parent hears STN_CLICKED and asks HyperlinkUrl), is
// navy and underlined, and shows the hand cursor while the mouse is over it:
// entering keeps the cursor in force as OC, leaving puts OC back.
#include <windows.h>

#include <string>

namespace ordana {

inline constexpr COLORREF kHyperlinkColour = RGB(0, 0, 128);

// Makes label a link label for url; the state goes with the label.
void AttachHyperlink(HWND label, const std::u16string& url);
bool IsHyperlink(HWND control);
std::u16string HyperlinkUrl(HWND label);

}  // namespace ordana
