// ordana-report: builds the Ordana play report for a folder of Velmora play
// logs from the command line.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Calendar.h"
#include "platform/FileIO.h"
#include "platform/ProgramFolder.h"
#include "platform/Strings.h"
#include "platform/TextCodec.h"
#include "report/BuildReport.h"

namespace {

using namespace ordana;

const char kUsage[] =
    "usage: ordana-report --logs DIR (--month YYYY-MM | --from YYYY-MM-DD --to YYYY-MM-DD)\n"
    "                     [-o FILE] [--codepage NAME] [--map-path 'WIN=LOCAL']... [--open]\n"
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
    "                     report (default windows-1251; e.g. windows-1252). The page\n"
    "                     always declares charset=win-1251.\n"
    "  --map-path 'WIN=LOCAL'\n"
    "                     reads files whose log path begins with WIN from LOCAL\n"
    "                     instead, e.g. --map-path 'N:\\Music\\=/srv/music/'. The\n"
    "                     prefix matches without regard to letter case; after the\n"
    "                     match every backslash becomes '/'. The first matching\n"
    "                     mapping wins; repeat the option for several shares. The\n"
    "                     report still shows the paths as the logs write them.\n"
    "  --open             open the written report with xdg-open.\n"
    "  --help             show this text.\n"
    "\n"
    "On success the path of the report is printed. On failure the error is printed\n"
    "as CLASS:MESSAGE (for example EConvertError:Invalid argument to date encode for\n"
    "a .csv name without a date) and the exit status is 1; bad arguments give 2.\n";

[[noreturn]] void BadArgs(const std::string& why) {
  std::cerr << "ordana-report: " << why << "\n" << kUsage;
  std::exit(2);
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

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::optional<std::string> logs, month, from, to, output, codepage;
  std::vector<PathMapping> mappings;
  bool open = false;

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
        mappings.push_back(ParsePathMapping(Utf8ToUtf16(m)));
      } catch (const std::invalid_argument& e) {
        BadArgs(e.what());
      }
    } else if (a == "--open") {
      open = true;
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

  const std::u16string outFile = output ? Utf8ToUtf16(*output) : ProgramFolder() + kReportFileName;
  try {
    BuildReport(Utf8ToUtf16(*logs), outFile, start, end);
  } catch (const EOrdanaError& e) {
    std::cerr << e.ClassName() << ":" << e.Message() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "Exception:" << e.what() << "\n";
    return 1;
  }
  std::cout << Utf16ToUtf8(outFile) << "\n";
  if (open) {
    std::string cmd = "xdg-open '";
    for (char c : Utf16ToUtf8(outFile)) cmd += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    cmd += "' >/dev/null 2>&1";
    int rc = std::system(cmd.c_str());
    (void)rc;
  }
  return 0;
}
