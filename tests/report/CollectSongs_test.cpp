#include "report/CollectSongs.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "support/Checks.h"
#include "support/PlayLogs.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::kNov1;
using test::kNov30;
using test::TempDir;
using test::WriteBytes;
using Fields = std::vector<std::u16string>;
using test::PlayLine;

// The EConvertError "Invalid argument to date encode" that call throws, as
// E; nothing when it throws none.
template <class E = EOrdanaError, class Call>
std::optional<E> DateError(Call call) {
  try {
    call();
  } catch (const E& e) {
    EXPECT_EQ(e.ClassName(), "EConvertError");
    EXPECT_EQ(e.Message(), "Invalid argument to date encode");
    return e;
  }
  return std::nullopt;
}

std::vector<std::u16string> PathsOf(const std::vector<TSongInfo>& rows) {
  std::vector<std::u16string> r;
  for (const TSongInfo& s : rows) r.push_back(s.FN);
  return r;
}

TEST(LogLineParser, FieldsSeparatorsAndBlanks) {
  EXPECT_EQ(ParseLogLine(u"a;;b;C:\\x.mp3"), (Fields{u"a", u"", u"b", u"C:\\x.mp3"}));
  EXPECT_EQ(ParseLogLine(u"  \t a ; b"), (Fields{u"a", u"b"}));
  EXPECT_EQ(ParseLogLine(u"a b;c"), (Fields{u"a", u"b", u"c"}));  // a blank ends the field
  EXPECT_EQ(ParseLogLine(u"a ; ; b"), (Fields{u"a", u"", u"b"}));
  EXPECT_EQ(ParseLogLine(u"a;"), (Fields{u"a", u""}));  // last character ';' adds a field
  EXPECT_EQ(ParseLogLine(u"a; "), (Fields{u"a"}));      // ... a ';' and blanks do not
  EXPECT_EQ(ParseLogLine(u"a;;"), (Fields{u"a", u"", u""}));
  EXPECT_EQ(ParseLogLine(u";;"), (Fields{u"", u"", u""}));
  EXPECT_EQ(ParseLogLine(u""), Fields{});
  EXPECT_EQ(ParseLogLine(u" \t\x01 "), Fields{});
  // U+0000 is no blank: it stays inside the value.
  EXPECT_EQ(ParseLogLine(std::u16string(u"a\0b;c", 5)), (Fields{std::u16string(u"a\0b", 3), u"c"}));
}

TEST(LogLineParser, Quotes) {
  EXPECT_EQ(ParseLogLine(u"t;;d;\"C:\\My Music\\x.mp3\";z"),
            (Fields{u"t", u"", u"d", u"C:\\My Music\\x.mp3", u"z"}));
  EXPECT_EQ(ParseLogLine(u"t;;d;C:\\My Music\\x.mp3"),
            (Fields{u"t", u"", u"d", u"C:\\My", u"Music\\x.mp3"}));
  EXPECT_EQ(ParseLogLine(u"\"a\"\"b\";\"\""), (Fields{u"a\"b", u""}));
  EXPECT_EQ(ParseLogLine(u"\"ab\"cd;e"), (Fields{u"ab", u"cd", u"e"}));  // text after the quote
  EXPECT_EQ(ParseLogLine(u"\"a;b\" ;c"), (Fields{u"a;b", u"c"}));
  EXPECT_EQ(ParseLogLine(u"ab\"cd;e"), (Fields{u"ab\"cd", u"e"}));  // a quote inside a value
  // Without its closing quote a field takes the rest of the line.
  EXPECT_EQ(ParseLogLine(u"a;\"b c;d"), (Fields{u"a", u"b c;d"}));
  EXPECT_EQ(ParseLogLine(u"a;\""), (Fields{u"a", u""}));
  EXPECT_EQ(ParseLogLine(u"a;b;c;d;e", 3), (Fields{u"a", u"b", u"c"}));
}

