#include "report/HtmlReport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <limits>

#include "platform/FileIO.h"
#include "platform/Strings.h"
#include "platform/TextCodec.h"
#include "report/BuildReport.h"
#include "support/FaultInjection.h"
#include "support/PlayLogs.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::kNov1;
using test::kNov30;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// The fixed start of every page, as UTF-8.
const std::string kHead =
    "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=win-1251\" /></head><body>"
    "<table border=1 cellpadding=0 cellspacing=1 style=\"border-collapse:collapse;\">"
    "<tr><td>Наименование, дата, месяц и время выхода в эфир программы (начало-конец, мин., сек.)</td><td>Название произведений, "
    "ис- пользуемых в программе</td><td>Авторы (правообладатели) ФИО композитора и автора текста</td><td>Длитель ность звучания произведения"
    "(мин. сек)</td><td>Кол-во испол-нений</td><td>Общая длитель-ность звучания произведения(мин. сек)(гр.4 х гр.5)</td><td>Жанр произве-дения"
    "</td><td>Исполнитель (ФИО испол-нителя или название кол- лектива)</td><td>Источник заимствования фонограмм (код носителя, название производителя)</td>"
    "<tr><td>1</td><td>2</td><td>3</td><td>4</td><td>5</td><td>6</td><td>7</td><td>8</td><td>9</td>";
const std::string kTail = "</table></body></html>";

// UTF-8 text in Windows-1251 by a table of the letters the pages hold (ASCII
// and the Russian alphabet), for systems without iconv.
std::string Cp1251ByTable(const std::string& utf8) {
  std::string out;
  for (char16_t c : Utf8ToUtf16(Utf8View(utf8))) {
    if (c < 0x80) out += static_cast<char>(c);
    else if (c >= 0x410 && c <= 0x44F) out += static_cast<char>(0xC0 + (c - 0x410));
    else if (c == 0x401) out += '\xA8';  // Ё
    else if (c == 0x451) out += '\xB8';  // ё
    else ADD_FAILURE() << "no Windows-1251 byte in the table for U+" << std::hex << int(c);
  }
  return out;
}

// UTF-8 text in Windows-1251, encoded by the system's iconv (an independent
// encoder); on Windows, which has none, by the table above.
std::string Cp1251(const std::string& utf8) {
  if (!test::kHaveLinuxTools) return Cp1251ByTable(utf8);
  TempDir dir;
  WriteBytes(dir.File("in"), utf8);
  int rc = test::Run("iconv -f UTF-8 -t CP1251 -o " + test::ShellQuote(dir.File("out")) + " " +
                     test::ShellQuote(dir.File("in")));
  EXPECT_EQ(rc, 0) << "iconv failed";
  return ReadBytes(dir.File("out"));
}

TSongInfo Row(const std::u16string& title, const std::u16string& artist, const std::u16string& genre,
              uint32_t len, int32_t count) {
  TSongInfo r;
  r.FN = u"N:\\Music\\" + title + u".mp3";
  r.T.title = title;
  r.T.artist = artist;
  r.T.genre = genre;
  r.Len = len;
  r.PlayCount = count;
  return r;
}

TEST(FormatPlayTime, MinutesAndSeconds) {
  EXPECT_EQ(FormatPlayTime(0), u"?\?:?\?");
  EXPECT_EQ(FormatPlayTime(999), u"00:00");
  EXPECT_EQ(FormatPlayTime(1000), u"00:01");
  EXPECT_EQ(FormatPlayTime(59999), u"00:59");
  EXPECT_EQ(FormatPlayTime(60000), u"01:00");
  EXPECT_EQ(FormatPlayTime(7530000), u"125:30");
  EXPECT_EQ(FormatPlayTime(7530000LL * 3), u"376:30");
  EXPECT_EQ(FormatPlayTime(std::numeric_limits<uint32_t>::max()), u"71582:47");
  EXPECT_EQ(FormatPlayTime(int64_t{std::numeric_limits<uint32_t>::max()} * std::numeric_limits<int32_t>::max()),
            u"153722867173538:44");
}

