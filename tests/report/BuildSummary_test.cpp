#include "report/BuildSummary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "platform/TextCodec.h"
#include "report/BuildReport.h"
#include "report/CollectSongs.h"
#include "support/MediaFixtures.h"
#include "support/PlayLogs.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::kNov1;
using test::kNov30;
using test::ShellQuote;
using test::TempDir;
using test::WriteBytes;

// A play line with the path in quotes.
std::string Play(const std::string& path) { return test::PlayLine("\"" + path + "\""); }

TBuildSummary Summarize(const TempDir& logs, TDate from = kNov1, TDate to = kNov30) {
  TBuildSummary s;
  CollectSongs(U16(logs.path().string()), from, to, &s);
  return s;
}

TEST(BuildSummary, CountsWhatThePageMisses) {
  for (const char* tool : {"sox", "lame"}) ORDANA_REQUIRE_TOOL(tool);
  TempDir music, logs;
  const std::string wav = test::SineWav(music, "tone.wav", "2", 8000);
  const std::string full = music.File("full.mp3"), noGenre = music.File("nogenre.mp3");
  ASSERT_TRUE(test::Encode("lame --quiet --tt Title --ta Artist --tg Rock " + ShellQuote(wav) + " " +
                           ShellQuote(full)));
  ASSERT_TRUE(test::Encode("lame --quiet --tt Title --ta Artist " + ShellQuote(wav) + " " + ShellQuote(noGenre)));
  ASSERT_TRUE(test::MakeFifo(music.File("pipe.mp3")));
  const std::string missing = music.File("missing.mp3");
  WriteBytes(logs.File("2026-11-01.csv"), Play(full) + Play(full) + Play(noGenre) + Play(wav) +
                                              "06:00;START;;Velmora\r\n\r\n" + Play(missing));
  WriteBytes(logs.File("2026-11-02.csv"), Play(full) + Play(music.File("pipe.mp3")) +
                                              Play("http://radio.example/live 30") +
                                              Play("http://radio.example/other"));
  WriteBytes(logs.File("2026-12-01.csv"), Play(missing));  // outside the period

  const TBuildSummary s = Summarize(logs);
  ASSERT_EQ(s.Logs.size(), 2u);
  EXPECT_EQ(s.Lines, 7 + 4);
  EXPECT_EQ(s.PlayLines, 9);
  EXPECT_EQ(s.TotalPlays, 9);
  EXPECT_EQ(s.Rows, 7);
  EXPECT_EQ(s.StreamAddresses, 2);
  EXPECT_EQ(s.FilesNotFound, 1);
  EXPECT_EQ(s.FilesNotReadable, 1);
  // Without a title: the WAV, the missing file, the FIFO and both streams.
  EXPECT_EQ(s.RowsWithoutTitle, 5);
  // Without a length: the missing file, the FIFO, the stream without minutes.
  EXPECT_EQ(s.RowsWithoutLength, 3);
  EXPECT_TRUE(s.Warnings.empty());

  std::map<std::string, std::string> missingOf;
  for (const TProblemRow& p : s.Problems) missingOf[Utf16ToUtf8(p.FN).bytes()] = MissingText(p);
  EXPECT_EQ(missingOf, (std::map<std::string, std::string>{
                           {noGenre, "genre"},
                           {wav, "title, artist, genre"},
                           {missing, "file not found"},
                           {music.File("pipe.mp3"), "file cannot be read"},
                           {"http://radio.example/other", "length"},
                       }));
  for (const TProblemRow& p : s.Problems) EXPECT_EQ(p.PlayCount, 1) << Utf16ToUtf8(p.FN);
}

TEST(BuildSummary, WarnsOfNoLogInThePeriod) {
  TempDir logs;
  WriteBytes(logs.File("2026-10-31.csv"), Play("N:\\a.mp3"));
  TBuildSummary s = Summarize(logs);
  ASSERT_EQ(s.Warnings.size(), 1u);
  EXPECT_EQ(s.Warnings[0].Kind, TBuildWarning::TKind::NoLogInPeriod);
  EXPECT_NE(WarningText(s.Warnings[0]).find("no play log"), std::string::npos);
  EXPECT_EQ(s.Rows, 0);
  // A log in the period without any play line is no such case.
  WriteBytes(logs.File("2026-11-02.csv"), "nothing\r\n");
  EXPECT_TRUE(Summarize(logs).Warnings.empty());
}