TEST(LogLineParser, PlayLines) {
  EXPECT_EQ(PlayLinePath(u"a;;b;C:\\x.mp3"), u"C:\\x.mp3");
  EXPECT_EQ(PlayLinePath(u"a;;b;C:\\x.mp3;more;fields"), u"C:\\x.mp3");
  EXPECT_EQ(PlayLinePath(u"a;b;c;C:\\x.mp3"), u"");  // second field not empty
  EXPECT_EQ(PlayLinePath(u"a;;b"), u"");             // three fields
  EXPECT_EQ(PlayLinePath(u"a;;b;"), u"");            // fourth field empty
  EXPECT_EQ(PlayLinePath(u"a;\"\";b;\"\""), u"");
  EXPECT_EQ(PlayLinePath(u"a;\"\";b;x"), u"x");  // a quoted empty second field is empty
  EXPECT_EQ(PlayLinePath(u"12:00;;5;http://stream.example.net/live 30"), u"http://stream.example.net/live");
}

TEST(LogNames, DateFromFixedCharacters) {
  EXPECT_EQ(LogNameDate(u"2011-10-05.csv"), (TDate{2011, 10, 5}));
  EXPECT_EQ(LogNameDate(u"2011x10x05.csv"), (TDate{2011, 10, 5}));
  EXPECT_EQ(LogNameDate(u"2024-02-29 night shift.csv"), (TDate{2024, 2, 29}));
  for (const char16_t* bad : {u"list.csv", u"2011.csv", u"2011-10.csv", u"2011-1-05.csv",
                              u"2023-02-29.csv", u"2011-13-01.csv", u"0000-01-01.csv", u".csv"})
    EXPECT_TRUE(DateError([&] { LogNameDate(bad); })) << "no error for " << Utf16ToUtf8(bad);
  EXPECT_TRUE(test::Sorts(IsLogName, {u"2026-11-01.csv", u"2026-11-01.CSV", u"x.Csv"},
                          {u"2026-11-01.csv.bak", u"2026-11-01.txt", u"csv"}));
}

TEST(CollectSongs, PeriodBoundsAreInclusive) {
  TempDir dir;
  WriteBytes(dir.File("2026-10-31.csv"), PlayLine("N:\\oct31.mp3"));
  WriteBytes(dir.File("2026-11-01.csv"), PlayLine("N:\\nov01.mp3"));
  WriteBytes(dir.File("2026-11-30.CSV"), PlayLine("N:\\nov30.mp3"));
  WriteBytes(dir.File("2026-12-01.csv"), PlayLine("N:\\dec01.mp3"));
  WriteBytes(dir.File("2026-11-15.txt"), PlayLine("N:\\not-a-log.mp3"));
  std::vector<TSongInfo> rows = CollectSongs(U16(dir.path().string()), kNov1, kNov30);
  EXPECT_EQ(PathsOf(rows), (std::vector<std::u16string>{u"N:\\nov01.mp3", u"N:\\nov30.mp3"}));
  // One day, with a trailing delimiter on the folder.
  rows = CollectSongs(U16(dir.path().string() + "/"), TDate{2026, 10, 31}, TDate{2026, 10, 31});
  EXPECT_EQ(PathsOf(rows), (std::vector<std::u16string>{u"N:\\oct31.mp3"}));
  // A start after the end selects nothing.
  EXPECT_TRUE(CollectSongs(U16(dir.path().string()), kNov30, kNov1).empty());
}

