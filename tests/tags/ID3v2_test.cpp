#include "tags/ID3v2.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/TextCodec.h"
#include "support/Mutagen.h"
#include "support/Id3Bytes.h"
#include "support/TagText.h"
#include "support/TestFiles.h"
#include "tags/ID3v1.h"

namespace ordana {
namespace {

using namespace std::string_literals;
using namespace test;

std::string Latin(const std::string& s) { return "\x00"s + s; }  // encoding 0
std::string Utf16LE(const std::u16string& s) {
  return "\x01\xFF\xFE"s + Utf16ToUtf16LE(s);
}
const std::string kAudio = "\xFF\xFB\x90\x00" + std::string(400, 'a');

class ID3v2Test : public ::testing::Test {
 protected:
  // Writes bytes (a tag, then audio) and reads them; the read's result.
  bool Read(const std::string& bytes) {
    WriteBytes(dir.File("t.mp3"), bytes);
    return tag.ReadFromFile(dir.File16("t.mp3"));
  }
  TempDir dir;
  TID3v2 tag;
};

TEST_F(ID3v2Test, TotalSizeRules) {
  uint8_t h[10] = {'I', 'D', '3', 3, 0, 0, 0, 0, 2, 1};
  EXPECT_EQ(ID3v2TotalTagSize(h, 1000), 267);
  h[5] = 0x10;  // footer
  EXPECT_EQ(ID3v2TotalTagSize(h, 1000), 277);
  EXPECT_EQ(ID3v2TotalTagSize(h, 276), 0);
  h[5] = 0;
  h[6] = 0x80;  // top bits are not masked off
  EXPECT_EQ(ID3v2TotalTagSize(h, int64_t{1} << 40), (0x80 << 21) + 256 + 1 + 10);

  std::string header = "ID3"s + Bytes({3, 0, 0, 0, 0, 2, 1});
  std::string body = F23("TIT2", Latin("Title"));
  ASSERT_TRUE(Read(header + body + Zeros(267 - 10 - body.size()) + kAudio));
  EXPECT_TRUE(tag.Exists());
  EXPECT_EQ(tag.Size(), 267);
  EXPECT_EQ(tag.OldTagSize(), 267);
  EXPECT_EQ(tag.Title(), u"Title");

  // A tag claiming more than the file holds: size 0, nothing read.
  std::string small = header + body;
  small.resize(200, '\0');
  ASSERT_TRUE(Read(small));
  EXPECT_TRUE(tag.Exists());
  EXPECT_EQ(tag.VersionID(), 3);
  EXPECT_EQ(tag.Size(), 0);
  EXPECT_EQ(tag.Title(), u"");
}

TEST_F(ID3v2Test, UnknownVersionsAndExtendedHeaderGiveNoFields) {
  for (int v : {1, 5}) {
    ASSERT_TRUE(Read(Id3Tag(v, F23("TIT2", Latin("Title"))) + kAudio));
    EXPECT_TRUE(tag.Exists());
    EXPECT_EQ(tag.VersionID(), v);
    EXPECT_EQ(tag.Size(), 10 + 16);
    EXPECT_EQ(tag.Title(), u"");
  }
  // Extended header (flag 0x40): its size bytes at offset 10 end the walk.
  ASSERT_TRUE(Read(Id3Tag(3, BE32(6) + Zeros(6) + F23("TIT2", Latin("Title")), 0x40) + kAudio));
  EXPECT_TRUE(tag.Exists());
  EXPECT_EQ(tag.Title(), u"");
}

TEST_F(ID3v2Test, NoTagShortAndMissingFiles) {
  ASSERT_TRUE(Read("ID4" + Zeros(50)));
  EXPECT_FALSE(tag.Exists());
  ASSERT_TRUE(Read("id3\x03" + Zeros(50)));
  EXPECT_FALSE(tag.Exists());
  EXPECT_FALSE(Read("ID3\x03\x00\x00\x00\x00\x00"));  // 9 bytes
  EXPECT_FALSE(tag.Exists());
  EXPECT_FALSE(tag.ReadFromFile(dir.File16("missing.mp3")));
  // A read resets what the last one found.
  ASSERT_TRUE(Read(Id3Tag(3, F23("TIT2", Latin("One"))) + kAudio));
  ASSERT_EQ(tag.Title(), u"One");
  ASSERT_TRUE(Read(kAudio));
  EXPECT_EQ(tag.Title(), u"");
  EXPECT_EQ(tag.Size(), 0);
  EXPECT_EQ(tag.OldTagSize(), 0);
}

TEST(ID3v2Text, Utf16WithAndWithoutByteOrderMark) {
  EXPECT_EQ(DecodeFrameText("\x01\xFF\xFE" "A\0B\0"s), u"AB");
  EXPECT_EQ(DecodeFrameText("\x01\xFE\xFF\0A\0B"s), u"AB");
  EXPECT_EQ(DecodeFrameText("\x01" "A\0B\0"s), u"AB");  // no mark: little-endian
  EXPECT_EQ(DecodeFrameText("\x01\xFF\xFE" "A\0\0\0B\0"s), u"A");  // a zero unit ends it
  EXPECT_EQ(DecodeFrameText("\x01\xFF\xFE" " \0A\0 \0\x09\0"s), u"A");  // trimmed
  // ÿ (U+00FF) is a letter like any other; marks inside the text are left out.
  EXPECT_EQ(DecodeFrameText("\x01\xFF\xFE" "\xFF\0A\0\xFF\xFE" "B\0"s), u"\u00FF" u"AB");
  EXPECT_EQ(DecodeFrameText("\x01\xFE\xFF\0\xFF\xFF\xFE\0B"s), u"\u00FF" u"B");
  EXPECT_EQ(DecodeFrameText("\x01\xFF\xFE\x30\x04"s), u"а");  // odd tail byte ignored below
  EXPECT_EQ(DecodeFrameText("\x01\xFF\xFE\x30\x04\x31"s), u"а");
  EXPECT_EQ(DecodeFrameText("\x01"s), u"");
  EXPECT_EQ(DecodeFrameText("\x01\xFE"s), u"");
}

TEST(ID3v2Text, Encoding2IsUtf16BigEndian) {
  EXPECT_EQ(DecodeFrameText("\x02\0S\0o\0n\0g"s), u"Song");
  EXPECT_EQ(DecodeFrameText("\x02\x04\x1F\x04\x35\x04\x41\x04\x3D\x04\x4F"s), u"Песня");
  EXPECT_EQ(DecodeFrameText("\x02\xD8\x3D\xDE\x00"s), u"\U0001F600");  // a surrogate pair
  EXPECT_EQ(DecodeFrameText("\x02\0A\0\0\0B"s), u"A");    // a zero unit ends it
  EXPECT_EQ(DecodeFrameText("\x02\0 \0A\0 "s), u"A");      // trimmed
  EXPECT_EQ(DecodeFrameText("\x02\xFE\xFF\0A"s), u"A");    // a mark is left out
  EXPECT_EQ(DecodeFrameText("\x02\xFF\xFE" "A\0"s), u"A");  // a little-endian mark is obeyed
  EXPECT_EQ(DecodeFrameText("\x02\0"s), u"");
  // In comments, the description ends at a zero unit.
  EXPECT_EQ(TextAfterDescription("\x02" "eng" "\0d\0\0" "\0H\0i"s, true), u"Hi");
}

TEST(ID3v2Text, AnsiAndUtf8Encodings) {
  ASSERT_EQ(AnsiCodePage(), kDefaultAnsiCodePage);
  // Encoding 0 is read in the ANSI code page (Windows-1251), not ISO-8859-1.
  EXPECT_EQ(DecodeFrameText("\x00"s + Utf16ToAnsi(u"Привет").bytes() + "\0\0"s), u"Привет");
  // Encoding 3: UTF-8, untrimmed, up to the terminating zero byte (the
  // first of several values).
  EXPECT_EQ(DecodeFrameText("\x03" "\xD0\x9F\xD1\x80\x00"s), u"Пр");
  EXPECT_EQ(DecodeFrameText("\x03" "One\0Two"s), u"One");
  EXPECT_EQ(DecodeFrameText("\x03 x "s), u" x ");
  EXPECT_EQ(DecodeFrameText(""), u"");
  EXPECT_EQ(DecodeFrameText("plain"), u"plain");  // no encoding byte at all
}

TEST(ID3v2Text, CommentAndLinkDescriptions) {
  EXPECT_EQ(TextAfterDescription("\x00" "eng" "\x00" "Hello"s, true), u"Hello");
  EXPECT_EQ(TextAfterDescription("\x00" "eng" "desc\x00" "Hello"s, true), u"Hello");
  EXPECT_EQ(TextAfterDescription("\x03" "eng" "\xD0\x94\x00\xD0\x9F"s, true), u"П");
  // UTF-16: the empty description is FF FE 00 00; the text keeps its own mark.
  EXPECT_EQ(TextAfterDescription("\x01" "eng" "\xFF\xFE\0\0" "\xFF\xFE" "H\0i\0"s, true), u"Hi");
  // A description ending in a letter with a zero high byte: the terminator is
  // the next whole zero unit, not the zero byte inside "A".
  EXPECT_EQ(TextAfterDescription("\x01" "eng" "\xFF\xFE" "A\0\0\0" "\xFF\xFE" "H\0i\0"s, true),
            u"Hi");
  // No terminator: one byte (UTF-16) or nothing (8-bit) is dropped.
  EXPECT_EQ(TextAfterDescription("\x00" "engHello"s, true), u"Hello");
  EXPECT_EQ(TextAfterDescription("\x00" "\x00" "http://x.org/"s, false), u"http://x.org/");
  EXPECT_EQ(TextAfterDescription("\x00" "ab"s, true), u"");
  EXPECT_EQ(TextAfterDescription("", true), u"");
}

TEST(ID3v2Text, TrackAndGenre) {
  EXPECT_EQ(ParseTrackNumber(Latin("3/12")), 3);
  EXPECT_EQ(ParseTrackNumber(Latin("A1")), 0);
  EXPECT_EQ(ParseTrackNumber(Latin("12")), 12);
  EXPECT_EQ(ParseTrackNumber(Latin("-1")), 0xFFFF);  // low 16 bits
  EXPECT_EQ(ParseTrackNumber(Latin("70000")), 70000 & 0xFFFF);
  EXPECT_EQ(ParseTrackNumber(""), 0);
  EXPECT_EQ(ParseTrackNumber(Utf16LE(u"7/9")), 7);
  EXPECT_EQ(StripGenreReference(Latin("(17)Rock")), u"Rock");
  EXPECT_EQ(StripGenreReference(Latin("(17)")), u"");
  EXPECT_EQ(StripGenreReference(Latin("17")), u"17");
  EXPECT_EQ(StripGenreReference(Latin("(1)(2)Pop")), u"Pop");
}

TEST_F(ID3v2Test, FieldsFromFramesOfVersion23) {
  std::string frames = F23("TIT2", Utf16LE(u"Заголовок")) + F23("TPE1", Latin("Artist")) +
                       F23("TALB", "\x03" "Альбом"s) + F23("TRCK", Latin("3/12")) +
                       F23("TYER", Latin("1999")) + F23("TCON", Latin("(17)Rock")) +
                       F23("COMM", "\x00" "eng" "\x00" "Hello"s) + F23("TCOM", Latin("Comp")) +
                       F23("TENC", Utf16LE(u"Кодер")) + F23("TCOP", Latin("(c) X")) +
                       F23("TLAN", Latin("rus")) + F23("WXXX", "\x00" "d\x00http://x/"s) +
                       F23("APIC", std::string(3000, 'p'));
  ASSERT_TRUE(Read(Id3Tag(3, frames, 0, 100) + kAudio));
  EXPECT_EQ(tag.Title(), u"Заголовок");
  EXPECT_EQ(tag.Artist(), u"Artist");
  EXPECT_EQ(tag.Album(), u"Альбом");
  EXPECT_EQ(tag.Track(), 3);
  EXPECT_EQ(tag.TrackString(), "3/12");
  EXPECT_EQ(tag.Year(), u"1999");
  EXPECT_EQ(tag.Genre(), u"Rock");
  EXPECT_EQ(tag.Comment(), u"Hello");
  EXPECT_EQ(tag.Composer(), u"Comp");
  EXPECT_EQ(tag.Encoder(), Utf16ToAnsi(u"Кодер"));
  EXPECT_EQ(tag.Copyright(), "(c) X");
  EXPECT_EQ(tag.Language(), "rus");
  EXPECT_EQ(tag.Link(), "http://x/");
}

TEST_F(ID3v2Test, FallbackSlotsAndPrecedence) {
  // Empty TIT2 falls back to TIT1; absent TYER to TDRC (whole stamp, trimmed);
  // TOPE and TOAL stand in for TPE1 and TALB.
  ASSERT_TRUE(Read(Id3Tag(4, F24("TIT2", Latin("")) + F24("TIT1", Latin("Group")) +
                              F24("TDRC", "\x03" "2001-05-06T10:00\0"s) + F24("TOPE", Latin("Orig")) +
                              F24("TOAL", Latin("OrigAlbum"))) +
                   kAudio));
  EXPECT_EQ(tag.Title(), u"Group");
  EXPECT_EQ(tag.Year(), u"2001-05-06T10:00");
  EXPECT_EQ(tag.Artist(), u"Orig");
  EXPECT_EQ(tag.Album(), u"OrigAlbum");
  // The main slots win over their fallbacks; the last of two frames wins.
  ASSERT_TRUE(Read(Id3Tag(3, F23("TIT1", Latin("Group")) + F23("TIT2", Latin("First")) +
                              F23("TYER", Latin("1999")) + F23("TDRC", Latin("2001")) +
                              F23("TIT2", Latin("Second"))) +
                   kAudio));
  EXPECT_EQ(tag.Title(), u"Second");
  EXPECT_EQ(tag.Year(), u"1999");
  // A zero-size frame holds nothing; a frame with the skip flag is ignored.
  ASSERT_TRUE(Read(Id3Tag(3, F23("TIT2", "") + F23("TIT1", Latin("G")) +
                              F23("TPE1", Latin("Hidden"), 0x80) + F23("TALB", Latin("Alb"))) +
                   kAudio));
  EXPECT_EQ(tag.Title(), u"G");
  EXPECT_EQ(tag.Artist(), u"");
  EXPECT_EQ(tag.Album(), u"Alb");
}

TEST_F(ID3v2Test, FrameSizeReadingsOfVersion24) {
  // 00 00 01 7F: seven-bit reading, 255 bytes.
  std::string f1 = "TXXX"s + Bytes({0, 0, 1, 0x7F, 0, 0}) + std::string(255, 'x');
  ASSERT_TRUE(Read(Id3Tag(4, f1 + F24("TIT2", Latin("After"))) + kAudio));
  EXPECT_EQ(tag.Title(), u"After");
  // 00 00 81 00: a top bit is set, so the plain number 33,024.
  std::string f2 = "TXXX"s + Bytes({0, 0, 0x81, 0}) + Zeros(2) + std::string(33024, 'x');
  ASSERT_TRUE(Read(Id3Tag(4, f2 + F24("TIT2", Latin("Plain"))) + kAudio));
  EXPECT_EQ(tag.Title(), u"Plain");
  // A slot frame with a plain size: its data is read whole.
  std::string f3 = "TPE1"s + Bytes({0, 0, 0x80, 0x04}) + Zeros(2) + Latin(std::string(32771, 'a'));
  ASSERT_TRUE(Read(Id3Tag(4, f3 + F24("TIT2", Latin("T"))) + kAudio));
  EXPECT_EQ(tag.Artist(), std::u16string(32771, u'a'));
  EXPECT_EQ(tag.Title(), u"T");
}

TEST_F(ID3v2Test, LittleEndianSizeFallbackOfVersion23) {
  // Big-endian 05 00 00 00 exceeds the tag: the bytes are read little-endian.
  std::string f = "TXXX"s + Bytes({5, 0, 0, 0, 0, 0}) + "12345";
  ASSERT_TRUE(Read(Id3Tag(3, f + F23("TIT2", Latin("Next"))) + kAudio));
  EXPECT_EQ(tag.Title(), u"Next");
}

TEST_F(ID3v2Test, FramesOfVersion22) {
  std::string frames = F22("TT2", Latin("Title22")) + F22("TP1", Utf16LE(u"Артист")) +
                       F22("TAL", Latin("Album")) + F22("TRK", Latin("4/10")) +
                       F22("TYE", Latin("1987")) + F22("TCO", Latin("(8)Jazz")) +
                       F22("COM", "\x00" "eng" "\x00" "Note"s) + F22("PIC", std::string(700, 'p'));
  ASSERT_TRUE(Read(Id3Tag(2, frames, 0, 50) + kAudio));
  EXPECT_EQ(tag.VersionID(), 2);
  EXPECT_EQ(tag.Title(), u"Title22");  // zero padding to 500 bytes trimmed away
  EXPECT_EQ(tag.Artist(), u"Артист");
  EXPECT_EQ(tag.Album(), u"Album");
  EXPECT_EQ(tag.Track(), 4);
  EXPECT_EQ(tag.Year(), u"1987");
  EXPECT_EQ(tag.Genre(), u"Jazz");
  EXPECT_EQ(tag.Comment(), u"Note");
  // 2.3 identifiers mean nothing in a 2.2 tag... and a 600-byte TT2 counts
  // with its first 500 bytes, while the walk still moves 600 bytes on.
  std::string long22 = F22("TT2", Latin(std::string(499, 'a') + std::string(100, 'b'))) +
                       F22("TP1", Latin("Next"));
  ASSERT_TRUE(Read(Id3Tag(2, long22) + kAudio));
  EXPECT_EQ(tag.Title(), std::u16string(499, u'a'));
  EXPECT_EQ(tag.Artist(), u"Next");
  ASSERT_TRUE(Read(Id3Tag(2, "TIT2" + BE24(5) + Latin("Nope")) + kAudio));
  EXPECT_EQ(tag.Title(), u"");
}

TEST_F(ID3v2Test, LargeFramesAreCutAt500000Bytes) {
  std::string big = F23("TIT2", Latin(std::string(600000, 'z'))) + F23("TPE1", Latin("After"));
  ASSERT_TRUE(Read(Id3Tag(3, big) + kAudio));
  EXPECT_EQ(tag.Title(), std::u16string(kID3v2FrameLimit - 1, u'z'));
  EXPECT_EQ(tag.Artist(), u"After");
}

TEST_F(ID3v2Test, DamagedFramesEndTheWalkKeepingEarlierFrames) {
  const std::string good = F23("TIT2", Latin("Kept"));
  // Data reaching past the end of the file (the tag claims the whole file).
  {
    std::string frames = good + "TPE1" + BE32(5000) + Zeros(2) + Latin("x");
    std::string t = "ID3\x03\0\0"s + SyncSafe(uint32_t(frames.size())) + frames;
    ASSERT_TRUE(Read(t));
    EXPECT_EQ(tag.Title(), u"Kept");
    EXPECT_EQ(tag.Artist(), u"");
  }
  // A frame header cut by the end of the file.
  {
    std::string frames = good + "TPE1";
    ASSERT_TRUE(Read("ID3\x03\0\0"s + SyncSafe(uint32_t(frames.size())) + frames));
    EXPECT_EQ(tag.Title(), u"Kept");
  }
  // Negative sizes (plain readings with the top bit set) end the walk.
  ASSERT_TRUE(Read(Id3Tag(4, good + "TPE1"s + Bytes({0x80, 0, 0, 0, 0, 0}) + Latin("x") +
                              F24("TALB", Latin("Lost"))) +
                   kAudio));
  EXPECT_EQ(tag.Title(), u"Kept");
  EXPECT_EQ(tag.Album(), u"");
  ASSERT_TRUE(Read(Id3Tag(3, good + "TPE1"s + Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0, 0}) + Latin("x") +
                              F23("TALB", Latin("Lost"))) +
                   kAudio));
  EXPECT_EQ(tag.Title(), u"Kept");
  EXPECT_EQ(tag.Album(), u"");
  // Huge sizes in both versions: nothing is read, nothing hangs.
  ASSERT_TRUE(Read(Id3Tag(4, good + "TPE1"s + Bytes({0x7F, 0x7F, 0x7F, 0x7F, 0, 0}) + Latin("x")) +
                   kAudio));
  EXPECT_EQ(tag.Title(), u"Kept");
  EXPECT_EQ(tag.Artist(), u"");
  ASSERT_TRUE(Read(Id3Tag(3, good + "TPE1"s + Bytes({0x7F, 0xFF, 0xFF, 0x7F, 0, 0}) + Latin("x")) +
                   kAudio));
  EXPECT_EQ(tag.Artist(), u"");
  // A non-letter (padding or junk) ends the walk.
  ASSERT_TRUE(Read(Id3Tag(3, good + "tPE1"s + BE32(2) + Zeros(2) + Latin("x")) + kAudio));
  EXPECT_EQ(tag.Artist(), u"");
}

