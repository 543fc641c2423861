// Text read and converted in pieces: the result must not depend on where
// the pieces end, and no size may overflow the conversion.
#include "platform/TextFile.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/TextCodec.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using Lines = std::vector<std::u16string>;

struct CodePageGuard {
  std::string saved = AnsiCodePage();
  ~CodePageGuard() { SetAnsiCodePage(saved); }
};

Lines LinesOfWhole(const std::string& bytes) {
  Lines out;
  ForEachLine(DecodeTextWithBom(bytes), [&](std::u16string_view l) { out.emplace_back(l); });
  return out;
}

Lines LinesInPieces(const std::u16string& path, size_t pieceBytes, size_t* pieces = nullptr) {
  Lines out;
  TextFileReader reader(path, pieceBytes);
  std::u16string text;
  size_t n = 0;
  while (reader.Next(text)) {
    ++n;
    ForEachLine(text, [&](std::u16string_view l) { out.emplace_back(l); });
  }
  if (pieces) *pieces = n;
  return out;
}

std::string Be(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += static_cast<char>(c >> 8), out += static_cast<char>(c & 0xFF);
  return out;
}

TEST(TextFileReader, SameLinesWhereverThePiecesEnd) {
  CodePageGuard guard;
  test::TempDir dir;
  // Line ends of every kind next to multi-byte characters, an empty line, a
  // lone CR before a line, a last line without an end.
  const std::u16string text = u"a;;1;N:\\Музыка\\🎵.mp3\r\nb\rc\n\r\n\nЖ\r\r\nend";
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::vector<Case> cases = {
      {"utf16le", "\xFF\xFE" + Utf16ToUtf16LE(text)},
      {"utf16be", "\xFE\xFF" + Be(text)},
      {"utf8", "\xEF\xBB\xBF" + Utf16ToUtf8(text).bytes()},
      {"ansi", Utf16ToAnsi(u"a;;1;N:\\Музыка\\x.mp3\r\nb\rc\n\r\n\nЖ\r\r\nend").bytes()},
      {"odd utf16", "\xFF\xFE" + Utf16ToUtf16LE(u"x\r\ny") + "\x41"},
      {"no line end", "\xEF\xBB\xBF" + Utf16ToUtf8(u"одна строка").bytes()},
      {"ends with CR", "a\r\nb\r"},
      {"only a mark", "\xFF\xFE"},
      {"two bytes", "\xEF\xBB"},
      {"empty", ""},
  };
  for (const Case& c : cases) {
    test::WriteBytes(dir.File("log.csv"), c.bytes);
    const Lines want = LinesOfWhole(c.bytes);
    for (size_t piece = 4; piece <= c.bytes.size() + 4; ++piece)
      ASSERT_EQ(LinesInPieces(dir.File16("log.csv"), piece), want) << c.name << " in pieces of " << piece;
  }
  // A code page of several bytes a character, cut anywhere.
  SetAnsiCodePage("shift_jis");
  const std::string sjis = Utf16ToAnsi(u"曲名\r\nアーティスト\n表示").bytes();
  test::WriteBytes(dir.File("sjis.csv"), sjis);
  ASSERT_EQ(LinesOfWhole(sjis), (Lines{u"曲名", u"アーティスト", u"表示"}));
  for (size_t piece = 4; piece <= sjis.size() + 4; ++piece)
    ASSERT_EQ(LinesInPieces(dir.File16("sjis.csv"), piece), LinesOfWhole(sjis)) << piece;
}

TEST(TextFileReader, PiecesAreWholeLinesAndBounded) {
  test::TempDir dir;
  std::string log;
  for (int i = 0; i < 2000; ++i) log += "10:00;;1;N:\\song" + std::to_string(i) + ".mp3\r\n";
  log += std::string(5000, 'x') + "\r\n";  // a line longer than a piece is kept whole
  test::WriteBytes(dir.File("log.csv"), log);
  size_t pieces = 0;
  const Lines got = LinesInPieces(dir.File16("log.csv"), 1024, &pieces);
  EXPECT_EQ(got, LinesOfWhole(log));
  EXPECT_EQ(got.back(), std::u16string(5000, u'x'));
  EXPECT_GE(pieces, log.size() / 1024 - 5);
  // A file that cannot be opened names itself.
  EXPECT_THROW(TextFileReader(dir.File16("missing.csv")), EFOpenError);
}

TEST(TextCodec, LongTextConvertsWholeAcrossInternalPieces) {
  CodePageGuard guard;
  // More than 16 Mi units, so the conversions work in several pieces, with
  // characters of two, three and four bytes standing across every cut.
  std::u16string text;
  const std::u16string unit = u"aЖ€🎵";  // 1 + 1 + 1 + 2 units; 1 + 2 + 3 + 4 bytes
  while (text.size() < (size_t{17} << 20)) text += unit;
  const std::string utf8 = Utf16ToUtf8(text).bytes();
  ASSERT_EQ(utf8.size(), text.size() / unit.size() * 10);
  EXPECT_EQ(utf8.substr(0, 10), "a\xD0\x96\xE2\x82\xAC\xF0\x9F\x8E\xB5");
  EXPECT_TRUE(Utf8ToUtf16(Utf8View(utf8)) == text);
  // Cut one byte later, so every sequence stands somewhere else.
  EXPECT_TRUE(Utf8ToUtf16(Utf8View(utf8.substr(1))) == text.substr(1));

  std::u16string cyr;
  while (cyr.size() < (size_t{17} << 20)) cyr += u"Привет\r\n";
  const std::string ansi = Utf16ToAnsi(cyr).bytes();
  ASSERT_EQ(ansi.size(), cyr.size());
  EXPECT_TRUE(AnsiToUtf16(AnsiView(ansi)) == cyr);
  SetAnsiCodePage("shift_jis");
  std::u16string jp;
  while (jp.size() < (size_t{17} << 20)) jp += u"曲a";
  const std::string sjis = Utf16ToAnsi(jp).bytes();
  ASSERT_EQ(sjis.size(), jp.size() / 2 * 3);
  EXPECT_TRUE(AnsiToUtf16(AnsiView(sjis)) == jp);
}

}  // namespace
}  // namespace ordana