TEST(CollectSongs, CountsRunsOfExactlyEqualPaths) {
  TempDir dir;
  WriteBytes(dir.File("2026-11-01.csv"), PlayLine("N:\\b.mp3") + PlayLine("N:\\a.mp3") + PlayLine("N:\\C.mp3"));
  WriteBytes(dir.File("2026-11-02.csv"),
             PlayLine("N:\\b.mp3") + "10:01;skipped;1;N:\\b.mp3\r\n" + PlayLine("N:\\A.mp3"));
  WriteBytes(dir.File("2026-11-03.csv"), PlayLine("N:\\b.mp3") + "header;;only_three\r\n");
  std::vector<TSongInfo> rows = CollectSongs(U16(dir.path().string()), kNov1, kNov30);
  ASSERT_EQ(rows.size(), 4u);
  // Case-insensitive order; case variants are separate rows.
  EXPECT_EQ(PathsOf(rows), (std::vector<std::u16string>{u"N:\\A.mp3", u"N:\\a.mp3", u"N:\\b.mp3", u"N:\\C.mp3"}));
  EXPECT_EQ(rows[0].PlayCount, 1);
  EXPECT_EQ(rows[1].PlayCount, 1);
  EXPECT_EQ(rows[2].PlayCount, 3);
  EXPECT_EQ(rows[3].PlayCount, 1);
  for (const TSongInfo& r : rows) {
    EXPECT_EQ(r.Len, 0u);  // no such files
    EXPECT_EQ(r.T.CueIn, -1);
  }
}

TEST(CollectSongs, EncodingsAndLineEnds) {
  TempDir dir;
  const std::u16string song = u"N:\\Музыка\\Песня.mp3";
  const std::u16string line = u"10:00;;1;\"" + song + u"\"\r\n";
  WriteBytes(dir.File("2026-11-01.csv"), "\xFF\xFE" + Utf16ToUtf16LE(line));
  std::string be;
  for (char16_t c : line) be += static_cast<char>(c >> 8), be += static_cast<char>(c & 0xFF);
  WriteBytes(dir.File("2026-11-02.csv"), "\xFE\xFF" + be);
  WriteBytes(dir.File("2026-11-03.csv"), "\xEF\xBB\xBF" + Utf16ToUtf8(line).bytes());
  // Windows-1251 bytes: "N:\Музыка\Песня.mp3"
  WriteBytes(dir.File("2026-11-04.csv"),
             "10:00;;1;N:\\\xCC\xF3\xE7\xFB\xEA\xE0\\\xCF\xE5\xF1\xED\xFF.mp3");
  // CR, LF and CR LF, and a last line without an end.
  WriteBytes(dir.File("2026-11-05.csv"), "a;;1;x1\ra;;1;x2\na;;1;x3\r\n\r\n\na;;1;x4");
  // An empty log and one with only dropped lines.
  WriteBytes(dir.File("2026-11-06.csv"), "");
  WriteBytes(dir.File("2026-11-07.csv"), "a;b;c;d\r\n;;;\r\n");
  std::vector<TSongInfo> rows = CollectSongs(U16(dir.path().string()), kNov1, kNov30);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(PathsOf(rows), (std::vector<std::u16string>{song, u"x1", u"x2", u"x3", u"x4"}));
  EXPECT_EQ(rows[0].PlayCount, 4);
  EXPECT_EQ(rows[4].PlayCount, 1);
}

TEST(CollectSongs, LogFolderWrittenTheWindowsWay) {
  TempDir dir;
  WriteBytes(dir.File("2026-11-01.csv"), PlayLine("N:\\a.mp3"));
  SetPathMappings({ParsePathMapping(u"L:\\Logs\\=" + U16(dir.path().string()) + u"/")});
  std::vector<TSongInfo> without = CollectSongs(u"l:\\logs", kNov1, kNov30);
  std::vector<TSongInfo> with = CollectSongs(u"L:\\LOGS\\", kNov1, kNov30);
  SetPathMappings({});
  EXPECT_EQ(PathsOf(without), (std::vector<std::u16string>{u"N:\\a.mp3"}));
  EXPECT_EQ(PathsOf(with), (std::vector<std::u16string>{u"N:\\a.mp3"}));
}

