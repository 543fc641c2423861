#pragma once
// The report page: a nine-column table in the layout of Ordana's music-use
// form, one row per distinct audio file, encoded in the ANSI code page.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Calendar.h"
#include "report/SongInfo.h"

namespace ordana {

// The whole page as text (no line breaks).
std::u16string ComposeHtmlReport(const std::vector<TSongInfo>& rows, TDate StartDate, TDate EndDate);

// Writes the page to OutputFile, replacing its content whole, through the
// save layer: the file (a link's target) keeps its links, owner and
// attributes; in a folder the user may not write it is written in place with
// the previous report kept in a journal until the new one is on disk. Throws
// EFOpenError when an existing OutputFile cannot be opened for writing
// (read-only, busy), EFCreateError when it cannot be created, EWriteError
// when writing fails; in every case the earlier file stays as it was.
void WriteHtmlReport(const std::vector<TSongInfo>& rows, const std::u16string& OutputFile,
                     TDate StartDate, TDate EndDate);

// "mm:ss" with at least two digits each ("125:30"); "??:??" for 0.
std::u16string FormatPlayTime(int64_t ms);

// The text with & < > " ' written as entities and every code unit that XML
// does not allow (IsValidXmlChar) dropped.
std::u16string EscapeXmlText(std::u16string_view text);

// U+0009, U+000A, U+000D, U+0020..U+D7FF and U+E000..U+FFFD.
bool IsValidXmlChar(char16_t c);

}  // namespace ordana
