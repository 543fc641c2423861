#include <gtest/gtest.h>

#include "platform/SafeWrite.h"
#include "platform/TextCodec.h"
#include "support/FaultInjection.h"
#include "support/Mutagen.h"
#include "support/Id3Bytes.h"
#include "support/TagText.h"
#include "support/TestFiles.h"
#include "tags/ID3v1.h"
#include "tags/ID3v2.h"

namespace ordana {
namespace {

using namespace std::string_literals;
using namespace test;

std::string Tag(int version, const std::string& frames, size_t padding) {
  return test::Id3Tag(version, frames, 0, padding);
}
std::string Audio() {
  std::string a;
  for (int i = 0; i < 3000; ++i) a += static_cast<char>((i * 7919) >> 3);
  return "\xFF\xFB" + a;
}

TEST(ID3v1Write, BlockLayoutAndSaves) {
  TempDir dir;
  const auto f = dir.File16("a.mp3");
  const std::string audio = Audio();
  WriteBytes(dir.File("a.mp3"), audio);
  TID3v1 t;
  t.SetTitle(AnsiString(std::string(40, 'T') + "   "));
  t.SetArtist(AnsiString("Artist  "));
  t.SetComment(AnsiString(std::string(30, 'c')));
  t.SetGenreID(17);
  ASSERT_TRUE(t.SaveToFile(f));
  std::string bytes = ReadBytes(dir.File("a.mp3"));
  ASSERT_EQ(bytes.size(), audio.size() + 128);
  EXPECT_EQ(bytes.substr(0, audio.size()), audio);
  std::string b = bytes.substr(audio.size());
  EXPECT_EQ(b.substr(0, 33), "TAG" + std::string(30, 'T'));
  EXPECT_EQ(b.substr(33, 30), "Artist" + Zeros(24));
  EXPECT_EQ(b.substr(97, 30), std::string(30, 'c'));  // track 0: version 1.0
  EXPECT_EQ(b[127], 17);

  t.SetTrack(5);
  ASSERT_TRUE(t.SaveToFile(f));  // saving again replaces the block
  bytes = ReadBytes(dir.File("a.mp3"));
  ASSERT_EQ(bytes.size(), audio.size() + 128);
  EXPECT_EQ(bytes[audio.size() + 125], 0);
  EXPECT_EQ(bytes[audio.size() + 126], 5);
  TID3v1 r;
  ASSERT_TRUE(r.ReadFromFile(f));
  EXPECT_EQ(r.Title().bytes(), std::string(30, 'T'));
  EXPECT_EQ(r.Track(), 5);
  EXPECT_EQ(r.Comment().bytes(), std::string(28, 'c'));

  ASSERT_TRUE(t.RemoveFromFile(f));
  EXPECT_EQ(ReadBytes(dir.File("a.mp3")), audio);
  ASSERT_TRUE(t.RemoveFromFile(f));  // nothing to remove
  EXPECT_EQ(ReadBytes(dir.File("a.mp3")), audio);

  WriteBytes(dir.File("s.mp3"), std::string(127, 'x'));
  EXPECT_FALSE(t.SaveToFile(dir.File16("s.mp3")));
  EXPECT_EQ(ReadBytes(dir.File("s.mp3")), std::string(127, 'x'));
  EXPECT_FALSE(t.SaveToFile(dir.File16("missing.mp3")));
}

class ID3v2Write : public ::testing::Test {
 protected:
  std::u16string Path() const { return dir.File16("a.mp3"); }
  std::string Bytes_() const { return ReadBytes(dir.File("a.mp3")); }
  // Writes the audio without a tag and reads it into t.
  bool ReadUntagged(TID3v2& t) {
    WriteBytes(dir.File("a.mp3"), audio);
    return t.ReadFromFile(Path());
  }
  TempDir dir;
  const std::string audio = Audio();
};

TEST_F(ID3v2Write, NewTagForcesRewriteWithPadding) {
  TID3v2 t;
  ASSERT_TRUE(ReadUntagged(t));
  test::SetText(t, {.title = u"  Заголовок ", .artist = u"Artist", .year = u"2020", .genre = u"Rock"});
  t.SetTrack(3);
  t.SetEncoder(u"Кодер");
  t.SetLink(u"http://x/");
  EXPECT_EQ(t.Title(), u"Заголовок");
  ASSERT_TRUE(t.SaveToFile(Path()));
  EXPECT_EQ(t.Comment(), u" ");  // an empty comment is written as a blank
  const std::string bytes = Bytes_();
  TID3v2 r;
  ASSERT_TRUE(r.ReadFromFile(Path()));
  ASSERT_TRUE(r.Exists());
  EXPECT_EQ(r.VersionID(), 4);
  EXPECT_EQ(bytes.substr(r.Size()), audio);  // audio after the tag unchanged
  // Built + 2048 bytes of zero padding.
  EXPECT_EQ(bytes.substr(r.Size() - 2048, 2048), Zeros(2048));
  EXPECT_NE(bytes[r.Size() - 2049], '\0');
  EXPECT_TRUE(test::HasText(r, {.title = u"Заголовок", .artist = u"Artist", .album = u"", .year = u"2020",
                               .genre = u"Rock", .comment = u""}));
  EXPECT_EQ(r.Track(), 3);
  EXPECT_EQ(r.Encoder(), Utf16ToAnsi(u"Кодер"));
  EXPECT_EQ(r.Link(), "http://x/");
}

TEST_F(ID3v2Write, FittingTagIsWrittenInPlaceKeepingOtherFrames) {
  const std::string apic = F23("APIC", "\0image/png\0\x03\0"s + std::string(500, 'p'));
  WriteBytes(dir.File("a.mp3"), Tag(3, F23("TIT2", "\0Old"s) + apic + F23("TDRC", "\0" "1999"s), 4000) + audio);
  const size_t size = Bytes_().size();
  TID3v2 t;
  ASSERT_TRUE(t.ReadFromFile(Path()));
  const int32_t oldSize = t.Size();
  t.SetTitle(u"New");
  t.SetComment(u"Comment");
  ASSERT_TRUE(t.SaveToFile(Path()));
  const std::string once = Bytes_();
  EXPECT_EQ(once.size(), size);
  EXPECT_EQ(once.substr(oldSize), audio);
  EXPECT_NE(once.find(apic.substr(10)), std::string::npos);  // the picture's data kept
  TID3v2 r;
  ASSERT_TRUE(r.ReadFromFile(Path()));
  EXPECT_EQ(r.Size(), oldSize);
  EXPECT_EQ(r.Title(), u"New");
  EXPECT_EQ(r.Comment(), u"Comment");
  EXPECT_EQ(r.Year(), u"1999");  // read from TDRC, written as TYER
  // Saving twice gives the file of saving once.
  ASSERT_TRUE(r.SaveToFile(Path()));
  EXPECT_EQ(Bytes_(), once);
}

TEST_F(ID3v2Write, Version22TagsGetFourLetterIdentifiers) {
  std::string frames = "TT2" + BE24(6) + "\0Title"s + "TP1" + BE24(4) + "\0Art"s + "TOA" + BE24(5) +
                       "\0Orig"s + "PIC" + BE24(20) + std::string(20, 'p');
  WriteBytes(dir.File("a.mp3"), Tag(2, frames, 100) + audio);
  TID3v2 t;
  ASSERT_TRUE(t.ReadFromFile(Path()));
  ASSERT_EQ(t.Title(), u"Title");
  ASSERT_TRUE(t.SaveToFile(Path()));
  const std::string bytes = Bytes_();
  EXPECT_EQ(bytes[3], 4);
  for (const char* id : {"TT2", "TP1", "TOA"}) EXPECT_EQ(bytes.find(id), std::string::npos) << id;
  EXPECT_NE(bytes.find("TOPE"), std::string::npos);  // the 2.2 slot frame, renamed
  // The picture is carried over as APIC, its image format as a MIME type.
  EXPECT_NE(bytes.find("APIC"), std::string::npos);
  EXPECT_NE(bytes.find("pimage/ppp" + std::string(1, '\0') + std::string(16, 'p')), std::string::npos);
  TID3v2 r;
  ASSERT_TRUE(r.ReadFromFile(Path()));
  EXPECT_EQ(r.Title(), u"Title");
  EXPECT_EQ(r.Artist(), u"Art");
  EXPECT_EQ(bytes.substr(r.Size()), audio);
}

TEST_F(ID3v2Write, RemoveTag) {
  WriteBytes(dir.File("a.mp3"), audio);
  TID3v2 t;
  EXPECT_FALSE(t.RemoveFromFile(Path()));
  EXPECT_EQ(Bytes_(), audio);
  WriteBytes(dir.File("a.mp3"), Tag(3, F23("TIT2", "\0T"s), 50) + audio);
  ASSERT_TRUE(t.RemoveFromFile(Path()));
  EXPECT_EQ(Bytes_(), audio);
  EXPECT_FALSE(t.RemoveFromFile(dir.File16("missing.mp3")));
}

TEST_F(ID3v2Write, MutagenReadsWhatWeWrite) {
  ORDANA_REQUIRE_MUTAGEN();
  WriteBytes(dir.File("a.mp3"), Tag(3, F23("TIT2", "\0Old"s), 10) + audio);
  TID3v2 t;
  ASSERT_TRUE(t.ReadFromFile(Path()));
  test::SetText(t, {.title = u"Новое имя", .artist = u"Группа", .album = u"Альбом", .genre = u"Pop",
                    .comment = u"Комментарий"});
  t.SetTrack(12);
  t.SetCopyright(u"(c) 2020");
  ASSERT_TRUE(t.SaveToFile(Path()));
  std::string out;
  ASSERT_EQ(test::RunPython(R"(
import sys
from mutagen.id3 import ID3
t = ID3(sys.argv[1])
print(t.version[1])
for k in ['TIT2', 'TPE1', 'TALB', 'TRCK', 'TCON', 'TCOP']:
    print(k, str(t[k]))
print('COMM', t.getall('COMM')[0].text[0])
)", test::ShellQuote(dir.File("a.mp3")), &out), 0) << out;
  EXPECT_EQ(out, "4\nTIT2 Новое имя\nTPE1 Группа\nTALB Альбом\nTRCK 12\nTCON Pop\nTCOP (c) 2020\n"
                 "COMM Комментарий\n");
}

// An 8-bit field holds what a read gives back: a character the code page
// drops (ICU drops variation selectors; Windows writes "?") does not leave
// the control character behind it at an end of the field.
TEST_F(ID3v2Write, EightBitFieldsReadBackAsSet) {
  TID3v2 t;
  ASSERT_TRUE(ReadUntagged(t));
  t.SetCopyright(u"\uFE02\u0010(c) 2020\u0010\uFE02");
  t.SetEncoder(u" Кодер\uFE0F\u0001");
  for (const AnsiString& set : {t.Copyright(), t.Encoder()}) {
    ASSERT_FALSE(set.empty());
    EXPECT_GT(static_cast<uint8_t>(set.bytes().front()), 0x20) << set;
    EXPECT_GT(static_cast<uint8_t>(set.bytes().back()), 0x20) << set;
  }
  EXPECT_NE(t.Copyright().view().find("(c) 2020"), std::string_view::npos);
  EXPECT_EQ(t.Encoder().view().substr(0, 5), Utf16ToAnsi(u"Кодер").view());
  ASSERT_TRUE(t.SaveToFile(Path()));
  TID3v2 back;
  ASSERT_TRUE(back.ReadFromFile(Path()));
  EXPECT_EQ(back.Copyright(), t.Copyright());
  EXPECT_EQ(back.Encoder(), t.Encoder());
}

// Every write, sync and rename along each save path fails once in turn: the
// result is false and the file byte-identical, or (a failing folder sync
// after the rename) the save is complete.
TEST(ID3Write, EveryInjectedFaultLeavesTheFileIntact) {
  TempDir dir;
  const auto f = dir.File16("a.mp3");
  const std::string audio = Audio();
  const std::string tagged = Tag(3, F23("TIT2", "\0Old"s), 3000) + audio;
  const std::string v1 = "TAG" + std::string(125, 'v');
  struct Path {
    const char* name;
    std::string original;
    std::function<bool()> save;
  };
  std::vector<Path> paths = {
      {"v2 rewrite", audio, [&] { TID3v2 t; t.ReadFromFile(f); t.SetTitle(u"New"); return t.SaveToFile(f); }},
      {"v2 in place", tagged, [&] { TID3v2 t; t.ReadFromFile(f); t.SetTitle(u"New"); return t.SaveToFile(f); }},
      {"v2 remove", tagged, [&] { TID3v2 t; return t.RemoveFromFile(f); }},
      {"v1 append", audio, [&] { TID3v1 t; t.SetTitle(AnsiString("New")); return t.SaveToFile(f); }},
      {"v1 replace", audio + v1, [&] { TID3v1 t; t.SetTitle(AnsiString("New")); return t.SaveToFile(f); }},
      {"v1 remove", audio + v1, [&] { TID3v1 t; return t.RemoveFromFile(f); }},
  };
  int survived = 0;
  for (auto& p : paths) {
    WriteBytes(dir.File("a.mp3"), p.original);
    ASSERT_TRUE(p.save()) << p.name;
    const std::string expected = ReadBytes(dir.File("a.mp3"));
    ASSERT_NE(expected, p.original) << p.name;
    int faults = 0;
    for (int n = 1;; ++n) {
      WriteBytes(dir.File("a.mp3"), p.original);
      test::FailingSteps ops(n);
      const bool ok = p.save();
      ops.Remove();
      ASSERT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << p.name;
      if (!ops.Fired()) {
        EXPECT_TRUE(ok);
        EXPECT_EQ(ReadBytes(dir.File("a.mp3")), expected) << p.name;
        break;
      }
      const std::string now = ReadBytes(dir.File("a.mp3"));
      if (ok) {
        EXPECT_EQ(now, expected) << p.name << " fault " << n;
        continue;
      }
      EXPECT_EQ(Digest(now), Digest(p.original)) << p.name << " fault " << n;
      ++faults;
    }
    EXPECT_GE(faults, 1) << p.name;
    survived += faults;
  }
  std::printf("injected faults survived with the original intact: %d\n", survived);
  EXPECT_GT(survived, 6);
}

}  // namespace
}  // namespace ordana