TEST(CollectSongs, EmptyResults) {
  TempDir dir;
  EXPECT_TRUE(CollectSongs(U16(dir.File("missing")), kNov1, kNov30).empty());
  EXPECT_TRUE(CollectSongs(U16(dir.path().string()), kNov1, kNov30).empty());
  WriteBytes(dir.File("2026-11-01.csv"), "no play lines here\r\n");
  EXPECT_TRUE(CollectSongs(U16(dir.path().string()), kNov1, kNov30).empty());
}

TEST(CollectSongs, UndatedLogFailsWhateverThePeriod) {
  TempDir dir;
  WriteBytes(dir.File("2026-11-01.csv"), PlayLine("N:\\a.mp3"));
  WriteBytes(dir.File("list.csv"), "");
  for (TDate from : {kNov1, TDate{1990, 1, 1}})
    EXPECT_TRUE(DateError([&] { CollectSongs(U16(dir.path().string()), from, from); })) << "list.csv was accepted";
}

TEST(CollectSongs, UnreadableLogNamesTheFile) {
  TempDir dir;
  WriteBytes(dir.File("2026-11-01.csv"), PlayLine("N:\\a.mp3"));
  std::filesystem::create_directory(dir.path() / "2026-11-02.csv");  // a folder named like a log
  const std::string expected = "Cannot open file \"" + dir.File("2026-11-02.csv") + "\". ";
  try {
    CollectSongs(U16(dir.path().string()), kNov1, kNov30);
    ADD_FAILURE() << "the folder was read as a log";
  } catch (const EOrdanaError& e) {
    EXPECT_EQ(e.ClassName(), "EFOpenError");
    EXPECT_EQ(e.Message().substr(0, expected.size()), expected);
  }
  // Outside the period it is not opened at all.
  EXPECT_EQ(CollectSongs(U16(dir.path().string()), kNov1, kNov1).size(), 1u);
}

TEST(CollectSongs, LogThatCannotBeOpened) {
  // A link to nothing: no log can be opened behind it, whoever runs the test.
  ORDANA_SKIP_ON_WINDOWS("symbolic links need a privilege on Windows");
  TempDir dir;
  WriteBytes(dir.File("2026-11-01.csv"), PlayLine("N:\\a.mp3"));
  std::filesystem::create_symlink(dir.File("gone.csv"), dir.path() / "2026-11-03.csv");
  try {
    CollectSongs(U16(dir.path().string()), kNov1, kNov30);
    ADD_FAILURE() << "a dangling link was read";
  } catch (const EOrdanaError& e) {
    EXPECT_EQ(e.ClassName(), "EFOpenError");
    EXPECT_EQ(e.Message(), "Cannot open file \"" + dir.File("2026-11-03.csv") + "\". " + SystemMessage(ENOENT));
  }
}

TEST(CollectSongs, LogWithoutReadPermission) {
  ORDANA_SKIP_ON_WINDOWS("Windows has no permission bits that keep the owner from reading");
  if (test::RunningAsRoot()) GTEST_SKIP() << "running as root: a mode-000 log stays readable";
  TempDir dir;
  WriteBytes(dir.File("2026-11-03.csv"), PlayLine("N:\\a.mp3"));
  std::filesystem::permissions(dir.path() / "2026-11-03.csv", std::filesystem::perms::none);
  EXPECT_THROW(CollectSongs(U16(dir.path().string()), kNov1, kNov30), EFOpenError);
}

TEST(CollectSongs, AYearOfPlaysInOneLog) {
  TempDir dir;
  std::string log;
  for (int i = 0; i < 200000; ++i) log += PlayLine("N:\\Music\\song" + std::to_string(i % 5000) + ".mp3");
  WriteBytes(dir.File("2026-11-01 year.csv"), log);
  auto t0 = std::chrono::steady_clock::now();
  std::vector<TSongInfo> rows = CollectSongs(U16(dir.path().string()), kNov1, kNov30);
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  ASSERT_EQ(rows.size(), 5000u);
  for (const TSongInfo& r : rows) ASSERT_EQ(r.PlayCount, 40) << Utf16ToUtf8(r.FN);
  EXPECT_EQ(rows[0].FN, u"N:\\Music\\song0.mp3");
  EXPECT_EQ(rows[1].FN, u"N:\\Music\\song1.mp3");
  EXPECT_EQ(rows[2].FN, u"N:\\Music\\song10.mp3");
  EXPECT_LT(secs, 10.0);
}

