#include "report/BuildReport.h"

#include "platform/MediaProbe.h"
#include "report/CollectSongs.h"
#include "report/HtmlReport.h"

namespace ordana {

void BuildReport(const std::u16string& Folder, const std::u16string& OutputFile, TDate StartDate,
                 TDate EndDate) {
  // One media probe helper serves the whole build and ends with it.
  MediaProbeSession probe;
  // The output file is touched only once every log has been read.
  std::vector<TSongInfo> rows = CollectSongs(Folder, StartDate, EndDate);
  WriteHtmlReport(rows, OutputFile, StartDate, EndDate);
}

void BuildReport(const std::u16string& Folder, const std::u16string& OutputFile, TDate StartDate,
                 TDate EndDate, TBuildSummary& Summary) {
  Summary = TBuildSummary{};
  std::vector<TSongInfo> rows;
  {
    MediaProbeSession probe;
    rows = CollectSongs(Folder, StartDate, EndDate, &Summary);
    const MediaProbeStats stats = GetMediaProbeStats();
    Summary.FilesProbeCouldNotMeasure = stats.filesFailed + stats.filesUnmeasured;
  }
  WriteHtmlReport(rows, OutputFile, StartDate, EndDate);
}

}  // namespace ordana