// Random damage to a valid tag: every read ends, never crashes, and only
// ever reports what the bytes hold.
TEST_F(ID3v2Test, SurvivesRandomDamage) {
  const std::string base =
      Id3Tag(3, F23("TIT2", Utf16LE(u"Title")) + F23("TPE1", Latin("Artist")) +
                 F23("COMM", "\x01" "eng" "\xFF\xFE\0\0\xFF\xFE" "H\0"s) + F23("APIC", Zeros(300)),
          0, 40) +
      kAudio;
  std::mt19937 rng(12345);
  for (int i = 0; i < 600; ++i) {
    std::string b = base;
    const int hits = 1 + int(rng() % 8);
    for (int k = 0; k < hits; ++k) b[3 + rng() % 120] = static_cast<char>(rng());
    if (i % 3 == 0) b.resize(rng() % b.size());
    b[3] = static_cast<char>(2 + i % 3);
    bool ok = Read(b);
    EXPECT_EQ(ok, b.size() >= 10);
    EXPECT_LE(tag.Size(), static_cast<int32_t>(b.size()));
    EXPECT_LE(tag.Title().size(), b.size());
  }
}

// --- Files written by mutagen -------------------------------------------------

// Runs a Python snippet with mutagen; 'path' names the file to write, 't'
// is a new ID3 tag.
void Mutagen(const std::string& path, const std::string& code) {
  std::string out;
  const std::string script =
      "import sys\nfrom mutagen.id3 import ID3, TIT2, TPE1, TALB, TRCK, TDRC, TCON, COMM, TCOM, APIC\n"
      "path = sys.argv[1]\nt = ID3()\n" + code;
  ASSERT_EQ(test::RunPython(script, test::ShellQuote(path), &out), 0) << out;
}