TEST(EscapeXmlText, EntitiesAndInvalidCharacters) {
  EXPECT_EQ(EscapeXmlText(u"Rock & Roll <Live>"), u"Rock &amp; Roll &lt;Live&gt;");
  EXPECT_EQ(EscapeXmlText(u"\"Don't\""), u"&quot;Don&#39;t&quot;");
  EXPECT_EQ(EscapeXmlText(u"a\tb\nc\rd"), u"a\tb\nc\rd");
  EXPECT_EQ(EscapeXmlText(u"a\x01" u"b\x1F" u"c\x0B"), u"abc");
  EXPECT_EQ(EscapeXmlText(std::u16string(u"a\0b", 3)), u"ab");
  EXPECT_EQ(EscapeXmlText(u"x\U0001F3B5y"), u"xy");  // both halves of the pair go
  EXPECT_EQ(EscapeXmlText(u"\xFFFE\xFFFF\xFFFD\xE000\xD7FF"), u"\xFFFD\xE000\xD7FF");
  EXPECT_EQ(EscapeXmlText(u"Кино"), u"Кино");
  EXPECT_TRUE(IsValidXmlChar(0x20));
  EXPECT_FALSE(IsValidXmlChar(0x1F));
  EXPECT_FALSE(IsValidXmlChar(0xD800));
  EXPECT_FALSE(IsValidXmlChar(0xDFFF));
  EXPECT_TRUE(IsValidXmlChar(0xE000));
}

TEST(HtmlReport, PageWithoutRows) {
  TempDir dir;
  const std::u16string out = dir.File16("report.htm");
  WriteHtmlReport({}, out, kNov1, kNov30);
  const std::string bytes = ReadBytes(dir.File("report.htm"));
  EXPECT_EQ(bytes, Cp1251(kHead + kTail));
  EXPECT_EQ(bytes.find('\n'), std::string::npos);
  EXPECT_EQ(bytes.find('\r'), std::string::npos);
  // "Наименование" in Windows-1251, no byte-order mark.
  EXPECT_NE(bytes.find("<tr><td>\xCD\xE0\xE8\xEC\xE5\xED\xEE\xE2\xE0\xED\xE8\xE5,"), std::string::npos);
}

TEST(HtmlReport, PageWithRows) {
  TempDir dir;
  std::vector<TSongInfo> rows{
      Row(u"  Rock & Roll <Live>\t ", u" Кино ", u"Rock", 7530000, 3),
      Row(u"   ", u"", u"", 0, 1),
      Row(u"Tab\tin\x01side", u"Ψυχή", u"Поп", 999, 12),
  };
  WriteHtmlReport(rows, dir.File16("r.htm"), TDate{2026, 3, 1}, TDate{2026, 3, 9});
  const std::string p = "<tr><td>01.03.2026 - 09.03.2026</td><td>";
  const std::string expected =
      kHead + p + "Rock &amp; Roll &lt;Live&gt;</td><td>нет данных</td><td>125:30</td><td>3</td><td>376:30"
                  "</td><td>Rock</td><td>Кино</td><td>нет данных</td></tr>" +
      p + "</td><td>нет данных</td><td>?\?:?\?</td><td>1</td><td>?\?:?\?</td><td></td><td></td><td>нет данных</td></tr>" +
      p + "Tab\tinside</td><td>нет данных</td><td>00:00</td><td>12</td><td>00:11</td><td>Поп</td><td>????"
          "</td><td>нет данных</td></tr>" +
      kTail;
  EXPECT_EQ(ReadBytes(dir.File("r.htm")), Cp1251(expected));
  EXPECT_EQ(ReadBytes(dir.File("r.htm")).find("&#"), std::string::npos);
}

TEST(HtmlReport, TotalIsComputedIn64Bits) {
  std::vector<TSongInfo> rows{Row(u"long", u"", u"", std::numeric_limits<uint32_t>::max(),
                                  std::numeric_limits<int32_t>::max())};
  std::u16string page = ComposeHtmlReport(rows, kNov1, kNov30);
  EXPECT_NE(page.find(u"<td>71582:47</td><td>2147483647</td><td>153722867173538:44</td>"),
            std::u16string::npos);
}

