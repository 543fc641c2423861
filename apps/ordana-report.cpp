// ordana-report: builds the Ordana play report for a folder of Velmora play
// logs from the command line.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Arguments.h"
#include "platform/Calendar.h"
#include "platform/Console.h"
#include "platform/FileIO.h"
#include "platform/FileNames.h"
#include "platform/Opener.h"
#include "platform/ProgramFolder.h"
#include "platform/Strings.h"
#include "platform/TextCodec.h"
#include "report/BuildReport.h"
#include "report/CollectSongs.h"

namespace {

using namespace ordana;

const char kUsage[] =
    "usage: ordana-report --logs DIR (--month YYYY-MM | --from YYYY-MM-DD --to YYYY-MM-DD)\n"
    "                     [-o FILE] [--codepage NAME] [--map-path 'WIN=LOCAL']... [--open]\n"
    "                     [--problems FILE] [--strict] [-v]\n"
    "       ordana-report --help\n";

const char kHelp[] =
    "Builds the Ordana music-use report from the play logs of Velmora.\n"
    "\n"
    "Every \"*.csv\" log directly in DIR whose name begins with a date (YYYY-MM-DD...)\n"
    "inside the period is read; each distinct audio file of its play lines becomes\n"
    "one row of the report with its play count, title, artist, genre and length.\n"
    "\n"
    "Options:\n"
    "  --logs DIR         the folder of the play logs (required).\n"
    "  --month YYYY-MM    the period is that whole month.\n"
    "  --from YYYY-MM-DD  first day of the period (with --to); both days count.\n"
    "  --to YYYY-MM-DD    last day of the period (with --from).\n"
    "  -o FILE            where to write the report (default: ~~report_gen.htm in\n"
    "                     the program's own folder). An earlier report is replaced\n"
    "                     whole, and stays as it was when anything fails.\n"
    "  --codepage NAME    the code page of logs without a byte-order mark and of the\n"
    "                     report (default: the system's ANSI code page on Windows,\n"
    "                     windows-1251 elsewhere; e.g. windows-1252). The page\n"
    "                     always declares charset=win-1251.\n"
    "  --map-path 'WIN=LOCAL'\n"
    "                     reads files whose log path begins with WIN from LOCAL\n"
    "                     instead, e.g. --map-path 'N:\\Music\\=/srv/music/'. The\n"
    "                     prefix matches without regard to letter case; after the\n"
    "                     match every backslash becomes '/'. The first matching\n"
    "                     mapping wins; repeat the option for several shares. The\n"
    "                     report still shows the paths as the logs write them.\n"
    "  --open             open the written report with the desktop's browser.\n"
    "  --problems FILE    also write the rows that need attention as CSV (UTF-8 with\n"
    "                     a byte-order mark, ';' between fields, for a spreadsheet):\n"
    "                     the path as the log writes it, the plays, and what is\n"
    "                     missing (title, artist, genre, length; file not found;\n"
    "                     file cannot be read). Stream addresses are listed only\n"
    "                     when their length is missing. Mend the tags with\n"
    "                     ordana-tags and build again.\n"
    "  --strict           exit with status 3 when there is any warning.\n"
    "  -v, --verbose      list the names of the logs read in the summary.\n"
    "  --help             show this text.\n"
    "\n"
    "After a build a summary goes to standard error: the logs read, the lines and\n"
    "play lines in them, the rows, the plays, the rows without a title or without a\n"
    "length (shown as ?\?:?\?), the files not found or not readable, the stream\n"
    "addresses. Warnings go there too: no log dated in the period, or two logs of one\n"
    "date where one holds every line of the other (a copy, whose plays would count\n"
    "twice). Warnings do not change the exit status unless --strict is given.\n"
    "\n"
    "On success the path of the report is printed. On failure the error is printed\n"
    "as CLASS:MESSAGE (for example EConvertError:Invalid argument to date encode for\n"
    "a .csv name without a date, followed by a line naming that file) and the exit\n"
    "status is 1; bad arguments give 2. Control characters in names and messages are\n"
    "written out (\\x1B), never sent to the terminal.\n";

[[noreturn]] void BadArgs(const std::string& why) {
  std::cerr << "ordana-report: " << PrintableText(why) << "\n" << kUsage;
  std::exit(2);
}

void PrintSummary(const TBuildSummary& s, bool verbose) {
  auto line = [](const char* what, int64_t n, const char* after = "") {
    char buf[64];
    std::snprintf(buf, sizeof buf, "  %-22s %lld", what, static_cast<long long>(n));
    std::cerr << buf << after << "\n";
  };
  std::cerr << "ordana-report: summary\n";
  line("logs read:", static_cast<int64_t>(s.Logs.size()));
  if (verbose)
    for (const std::u16string& name : s.Logs) std::cerr << "    " << PrintableText(name) << "\n";
  line("lines:", s.Lines);
  line("play lines:", s.PlayLines);
  line("distinct rows:", s.Rows);
  line("total plays:", s.TotalPlays);
  line("rows without a title:", s.RowsWithoutTitle);
  line("rows without a length:", s.RowsWithoutLength, " (shown as ?\?:?\?)");
  line("files not found:", s.FilesNotFound);
  line("files not readable:", s.FilesNotReadable);
  line("stream addresses:", s.StreamAddresses);
  if (s.FilesProbeCouldNotMeasure > 0) line("files not measured:", s.FilesProbeCouldNotMeasure);
  for (const TBuildWarning& w : s.Warnings)
    std::cerr << "ordana-report: warning: " << PrintableText(WarningText(w)) << "\n";
  std::cerr.flush();
}

// "YYYY-MM-DD" (or "YYYY-MM" with wantDay false) as numbers; nullopt when malformed.
std::optional<TDate> ParseDay(const std::string& s, bool wantDay) {
  const size_t len = wantDay ? 10 : 7;
  if (s.size() != len || s[4] != '-' || (wantDay && s[7] != '-')) return std::nullopt;
  for (size_t i = 0; i < len; ++i)
    if (i != 4 && i != 7 && (s[i] < '0' || s[i] > '9')) return std::nullopt;
  int y = std::stoi(s.substr(0, 4)), m = std::stoi(s.substr(5, 2));
  int d = wantDay ? std::stoi(s.substr(8, 2)) : 1;
  if (!IsValidDate(y, m, d)) return std::nullopt;
  return TDate{y, m, d};
}

int Run(const std::vector<std::string>& args) {
  std::optional<std::string> logs, month, from, to, output, codepage;
  std::vector<PathMapping> mappings;
  std::optional<std::string> problems;
  bool open = false, strict = false, verbose = false;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) BadArgs(a + " needs a value");
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      std::cout << kUsage << "\n" << kHelp;
      return 0;
    } else if (a == "--logs") {
      logs = value();
    } else if (a == "--month") {
      month = value();
    } else if (a == "--from") {
      from = value();
    } else if (a == "--to") {
      to = value();
    } else if (a == "-o" || a == "--output") {
      output = value();
    } else if (a == "--codepage") {
      codepage = value();
    } else if (a == "--map-path") {
      std::string m = value();
      try {
        mappings.push_back(ParsePathMapping(Utf8ToUtf16(Utf8View(m))));
      } catch (const std::invalid_argument& e) {
        BadArgs(e.what());
      }
    } else if (a == "--open") {
      open = true;
    } else if (a == "--problems") {
      problems = value();
    } else if (a == "--strict") {
      strict = true;
    } else if (a == "-v" || a == "--verbose") {
      verbose = true;
    } else {
      BadArgs("unknown argument: " + a);
    }
  }

  if (!logs || logs->empty()) BadArgs("--logs DIR is required");
  TDate start, end;
  if (month) {
    if (from || to) BadArgs("give either --month or --from/--to, not both");
    std::optional<TDate> m = ParseDay(*month, false);
    if (!m) BadArgs("--month wants YYYY-MM, got '" + *month + "'");
    start = *m;
    end = TDate{m->Year, m->Month, DaysInMonth(m->Year, m->Month)};
  } else if (from && to) {
    std::optional<TDate> f = ParseDay(*from, true), t = ParseDay(*to, true);
    if (!f) BadArgs("--from wants YYYY-MM-DD, got '" + *from + "'");
    if (!t) BadArgs("--to wants YYYY-MM-DD, got '" + *to + "'");
    start = *f;
    end = *t;
  } else {
    BadArgs("a period is required: --month YYYY-MM, or --from and --to");
  }

  if (codepage) {
    try {
      SetAnsiCodePage(*codepage);
    } catch (const std::exception&) {
      BadArgs("unknown code page: " + *codepage);
    }
  }
  SetPathMappings(std::move(mappings));

  // Names from the command line are taken byte for byte (NameFromSystemBytes).
  const std::u16string outFile = output ? NameFromSystemBytes(*output) : ProgramFolder() + kReportFileName;
  TBuildSummary summary;
  try {
    BuildReport(NameFromSystemBytes(*logs), outFile, start, end, summary);
  } catch (const EOrdanaError& e) {
    std::cerr << PrintableText(e.ClassName() + ":" + e.Message()) << "\n";
    if (const auto* undated = dynamic_cast<const EUndatedLogError*>(&e))
      std::cerr << "ordana-report: the log \"" << PrintableText(undated->FileName)
                << "\" does not begin with a date (YYYY-MM-DD)\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "Exception:" << PrintableText(std::string(e.what())) << "\n";
    return 1;
  }
  std::cout << PrintableText(outFile) << "\n";
  std::cout.flush();
  PrintSummary(summary, verbose);
  if (problems) {
    const std::u16string problemsFile = NameFromSystemBytes(*problems);
    try {
      WriteProblemsCsv(summary.Problems, problemsFile);
    } catch (const EOrdanaError& e) {
      std::cerr << PrintableText(e.ClassName() + ":" + e.Message()) << "\n";
      return 1;
    }
  }
  if (open) OpenWithDesktop(outFile);
  return strict && !summary.Warnings.empty() ? 3 : 0;
}

}  // namespace

ORDANA_COMMAND_LINE_MAIN(Run)