TEST(CollectSongs, LogNamedWithInvalidUtf8IsRead) {
  // A share mounted without name translation shows Windows-1251 bytes.
  ORDANA_SKIP_ON_WINDOWS("names on Windows are UTF-16 text; none holds bytes that are not UTF-8");
  TempDir dir;
  WriteBytes(dir.path() / "2026-11-05 \xEA\xEE\xEF\xE8\xFF.csv", PlayLine("N:\\a.mp3") + PlayLine("N:\\b.mp3"));
  WriteBytes(dir.File("2026-11-06.csv"), PlayLine("N:\\a.mp3"));
  std::vector<TSongInfo> rows = CollectSongs(U16(dir.path().string()), kNov1, kNov30);
  ASSERT_EQ(PathsOf(rows), (std::vector<std::u16string>{u"N:\\a.mp3", u"N:\\b.mp3"}));
  EXPECT_EQ(rows[0].PlayCount, 2);
  // Its undecodable date part is no date: the usual error, and the name with
  // replacement characters for front ends that show it.
  WriteBytes(dir.path() / "\xFF\xFE\xFD\xFC-11-07.csv", "");
  const auto e = DateError<EUndatedLogError>([&] { CollectSongs(U16(dir.path().string()), kNov1, kNov30); });
  ASSERT_TRUE(e) << "an undated log was accepted";
  EXPECT_EQ(NativePath(e->FileName), dir.path().string() + "/\xFF\xFE\xFD\xFC-11-07.csv");
}

TEST(CollectSongs, LogOverOneGibibyteWithoutMarkIsReadWhole) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "decoding a gibibyte under the sanitizers takes too long; the plain build runs it";
#endif
  // A sparse file (a few megabytes on disk): a play line at the start and
  // at the end, the gap of zero bytes cut into lines of one mebibyte.
  TempDir dir;
  const std::string path = dir.File("2026-11-01.csv");
  const int64_t size = (int64_t{1} << 30) + (int64_t{64} << 20);
  const std::string first = PlayLine("N:\\first.mp3"), last = PlayLine("N:\\last.mp3");
  {
    // Writes past the end leave holes.
    std::ofstream f(test::Utf8Path(path), std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(f.write(first.data(), static_cast<std::streamsize>(first.size())));
    for (int64_t at = int64_t{1} << 20; at < size - (1 << 20); at += int64_t{1} << 20)
      ASSERT_TRUE(f.seekp(at).write("\n", 1));
    const int64_t end = size - static_cast<int64_t>(last.size());
    ASSERT_TRUE(f.seekp(end).write(last.data(), static_cast<std::streamsize>(last.size())));
  }
  ASSERT_EQ(std::filesystem::file_size(test::Utf8Path(path)), static_cast<uintmax_t>(size));
  if (const auto used = test::AllocatedBytes(path)) {
    ASSERT_LT(*used, 64 << 20) << "the file is not sparse";
  }
  TBuildSummary summary;
  std::vector<TSongInfo> rows = CollectSongs(U16(dir.path().string()), kNov1, kNov30, &summary);
  EXPECT_EQ(PathsOf(rows), (std::vector<std::u16string>{u"N:\\first.mp3", u"N:\\last.mp3"}));
  EXPECT_EQ(summary.PlayLines, 2);
  EXPECT_GT(summary.Lines, 1000);
}