TEST(HtmlReport, ShorterReportReplacesLongerOne) {
  TempDir dir;
  std::vector<TSongInfo> many;
  for (int i = 0; i < 50; ++i) many.push_back(Row(u"t" + IntToStr(i), u"a", u"g", 1000, 1));
  WriteHtmlReport(many, dir.File16("r.htm"), kNov1, kNov30);
  namespace fs = std::filesystem;
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(dir.path() / "r.htm", mode);
  WriteHtmlReport({}, dir.File16("r.htm"), kNov1, kNov30);
  EXPECT_EQ(ReadBytes(dir.File("r.htm")), Cp1251(kHead + kTail));
  // The report keeps its permissions (Windows knows only "read-only").
  if (!kHostIsWindows) {
    EXPECT_EQ(fs::status(dir.path() / "r.htm").permissions() & fs::perms::mask, mode);
  }
}

// An existing report that cannot be opened for writing stays as it was.
TEST(HtmlReport, ExistingReportThatCannotBeOpened) {
  TempDir dir;
  // A folder where the report should be.
  std::filesystem::create_directory(dir.path() / "r.htm");
  try {
    WriteHtmlReport({}, dir.File16("r.htm"), kNov1, kNov30);
    ADD_FAILURE() << "a folder was taken for the report";
  } catch (const EOrdanaError& e) {
    EXPECT_EQ(e.ClassName(), "EFOpenError");
    EXPECT_EQ(e.Message().rfind("Cannot open file \"" + dir.File("r.htm") + "\". ", 0), 0u) << e.Message();
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "r.htm"));

  // A read-only report (no write permission for its owner) is refused the
  // same for every user, root included, with the system's words for it.
  const std::string ro = dir.File("ro.htm");
  WriteBytes(ro, "old report");
  std::filesystem::permissions(dir.path() / "ro.htm", std::filesystem::perms::owner_write |
                                                          std::filesystem::perms::group_write |
                                                          std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
  try {
    WriteHtmlReport({}, dir.File16("ro.htm"), kNov1, kNov30);
    ADD_FAILURE() << "a read-only report was replaced";
  } catch (const EOrdanaError& e) {
    EXPECT_EQ(e.ClassName(), "EFOpenError");
    EXPECT_EQ(e.Message(), "Cannot open file \"" + ro + "\". " + SystemMessage(EACCES));
  }
  EXPECT_EQ(ReadBytes(ro), "old report");
}

// The report is written where its name leads and stays the file it was: a
// symbolic link keeps pointing at it, hard links keep sharing it, its owner
// stays, and a report in a folder the user may not write is written in place.
TEST(HtmlReport, LinkedOwnedAndUnwritableFolderReports) {
  TempDir dir;
  const std::string page = Cp1251(kHead + kTail);
  std::filesystem::create_directory(dir.path() / "real");
  WriteBytes(dir.File("real/report.htm"), "old");
  if (!kHostIsWindows) {  // symbolic links need a privilege there
    std::filesystem::create_symlink("real/report.htm", dir.path() / "link.htm");
    WriteHtmlReport({}, dir.File16("link.htm"), kNov1, kNov30);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "link.htm"));
    EXPECT_EQ(ReadBytes(dir.File("real/report.htm")), page);
  }

  std::filesystem::create_hard_link(dir.path() / "real" / "report.htm", dir.path() / "copy.htm");
  WriteBytes(dir.File("copy.htm"), "older");
  WriteHtmlReport({}, dir.File16("copy.htm"), kNov1, kNov30);
  EXPECT_EQ(ReadBytes(dir.File("real/report.htm")), page);

  if (!test::RunningAsRoot()) return;  // other owners need root
  const std::string owned = dir.File("real/owned.htm");
  WriteBytes(owned, "old");
  ASSERT_TRUE(test::ChangeOwner(owned, 65534, 65534));
  WriteHtmlReport({}, U16(owned), kNov1, kNov30);
  EXPECT_EQ(test::OwnerOf(owned), (std::pair<unsigned, unsigned>{65534, 65534}));
  // A writable report in root's folder, written by another user.
  namespace fs = std::filesystem;
  const fs::perms open = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                         fs::perms::others_read | fs::perms::others_exec;
  fs::permissions(dir.path(), open);
  fs::permissions(dir.path() / "real", open);
  std::filesystem::remove(dir.path() / "copy.htm");
  test::ChangeOwner(dir.File("real/report.htm"), 65534, 65534);
  WriteBytes(dir.File("real/report.htm"), "previous");
  const int status = test::RunAsUser(65534, 65534, [&] {
    try {
      WriteHtmlReport({}, dir.File16("real/report.htm"), kNov1, kNov30);
    } catch (...) {
      return 1;
    }
    return 0;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadBytes(dir.File("real/report.htm")), page);
}

