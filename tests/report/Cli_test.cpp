#include <gtest/gtest.h>

#include <filesystem>

#include "support/MediaFixtures.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::ReadBytes;
using test::ShellQuote;
using test::TempDir;
using test::WriteBytes;

const std::string kProgram = ORDANA_BINARY_DIR "/apps/ordana-report";

TEST(ReportCli, HelpAndBadArguments) {
  std::string out;
  EXPECT_EQ(test::Run(kProgram + " --help", &out), 0);
  for (const char* opt : {"--logs", "--month", "--from", "--to", "-o", "--codepage", "--map-path", "--open"})
    EXPECT_NE(out.find(opt), std::string::npos) << opt;
  EXPECT_NE(out.find("backslash"), std::string::npos);

  EXPECT_EQ(test::Run(kProgram, &out), 2);
  EXPECT_NE(out.find("usage:"), std::string::npos);
  EXPECT_EQ(test::Run(kProgram + " --logs /tmp --month 2026-13"), 2);
  EXPECT_EQ(test::Run(kProgram + " --logs /tmp --month 2026-11 --from 2026-11-01 --to 2026-11-02"), 2);
  EXPECT_EQ(test::Run(kProgram + " --logs /tmp --from 2026-11-01"), 2);
  EXPECT_EQ(test::Run(kProgram + " --logs /tmp --from 2026-02-30 --to 2026-03-01"), 2);
  EXPECT_EQ(test::Run(kProgram + " --logs /tmp --month 2026-11 --codepage no-such-codepage"), 2);
  EXPECT_EQ(test::Run(kProgram + " --logs /tmp --month 2026-11 --map-path nomapping"), 2);
  EXPECT_EQ(test::Run(kProgram + " --logs /tmp --month 2026-11 --bogus"), 2);
}

TEST(ReportCli, WritesTheReportAndReportsErrors) {
  TempDir logs, out;
  WriteBytes(logs.File("2026-11-01.csv"), "08:00;;3:30;N:\\Music\\a.mp3\r\n08:04;;3:30;N:\\Music\\b.mp3\r\n");
  WriteBytes(logs.File("2026-11-30.csv"), "08:00;;3:30;N:\\Music\\a.mp3\r\n");
  WriteBytes(logs.File("2026-12-01.csv"), "08:00;;3:30;N:\\Music\\c.mp3\r\n");
  const std::string report = out.File("r.htm");
  std::string text;
  ASSERT_EQ(test::Run(kProgram + " --logs " + ShellQuote(logs.path().string()) + " --month 2026-11 -o " +
                    ShellQuote(report) + " --map-path 'N:\\Music\\=" + out.path().string() + "/'",
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
  ASSERT_EQ(test::Run(kProgram + " --logs " + ShellQuote(logs.path().string()) +
                " --from 2026-11-30 --to 2026-12-01 -o " + ShellQuote(report)),
            0);
  EXPECT_NE(ReadBytes(report).find("<tr><td>30.11.2026 - 01.12.2026"), std::string::npos);

  // An undated log: the error's class and message, exit status 1, and the
  // report stays as it was.
  const std::string before = ReadBytes(report);
  WriteBytes(logs.File("list.csv"), "");
  text.clear();
  EXPECT_EQ(test::Run(kProgram + " --logs " + ShellQuote(logs.path().string()) + " --month 2026-11 -o " +
                    ShellQuote(report),
                &text),
            1);
  EXPECT_EQ(text, "EConvertError:Invalid argument to date encode\n");
  EXPECT_EQ(ReadBytes(report), before);
}

#if ORDANA_HAVE_FFMPEG
// The report finds its media probe helper beside itself. Without it, the
// report is still written, says once on standard error why lengths are
// missing, and every MP3's length is unknown; with it, they are measured.
TEST(ReportCli, WarnsOnceWhenTheProbeHelperIsMissing) {
  ORDANA_REQUIRE_TOOL("ffmpeg");
  TempDir bin, music, logs;
  std::filesystem::copy_file(kProgram, bin.File("ordana-report"));
  std::filesystem::permissions(bin.File("ordana-report"), std::filesystem::perms::owner_all);
  for (const char* n : {"a.mp3", "b.mp3", "c.mp3"})
    ASSERT_TRUE(test::Encode("ffmpeg -nostdin -v error -y -f lavfi -i sine=duration=2 -c:a libmp3lame " +
                             ShellQuote(music.File(n))));
  WriteBytes(logs.File("2026-11-01.csv"),
             "08:00;;3:30;N:\\a.mp3\r\n08:04;;3:30;N:\\b.mp3\r\n08:08;;3:30;N:\\c.mp3\r\n");
  const std::string report = music.File("r.htm");
  const std::string args = " --logs " + ShellQuote(logs.path().string()) + " --month 2026-11 -o " +
                           ShellQuote(report) + " --map-path 'N:\\=" + music.path().string() + "/'";
  std::string text;
  ASSERT_EQ(test::Run(ShellQuote(bin.File("ordana-report")) + args, &text), 0) << text;
  const std::string warning = "warning: cannot start the media probe helper \"" + bin.File("ordana-probe") + "\"";
  const size_t at = text.find(warning);
  ASSERT_NE(at, std::string::npos) << text;
  EXPECT_NE(text.find("No such file", at), std::string::npos) << text;
  EXPECT_EQ(text.find("warning:", at + 1), std::string::npos) << "warned more than once: " << text;
  EXPECT_NE(ReadBytes(report).find("<td>?\?:?\?</td>"), std::string::npos);

  // The helper beside the program: no warning, lengths measured.
  std::filesystem::copy_file(ORDANA_BINARY_DIR "/apps/ordana-probe", bin.File("ordana-probe"));
  std::filesystem::permissions(bin.File("ordana-probe"), std::filesystem::perms::owner_all);
  text.clear();
  ASSERT_EQ(test::Run(ShellQuote(bin.File("ordana-report")) + args, &text), 0) << text;
  EXPECT_EQ(text.find("warning:"), std::string::npos) << text;
  const std::string page = ReadBytes(report);
  EXPECT_EQ(page.find("<td>?\?:?\?</td>"), std::string::npos);
  EXPECT_NE(page.find("<td>00:02</td>"), std::string::npos);
}
#endif

}  // namespace
}  // namespace ordana
