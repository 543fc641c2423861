#pragma once
// BuildReport: CollectSongs for the period, then WriteHtmlReport.
#include <string>

#include "platform/Calendar.h"
#include "report/BuildSummary.h"

namespace ordana {

// The name of the report file in the program's folder.
inline constexpr char16_t kReportFileName[] = u"~~report_gen.htm";

// Raises EOrdanaError (EConvertError, EFOpenError, EFCreateError,
// EWriteError) on failure; the previous report is then left as it was.
void BuildReport(const std::u16string& Folder, const std::u16string& OutputFile, TDate StartDate,
                 TDate EndDate);
// The same, and Summary filled with what the build read and what the page
// misses (complete only when the build succeeds).
void BuildReport(const std::u16string& Folder, const std::u16string& OutputFile, TDate StartDate,
                 TDate EndDate, TBuildSummary& Summary);

}  // namespace ordana