TEST(HtmlReport, FolderWhereNoFileCanBeCreated) {
  TempDir dir;
  const std::string missing = dir.File("no-such-folder/r.htm");
  try {
    WriteHtmlReport({}, U16(missing), kNov1, kNov30);
    ADD_FAILURE() << "no error";
  } catch (const EOrdanaError& e) {
    EXPECT_EQ(e.ClassName(), "EFCreateError");
    EXPECT_EQ(e.Message().rfind("Cannot create file \"" + missing + "\". ", 0), 0u) << e.Message();
  }
  // A folder that refuses new files: by its mode, or for root as an
  // immutable folder where the file system supports that. (A folder's
  // read-only attribute on Windows does not refuse them.)
  ORDANA_SKIP_ON_WINDOWS("Windows has no folder mode that refuses new files to their owner");
  const std::string ro = dir.File("ro");
  std::filesystem::create_directory(ro);
  bool immutable = false;
  if (test::RunningAsRoot()) {
    immutable = test::Run("chattr +i " + test::ShellQuote(ro)) == 0;
    if (!immutable) GTEST_SKIP() << "running as root without chattr +i support: every folder is writable";
  } else {
    std::filesystem::permissions(ro, std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                         std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
  }
  EXPECT_THROW(WriteHtmlReport({}, U16(dir.File("ro/r.htm")), kNov1, kNov30), EFCreateError);
  if (immutable) test::Run("chattr -i " + test::ShellQuote(ro));
  EXPECT_TRUE(std::filesystem::is_empty(ro));
}

TEST(HtmlReport, FailedWriteKeepsThePreviousReport) {
  TempDir dir;
  WriteBytes(dir.File("r.htm"), "previous report, longer than nothing");
  for (int failAt = 1; failAt <= 3; ++failAt) {
    test::FailingSteps ops(failAt);
    bool threw = false;
    try {
      WriteHtmlReport({Row(u"x", u"y", u"z", 1000, 2)}, dir.File16("r.htm"), kNov1, kNov30);
    } catch (const EOrdanaError& e) {
      threw = true;
      EXPECT_EQ(e.ClassName(), "EWriteError");
      EXPECT_EQ(e.Message(), "Stream write error");
    }
    ops.Remove();
    EXPECT_EQ(threw, ops.Fired()) << failAt;
    EXPECT_EQ(ReadBytes(dir.File("r.htm")), "previous report, longer than nothing");
  }
  // A report that did not exist before leaves nothing behind.
  test::FailingSteps ops(1);
  EXPECT_THROW(WriteHtmlReport({}, dir.File16("new.htm"), kNov1, kNov30), EWriteError);
  ops.Remove();
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "new.htm"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(BuildReport, WritesNothingWhenCollectionFails) {
  TempDir logs, out;
  WriteBytes(logs.File("2026-11-02.csv"), "10:00;;1;N:\\Music\\a.mp3\r\n");
  BuildReport(U16(logs.path().string()), out.File16("r.htm"), kNov1, kNov30);
  const std::string first = ReadBytes(out.File("r.htm"));
  EXPECT_NE(first.find("<tr><td>01.11.2026 - 30.11.2026</td><td></td><td>"), std::string::npos);
  EXPECT_NE(first.find("<td>?\?:?\?</td><td>1</td><td>?\?:?\?</td>"), std::string::npos);

  WriteBytes(logs.File("list.csv"), "");
  EXPECT_THROW(BuildReport(U16(logs.path().string()), out.File16("r.htm"), kNov1, kNov30), EConvertError);
  EXPECT_EQ(ReadBytes(out.File("r.htm")), first);
  EXPECT_THROW(BuildReport(U16(logs.path().string()), out.File16("new.htm"), kNov1, kNov30), EConvertError);
  EXPECT_FALSE(std::filesystem::exists(out.path() / "new.htm"));
}

}  // namespace
}  // namespace ordana