// The test audio tagged by a mutagen script, then read back.
class ID3v2Mutagen : public ID3v2Test {
 protected:
  void SetUp() override { ORDANA_REQUIRE_MUTAGEN(); }
  // The read's result; false also when the script failed.
  bool ReadTagged(const std::string& code) {
    WriteBytes(dir.File("m.mp3"), kAudio);
    Mutagen(dir.File("m.mp3"), code);
    return !HasFatalFailure() && tag.ReadFromFile(dir.File16("m.mp3"));
  }
};

TEST_F(ID3v2Mutagen, ReadsVersion23Utf16WrittenByMutagen) {
  ASSERT_TRUE(ReadTagged(test::AddId3TextFrames({{"TIT2", 1, "Заголовок ÿ"}, {"TPE1", 1, "Исполнитель"},
                                                 {"TALB", 1, "Альбом"}, {"TRCK", 1, "3/12"},
                                                 {"TDRC", 1, "2004"}, {"TCON", 1, "Rock"}}) +
                         R"(t.add(COMM(encoding=1, lang='rus', desc='', text='Комментарий'))
t.add(TCOM(encoding=1, text='Композитор'))
t.add(APIC(encoding=0, mime='image/jpeg', type=3, desc='', data=b'\xff' * 200000))
t.save(path, v2_version=3)
)"));
  EXPECT_TRUE(tag.Exists());
  EXPECT_EQ(tag.VersionID(), 3);
  EXPECT_TRUE(test::HasText(tag, {.title = u"Заголовок ÿ", .artist = u"Исполнитель", .album = u"Альбом",
                                  .year = u"2004", .genre = u"Rock", .comment = u"Комментарий",
                                  .composer = u"Композитор"}));
  EXPECT_EQ(tag.Track(), 3);
  EXPECT_EQ(tag.TrackString(), "3/12");
  const std::string bytes = test::ReadBytes(dir.File("m.mp3"));
  EXPECT_EQ(bytes.substr(tag.Size()), kAudio);  // the audio starts at Size
}

TEST_F(ID3v2Mutagen, ReadsVersion24Utf8WrittenByMutagen) {
  ASSERT_TRUE(ReadTagged(
      "t.add(APIC(encoding=3, mime='image/png', type=3, desc='cover', data=b'\\x00' * 120000))\n" +
      test::AddId3TextFrames({{"TIT2", 3, "Ёлка – 𝄞"}, {"TPE1", 3, "Группа"}, {"TALB", 3, "Disc"},
                              {"TRCK", 3, "7"}, {"TDRC", 3, "2010-03-04"}, {"TCON", 3, "Синти-поп"}}) +
      "t.add(COMM(encoding=3, lang='eng', desc='note', text='Привет'))\n"
      "t.save(path, v2_version=4)\n"));
  EXPECT_EQ(tag.VersionID(), 4);
  EXPECT_TRUE(test::HasText(tag, {.title = u"Ёлка – 𝄞", .artist = u"Группа", .album = u"Disc",
                                  .year = u"2010-03-04", .genre = u"Синти-поп", .comment = u"Привет"}));
  EXPECT_EQ(tag.Track(), 7);
}

TEST_F(ID3v2Mutagen, ReadsVersion24Utf16BigEndianWrittenByMutagen) {
  ASSERT_TRUE(ReadTagged(test::AddId3TextFrames({{"TIT2", 2, "Песня 𝄞"}, {"TPE1", 2, "Song"}}) +
                         "t.add(COMM(encoding=2, lang='rus', desc='d', text='Комментарий'))\n"
                         "t.save(path, v2_version=4)\n"));
  const std::string bytes = test::ReadBytes(dir.File("m.mp3"));
  ASSERT_NE(bytes.find("TPE1"), std::string::npos);
  ASSERT_EQ(bytes.substr(bytes.find("TPE1") + 10, 3), "\x02\0S"s) << "not encoding 2 without a mark";
  EXPECT_TRUE(test::HasText(tag, {.title = u"Песня 𝄞", .artist = u"Song", .comment = u"Комментарий"}));
}

TEST_F(ID3v2Mutagen, ReadsId3v1WrittenByMutagen) {
  ASSERT_TRUE(ReadTagged(test::AddId3TextFrames({{"TIT2", 0, "Old Song"}, {"TPE1", 0, "Old Band"},
                                                 {"TALB", 0, "Old Album"}, {"TDRC", 0, "1995"},
                                                 {"TRCK", 0, "9"}, {"TCON", 0, "Blues"}}) +
                         "t.save(path, v1=2)\n"
                         "ID3(path).delete(path, delete_v1=False, delete_v2=True)\n"));
  EXPECT_FALSE(tag.Exists());
  TID3v1 v1;
  ASSERT_TRUE(v1.ReadFromFile(dir.File16("m.mp3")));
  ASSERT_TRUE(v1.Exists());
  EXPECT_EQ(v1.Title(), "Old Song");
  EXPECT_EQ(v1.Artist(), "Old Band");
  EXPECT_EQ(v1.Album(), "Old Album");
  EXPECT_EQ(v1.Year(), "1995");
  EXPECT_EQ(v1.Track(), 9);
  EXPECT_EQ(v1.VersionID(), 2);
  EXPECT_EQ(v1.Genre(), "Blues");
}

}  // namespace
}  // namespace ordana
