// ordana-report-taglib: the month's report the way a TagLib-based tool would
// build it, for comparing speed with ordana-report side by side. The logs are
// collected and counted by the same code as ordana-report and the page is the
// same HTML writer's; only the tags and lengths come from TagLib's FileRef
// (one file at a time, no read-ahead). Benchmarks only.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "platform/Calendar.h"
#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "report/CollectSongs.h"
#include "report/HtmlReport.h"
#include "taglib/TagLibTrack.h"

namespace {

using namespace ordana;

const char kHelp[] =
    "usage: ordana-report-taglib --logs DIR --month YYYY-MM -o FILE [--codepage NAME]\n"
    "                            [--map-path 'WIN=LOCAL']...\n"
    "Builds the report of ordana-report for the month, reading tags and lengths\n"
    "with TagLib instead of the system's own readers (a benchmark baseline).\n";

[[noreturn]] void Usage(const std::string& why) {
  std::cerr << "ordana-report-taglib: " << why << "\n" << kHelp;
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::string logs, month, output, codepage;
  std::vector<PathMapping> mappings;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kHelp;
      return 0;
    }
    if (i + 1 >= argc) Usage(a == "--logs" || a == "--month" || a == "-o" || a == "--codepage" ||
                                     a == "--map-path"
                                 ? a + " needs a value"
                                 : "unknown argument: " + a);
    const std::string v = argv[++i];
    if (a == "--logs") logs = v;
    else if (a == "--month") month = v;
    else if (a == "-o") output = v;
    else if (a == "--codepage") codepage = v;
    else if (a == "--map-path") mappings.push_back(ParsePathMapping(Utf8ToUtf16(Utf8View(v))));
    else Usage("unknown argument: " + a);
  }
  int year = 0, mon = 0;
  if (logs.empty() || output.empty() || std::sscanf(month.c_str(), "%4d-%2d", &year, &mon) != 2 ||
      !IsValidDate(year, mon, 1))
    Usage("--logs, --month YYYY-MM and -o are required");
  if (!codepage.empty()) SetAnsiCodePage(codepage);
  SetPathMappings(std::move(mappings));

  const TDate start{year, mon, 1}, end{year, mon, DaysInMonth(year, mon)};
  try {
    std::vector<TSongInfo> rows = CountPlays(Utf8ToUtf16(Utf8View(logs)), start, end);
    for (TSongInfo& row : rows) bench::ReadWithTagLib(row.FN, row.T, row.Len);
    WriteHtmlReport(rows, Utf8ToUtf16(Utf8View(output)), start, end);
  } catch (const EOrdanaError& e) {
    std::cerr << e.ClassName() << ":" << e.Message() << "\n";
    return 1;
  }
  std::cout << output << "\n";
  return 0;
}
