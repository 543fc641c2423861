#include "report/BuildReport.h"

#include "report/CollectSongs.h"
#include "report/HtmlReport.h"

namespace ordana {

void BuildReport(const std::u16string& Folder, const std::u16string& OutputFile, TDate StartDate,
                 TDate EndDate) {
  // The output file is touched only once every log has been read.
  std::vector<TSongInfo> rows = CollectSongs(Folder, StartDate, EndDate);
  WriteHtmlReport(rows, OutputFile, StartDate, EndDate);
}

void BuildReport(const std::u16string& Folder, const std::u16string& OutputFile, TDate StartDate,
                 TDate EndDate, TBuildSummary& Summary) {
  Summary = TBuildSummary{};
  std::vector<TSongInfo> rows = CollectSongs(Folder, StartDate, EndDate, &Summary);
  WriteHtmlReport(rows, OutputFile, StartDate, EndDate);
}

}  // namespace ordana
