#include <gtest/gtest.h>

#include <filesystem>

#include "support/MediaFixtures.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::PathText;
using test::ReadBytes;
using test::ShellQuote;
using test::TempDir;
using test::WriteBytes;
using Args = std::vector<std::string>;

const std::string kProgram = test::BuiltProgram("apps/ordana-report");

// Runs the program; its standard output and error go to *out.
int Report(const Args& args, std::string* out = nullptr) { return test::RunProgram(kProgram, args, out); }

Args operator+(Args a, const Args& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// "--map-path" with a Windows prefix standing for a local folder.
Args MapTo(const std::string& windowsPrefix, const TempDir& dir) {
  return {"--map-path", windowsPrefix + "=" + PathText(dir.path() / "")};
}

TEST(ReportCli, HelpAndBadArguments) {
  std::string out;
  EXPECT_EQ(Report({"--help"}, &out), 0);
  for (const char* opt : {"--logs", "--month", "--from", "--to", "-o", "--codepage", "--map-path", "--open",
                          "--problems", "--strict", "--verbose", "summary"})
    EXPECT_NE(out.find(opt), std::string::npos) << opt;
  EXPECT_NE(out.find("backslash"), std::string::npos);

  EXPECT_EQ(Report({}, &out), 2);
  EXPECT_NE(out.find("usage:"), std::string::npos);
  TempDir dir;
  const Args logs{"--logs", PathText(dir.path())};
  EXPECT_EQ(Report(logs + Args{"--month", "2026-13"}), 2);
  EXPECT_EQ(Report(logs + Args{"--month", "2026-11", "--from", "2026-11-01", "--to", "2026-11-02"}), 2);
  EXPECT_EQ(Report(logs + Args{"--from", "2026-11-01"}), 2);
  EXPECT_EQ(Report(logs + Args{"--from", "2026-02-30", "--to", "2026-03-01"}), 2);
  EXPECT_EQ(Report(logs + Args{"--month", "2026-11", "--codepage", "no-such-codepage"}), 2);
  EXPECT_EQ(Report(logs + Args{"--month", "2026-11", "--map-path", "nomapping"}), 2);
  EXPECT_EQ(Report(logs + Args{"--month", "2026-11", "--bogus"}), 2);
}

TEST(ReportCli, WritesTheReportAndReportsErrors) {
  TempDir logs, out;
  WriteBytes(logs.File("2026-11-01.csv"), "08:00;;3:30;N:\\Music\\a.mp3\r\n08:04;;3:30;N:\\Music\\b.mp3\r\n");
  WriteBytes(logs.File("2026-11-30.csv"), "08:00;;3:30;N:\\Music\\a.mp3\r\n");
  WriteBytes(logs.File("2026-12-01.csv"), "08:00;;3:30;N:\\Music\\c.mp3\r\n");
  const std::string report = out.File("r.htm");
  std::string text;
  ASSERT_EQ(Report(Args{"--logs", PathText(logs.path()), "--month", "2026-11", "-o", report} +
                       MapTo("N:\\Music\\", out),
                   &text),
            0)
      << text;
  EXPECT_NE(text.find(report), std::string::npos);
  const std::string page = ReadBytes(report);
  EXPECT_NE(page.find("<td>?\?:?\?</td><td>2</td>"), std::string::npos);
  EXPECT_NE(page.find("<td>?\?:?\?</td><td>1</td>"), std::string::npos);
  size_t rows = 0;
  for (size_t p = page.find("<tr><td>01.11.2026 - 30.11.2026"); p != std::string::npos;
       p = page.find("<tr><td>01.11.2026 - 30.11.2026", p + 1))
    ++rows;
  EXPECT_EQ(rows, 2u);

  // --from/--to selects days; the earlier report is replaced.
  ASSERT_EQ(Report({"--logs", PathText(logs.path()), "--from", "2026-11-30", "--to", "2026-12-01", "-o", report}),
            0);
  EXPECT_NE(ReadBytes(report).find("<tr><td>30.11.2026 - 01.12.2026"), std::string::npos);

  // An undated log: the error's class and message, exit status 1, and the
  // report stays as it was.
  const std::string before = ReadBytes(report);
  WriteBytes(logs.File("list.csv"), "");
  text.clear();
  EXPECT_EQ(Report({"--logs", PathText(logs.path()), "--month", "2026-11", "-o", report}, &text), 1);
  // The Part's text stays the first line; the second names the file.
  EXPECT_EQ(text, "EConvertError:Invalid argument to date encode\nordana-report: the log \"" +
                      logs.File("list.csv") + "\" does not begin with a date (YYYY-MM-DD)\n");
  EXPECT_EQ(ReadBytes(report), before);
}

// Runs the program with standard output and standard error kept apart.
int RunApart(const Args& args, std::string* out, std::string* err) {
  out->clear();
  err->clear();
  return test::RunProgram(kProgram, args, out, err);
}

TEST(ReportCli, SummaryProblemsAndWarnings) {
  TempDir logs, out;
  WriteBytes(out.File("tagged.mp3"), std::string(2000, '\x55') + "TAG" + std::string(30, 'T') +
                                         std::string(30, 'A') + std::string(64, '\0') + "\xFF");  // no genre
  const std::string day = "08:00;;3:30;N:\\Music\\tagged.mp3\r\n08:04;;3:30;N:\\Music\\gone.mp3\r\n"
                          "09:00;;1;\"http://radio.example/live 30\"\r\n";
  WriteBytes(logs.File("2026-11-01.csv"), day);
  const Args base = Args{"--logs", PathText(logs.path()), "--month", "2026-11", "-o", out.File("r.htm")} +
                    MapTo("N:\\Music\\", out);
  std::string stdoutText, err;
  ASSERT_EQ(RunApart(base + Args{"--problems", out.File("p.csv")}, &stdoutText, &err), 0) << err;
  EXPECT_EQ(stdoutText, out.File("r.htm") + "\n");  // the summary goes to standard error only
  for (const char* line : {"logs read:             1\n", "play lines:            3\n",
                           "distinct rows:         3\n", "total plays:           3\n",
                           "rows without a title:  2\n", "files not found:       1\n",
                           "stream addresses:      1\n"})
    EXPECT_NE(err.find(line), std::string::npos) << line << "\n" << err;
  EXPECT_EQ(err.find("2026-11-01.csv"), std::string::npos) << "names only with -v";
  EXPECT_EQ(err.find("warning"), std::string::npos) << err;
  // (Whether the probe finds a length in the fake MP3 is the probe's affair.)
  const std::string csv = ReadBytes(out.File("p.csv"));
  const std::string head =
      "\xEF\xBB\xBFpath;plays;missing\r\nN:\\Music\\gone.mp3;1;file not found\r\nN:\\Music\\tagged.mp3;1;";
  ASSERT_EQ(csv.substr(0, head.size()), head);
  const std::string rest = csv.substr(head.size());
  EXPECT_TRUE(rest == "genre\r\n" || rest == "\"genre, length\"\r\n") << csv;
  EXPECT_EQ(csv.find("http://"), std::string::npos) << "a stream with its minutes needs nothing";

  // -v names the logs; an Explorer copy warns, and --strict makes it exit 3.
  WriteBytes(logs.File("2026-11-01 - копия.csv"), day);
  ASSERT_EQ(RunApart(base + Args{"-v"}, &stdoutText, &err), 0) << err;
  EXPECT_NE(err.find("\n    2026-11-01.csv\n"), std::string::npos) << err;
  EXPECT_NE(err.find("\n    2026-11-01 - копия.csv\n"), std::string::npos) << err;
  EXPECT_NE(err.find("ordana-report: warning: the logs"), std::string::npos) << err;
  EXPECT_EQ(RunApart(base + Args{"--strict"}, &stdoutText, &err), 3) << err;
  EXPECT_NE(ReadBytes(out.File("r.htm")).find("<td>2</td>"), std::string::npos) << "the report is still written";

  // No log in the period (a mistyped month).
  const Args other{"--logs", PathText(logs.path()), "--month", "2025-11", "-o", out.File("r.htm")};
  EXPECT_EQ(RunApart(other, &stdoutText, &err), 0);
  EXPECT_NE(err.find("warning: no play log is dated inside the period"), std::string::npos) << err;
  EXPECT_EQ(RunApart(other + Args{"--strict"}, &stdoutText, &err), 3);

  // A problems file that cannot be written is an error.
  EXPECT_EQ(RunApart(base + Args{"--problems", out.File("no/such/p.csv")}, &stdoutText, &err), 1);
  EXPECT_NE(err.find("EFCreateError:Cannot create file"), std::string::npos) << err;
}

TEST(ReportCli, ControlCharactersInMessagesAreWrittenOut) {
  ORDANA_SKIP_ON_WINDOWS("names on Windows hold neither control characters nor bytes that are not text");
  TempDir logs, out;
  // A folder named like a log, its name carrying a terminal escape sequence
  // and a byte that is not UTF-8.
  std::filesystem::create_directory(logs.path() / "2026-11-02 \x1B]0;pwned\x07\xFF.csv");
  std::string stdoutText, err;
  EXPECT_EQ(RunApart({"--logs", PathText(logs.path()), "--month", "2026-11", "-o", out.File("r.htm")}, &stdoutText,
                     &err),
            1);
  EXPECT_NE(err.find("EFOpenError:Cannot open file"), std::string::npos) << err;
  EXPECT_NE(err.find("2026-11-02 \\x1B]0;pwned\\x07\xEF\xBF\xBD.csv"), std::string::npos) << err;
  EXPECT_EQ(err.find('\x1B'), std::string::npos);
  EXPECT_EQ(err.find('\x07'), std::string::npos);
  EXPECT_EQ(err.find('\xFF'), std::string::npos);
}

TEST(ReportCli, LogFolderWithAnInvalidUtf8Name) {
  ORDANA_SKIP_ON_WINDOWS("names on Windows are UTF-16 text; none holds bytes that are not UTF-8");
  TempDir base, out;
  const std::filesystem::path logs = base.path() / "Logs \xCE\xF2\xF7\xE5\xF2";  // Windows-1251 bytes
  std::filesystem::create_directory(logs);
  WriteBytes(logs / "2026-11-01.csv", "08:00;;3:30;N:\\a.mp3\r\n");
  std::string stdoutText, err;
  ASSERT_EQ(RunApart({"--logs", logs.string(), "--month", "2026-11", "-o", out.File("r.htm")}, &stdoutText, &err),
            0)
      << err;
  EXPECT_NE(err.find("logs read:             1\n"), std::string::npos) << err;
}

#if ORDANA_HAVE_FFMPEG
// The report finds its media probe helper beside itself. Without it, the
// report is still written, says once on standard error why lengths are
// missing, and every MP3's length is unknown; with it, they are measured.
TEST(ReportCli, WarnsOnceWhenTheProbeHelperIsMissing) {
  ORDANA_REQUIRE_TOOL("ffmpeg");
  TempDir bin, music, logs;
  const std::string program = bin.File(kHostIsWindows ? "ordana-report.exe" : "ordana-report");
  const std::string helper = bin.File(kHostIsWindows ? "ordana-probe.exe" : "ordana-probe");
  std::filesystem::copy_file(kProgram, program);
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  for (const char* n : {"a.mp3", "b.mp3", "c.mp3"})
    ASSERT_TRUE(test::Encode("ffmpeg -nostdin -v error -y -f lavfi -i sine=duration=2 -c:a libmp3lame " +
                             ShellQuote(music.File(n))));
  WriteBytes(logs.File("2026-11-01.csv"),
             "08:00;;3:30;N:\\a.mp3\r\n08:04;;3:30;N:\\b.mp3\r\n08:08;;3:30;N:\\c.mp3\r\n");
  const std::string report = music.File("r.htm");
  const Args args = Args{"--logs", PathText(logs.path()), "--month", "2026-11", "-o", report} + MapTo("N:\\", music);
  std::string text;
  ASSERT_EQ(test::RunProgram(program, args, &text), 0) << text;
  const std::string warning = "warning: cannot start the media probe helper \"" + helper + "\"";
  const size_t at = text.find(warning);
  ASSERT_NE(at, std::string::npos) << text;
  EXPECT_NE(text.find("No such file", at), std::string::npos) << text;
  EXPECT_EQ(text.find("warning:", at + 1), std::string::npos) << "warned more than once: " << text;
  EXPECT_NE(text.find("files not measured:    3\n"), std::string::npos) << "counted in the summary: " << text;
  EXPECT_NE(ReadBytes(report).find("<td>?\?:?\?</td>"), std::string::npos);

  // The helper beside the program: no warning, lengths measured.
  std::filesystem::copy_file(test::BuiltProgram("apps/ordana-probe"), helper);
  std::filesystem::permissions(helper, std::filesystem::perms::owner_all);
  text.clear();
  ASSERT_EQ(test::RunProgram(program, args, &text), 0) << text;
  EXPECT_EQ(text.find("warning:"), std::string::npos) << text;
  EXPECT_EQ(text.find("files not measured:"), std::string::npos) << text;
  const std::string page = ReadBytes(report);
  EXPECT_EQ(page.find("<td>?\?:?\?</td>"), std::string::npos);
  EXPECT_NE(page.find("<td>00:02</td>"), std::string::npos);
}
#endif

}  // namespace
}  // namespace ordana