TEST(CollectSongs, RowsAreCountedFirstThenFilledWithReadAheadOfLaterRows) {
  // Forty rows, among them a FIFO without a writer, a folder and missing
  // files, read with and without read-ahead of the next rows: the same tags,
  // no stall, nothing left open. (Windows has no FIFOs: there the name is a
  // missing file.)
  TempDir dir;
  std::filesystem::create_directories(dir.path() / "music" / "folder07.mp3");
  if (!kHostIsWindows) {
    ASSERT_TRUE(test::MakeFifo(dir.File("music/pipe13.mp3")));
  }
  std::string log;
  std::map<std::u16string, int> number;  // log path -> i
  for (int i = 0; i < 40; ++i) {
    const std::string name = i == 7 ? "folder07.mp3" : i == 13 ? "pipe13.mp3" : "song" + std::to_string(10 + i) + ".mp3";
    if (i % 5 != 4 && i != 7 && i != 13) {  // every fifth file is missing
      std::string v1 = "TAG" + ("Title " + std::to_string(i));
      v1.resize(128, '\0');
      v1[127] = '\xFF';
      WriteBytes(dir.File("music/" + name), std::string(3000, '\0') + v1);
    }
    log += PlayLine("N:\\Music\\" + name);
    number[U16("N:\\Music\\" + name)] = i;
  }
  std::filesystem::create_directories(dir.path() / "logs");
  WriteBytes(dir.File("logs/2026-11-05.csv"), log);
  SetPathMappings({PathMapping{u"N:\\Music\\", U16(dir.File("music/"))}});

  std::vector<TSongInfo> counted = CountPlays(U16(dir.File("logs")), kNov1, kNov30);
  ASSERT_EQ(counted.size(), 40u);
  for (const TSongInfo& r : counted) {
    EXPECT_EQ(r.PlayCount, 1);
    EXPECT_TRUE(r.T.title.empty() && r.T.filename.empty()) << "tags are read by FillRows only";
  }
  std::vector<TSongInfo> plain = counted, ahead = counted, deep = counted;
  const auto t0 = std::chrono::steady_clock::now();
  FillRows(plain, ReadAheadSettings{});
  FillRows(ahead);  // the report's own read-ahead
  FillRows(deep, ReadAheadSettings{1 << 20, 1 << 20, 100, false});  // deeper than the rows
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  // One row at a time: each step fills its own row, and no later one.
  std::vector<TSongInfo> stepped = counted;
  {
    RowFiller filler(stepped);
    for (size_t i = 0; i < stepped.size(); ++i) {
      ASSERT_TRUE(filler.FillNext());
      EXPECT_EQ(stepped[i].T.title, plain[i].T.title) << i;
      EXPECT_EQ(stepped[i].T.filename, plain[i].FN) << i;
      if (i + 1 < stepped.size()) {
        EXPECT_TRUE(stepped[i + 1].T.filename.empty()) << i;
      }
    }
    EXPECT_FALSE(filler.FillNext());
  }
  SetPathMappings({});
  for (size_t i = 0; i < counted.size(); ++i) {
    const int n = number.at(plain[i].FN);
    const bool tagged = n % 5 != 4 && n != 7 && n != 13;
    std::u16string title = U16("Title " + std::to_string(n));
    title.resize(30, u'\0');  // ID3v1 fields keep their padding
    EXPECT_EQ(plain[i].T.title, tagged ? title : u"") << Utf16ToUtf8(plain[i].FN);
    EXPECT_EQ(ahead[i].T.title, plain[i].T.title);
    EXPECT_EQ(deep[i].T.title, plain[i].T.title);
    EXPECT_EQ(ahead[i].T.filename, plain[i].FN);
  }
  // The FIFO has no reader left behind.
  if (!kHostIsWindows) {
    EXPECT_TRUE(test::FifoHasNoReader(dir.File("music/pipe13.mp3")));
  }
}

}  // namespace
}  // namespace ordana