TEST(BuildSummary, WarnsOfALogCopiedUnderASecondName) {
  TempDir logs;
  const std::string day = Play("N:\\a.mp3") + Play("N:\\b.mp3") + Play("N:\\c.mp3");
  WriteBytes(logs.File("2026-11-05.csv"), day);
  WriteBytes(logs.File("2026-11-05 - копия.csv"), day);  // Explorer's copy
  WriteBytes(logs.File("2026-11-06.csv"), day);          // another day that sounds the same
  TBuildSummary s = Summarize(logs);
  ASSERT_EQ(s.Warnings.size(), 1u);
  const TBuildWarning& w = s.Warnings[0];
  EXPECT_EQ(w.Kind, TBuildWarning::TKind::DuplicateLog);
  EXPECT_TRUE(w.Identical);
  EXPECT_EQ(std::set<std::u16string>({w.Log1, w.Log2}),
            (std::set<std::u16string>{u"2026-11-05.csv", u"2026-11-05 - копия.csv"}));
  const std::string text = WarningText(w);
  EXPECT_NE(text.find("2026-11-05 - копия.csv"), std::string::npos) << text;
  EXPECT_NE(text.find("counted twice"), std::string::npos) << text;

  // A copy made while the day was still being written: the log holds it.
  WriteBytes(logs.File("2026-11-05.csv"), "06:00;START;;Velmora\r\n" + day + Play("N:\\d.mp3"));
  s = Summarize(logs);
  ASSERT_EQ(s.Warnings.size(), 1u);
  EXPECT_FALSE(s.Warnings[0].Identical);
  EXPECT_EQ(s.Warnings[0].Log1, u"2026-11-05 - копия.csv");
  EXPECT_EQ(s.Warnings[0].Log2, u"2026-11-05.csv");

  // Same date, different plays (two shifts of one day), or a copy without
  // play lines: nothing doubles.
  WriteBytes(logs.File("2026-11-05 - копия.csv"), Play("N:\\b.mp3") + Play("N:\\a.mp3"));
  EXPECT_TRUE(Summarize(logs).Warnings.empty());
  WriteBytes(logs.File("2026-11-05 - копия.csv"), "06:00;START;;Velmora\r\n");
  EXPECT_TRUE(Summarize(logs).Warnings.empty());
  // Outside the period, copies are not read at all.
  WriteBytes(logs.File("2026-11-05 - копия.csv"), day);
  EXPECT_TRUE(Summarize(logs, TDate{2026, 11, 6}, kNov30).Warnings.empty());
}

TEST(BuildSummary, ProblemsCsvForASpreadsheet) {
  std::vector<TProblemRow> rows(3);
  rows[0].FN = u"N:\\Музыка\\a.mp3";
  rows[0].PlayCount = 12;
  rows[0].NoTitle = rows[0].NoLength = true;
  rows[1].FN = u"N:\\x;\"y\".mp3";
  rows[1].PlayCount = 1;
  rows[1].NotFound = rows[1].NoTitle = true;
  rows[2].FN = u" lead.mp3";
  rows[2].PlayCount = 2;
  rows[2].NoArtist = rows[2].NoGenre = true;
  EXPECT_EQ(ProblemsCsv(rows),
            "\xEF\xBB\xBFpath;plays;missing\r\n"
            "N:\\Музыка\\a.mp3;12;\"title, length\"\r\n"
            "\"N:\\x;\"\"y\"\".mp3\";1;file not found\r\n"
            "\" lead.mp3\";2;\"artist, genre\"\r\n");
  EXPECT_EQ(ProblemsCsv({}), "\xEF\xBB\xBFpath;plays;missing\r\n");

  TempDir dir;
  WriteProblemsCsv(rows, dir.File16("problems.csv"));
  EXPECT_EQ(test::ReadBytes(dir.File("problems.csv")), ProblemsCsv(rows));
  EXPECT_THROW(WriteProblemsCsv(rows, dir.File16("no/such/folder.csv")), EFCreateError);
}

TEST(BuildSummary, BuildReportFillsItAndKeepsThePage) {
  TempDir logs, out;
  WriteBytes(logs.File("2026-11-01.csv"), Play("N:\\a.mp3") + Play("N:\\a.mp3"));
  TBuildSummary s;
  s.Rows = 99;  // whatever it held is replaced
  BuildReport(U16(logs.path().string()), out.File16("with.htm"), kNov1, kNov30, s);
  BuildReport(U16(logs.path().string()), out.File16("without.htm"), kNov1, kNov30);
  EXPECT_EQ(test::ReadBytes(out.File("with.htm")), test::ReadBytes(out.File("without.htm")));
  EXPECT_EQ(s.Rows, 1);
  EXPECT_EQ(s.TotalPlays, 2);
  EXPECT_EQ(s.FilesNotFound, 1);
  ASSERT_EQ(s.Problems.size(), 1u);
  EXPECT_EQ(s.Problems[0].PlayCount, 2);
}

}  // namespace
}  // namespace ordana
