#include "trackinfo/ReadTrackInfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "support/Checks.h"
#include "support/Id3Bytes.h"
#include "support/TestFiles.h"
#include "trackinfo/TrackLength.h"
#include "trackinfo/TrackReaders.h"

namespace ordana {
namespace {

using namespace std::string_literals;
using test::BE32;
using test::Bytes;
using test::LE16;
using test::LE32;
using test::TempDir;
using test::WriteBytes;
using test::F23;
using test::SyncSafe;
using test::Zeros;

std::string Id3v2(const std::string& frames) {
  return "ID3\x03\0\0"s + SyncSafe(uint32_t(frames.size() + 64)) + frames + Zeros(64);
}
std::string Id3v1(const std::string& title, const std::string& artist, int genre) {
  auto fit = [](std::string s, size_t w) {
    s.resize(w, '\0');
    return s;
  };
  return "TAG" + fit(title, 30) + fit(artist, 30) + fit("Album1", 30) + fit("1990", 4) +
         fit("Comment1", 28) + Bytes({0, 4, genre});
}
// An APE tag (version 2000, footer only) with the given items.
std::string Ape(std::initializer_list<std::pair<std::string, std::string>> items) {
  std::string body;
  for (auto& [k, v] : items) body += LE32(uint32_t(v.size())) + LE32(0) + k + '\0' + v;
  return body + "APETAGEX" + LE32(2000) + LE32(uint32_t(body.size() + 32)) +
         LE32(uint32_t(items.size())) + LE32(0) + Zeros(8);
}
const std::string kFrames = "\xFF\xFB\x90\x64"s + std::string(800, '\x55');

class ReadTrackInfoTest : public ::testing::Test {
 protected:
  std::u16string Write(const std::string& name, const std::string& bytes) {
    WriteBytes(dir.File(name), bytes);
    return dir.File16(name);
  }
  TempDir dir;
  TPlaylistEntry e;
};

TEST_F(ReadTrackInfoTest, Id3v2WinsOverId3v1EvenWhenEmpty) {
  auto f = Write("a.mp3", Id3v2(F23("TIT2", "\0Title2"s) + F23("TPE1", "\0Artist2"s) +
                                F23("TCON", "\0(17)Rock"s)) +
                              kFrames + Id3v1("Title1", "Artist1", 0));
  EXPECT_TRUE(ReadTrackInfo(f, e, nullptr, 0));
  EXPECT_EQ(e.tagtype, TTagType::ttID3v2);
  EXPECT_EQ(e.title, u"Title2");
  EXPECT_EQ(e.artist, u"Artist2");
  EXPECT_EQ(e.genre, u"Rock");
  EXPECT_EQ(e.album, u"");  // ID3v1 has one, but ID3v2 decides
  EXPECT_EQ(e.year, u"");
  EXPECT_EQ(e.filename, f);
  EXPECT_FALSE(e.hastag);
  // A tag without any frames still wins.
  f = Write("b.mp3", Id3v2("") + kFrames + Id3v1("Title1", "Artist1", 0));
  EXPECT_TRUE(ReadTrackInfo(f, e, nullptr, 0));
  EXPECT_EQ(e.tagtype, TTagType::ttID3v2);
  EXPECT_EQ(e.title, u"");
  EXPECT_EQ(e.genre, u"");
}

TEST_F(ReadTrackInfoTest, Id3v1FieldsKeepTheirPadding) {
  const std::u16string cyr = u"Ночной эфир";
  auto f = Write("a.MP3", kFrames + Id3v1(Utf16ToAnsi(cyr).bytes(), "Band", 255));
  EXPECT_TRUE(ReadTrackInfo(f, e, nullptr, 0));
  EXPECT_EQ(e.tagtype, TTagType::ttID3v1);
  EXPECT_EQ(e.title, cyr + std::u16string(30 - cyr.size(), u'\0'));
  EXPECT_EQ(e.artist, u"Band" + std::u16string(26, u'\0'));
  EXPECT_EQ(e.year, u"1990");
  // The comment is all 30 bytes, the 1.1 track bytes included.
  EXPECT_EQ(e.comment, u"Comment1" + std::u16string(20, u'\0') + u"\0\x04"s);
  EXPECT_EQ(e.genre, u"");  // genre 255

  // Genre 255 leaves a kept genre alone; genre 0 is Blues.
  e.genre = u"Kept";
  EXPECT_TRUE(ReadTrackInfo(f, e, nullptr, roKeepEntry));
  EXPECT_EQ(e.genre, u"Kept");
  f = Write("b.tta", Id3v1("T", "A", 0));
  EXPECT_TRUE(ReadTrackInfo(f, e, nullptr, 0));
  EXPECT_EQ(e.tagtype, TTagType::ttID3v1);
  EXPECT_EQ(e.genre, u"Blues");
}

TEST_F(ReadTrackInfoTest, Mp3AndTtaWithoutTags) {
  for (const char* name : {"a.mp3", "b.TTA", "c.Mp3"}) {
    auto f = Write(name, kFrames);
    EXPECT_FALSE(ReadTrackInfo(f, e, nullptr, 0)) << name;
    EXPECT_EQ(e.tagtype, TTagType::ttID3v2) << name;
    EXPECT_EQ(e.title, u"") << name;
  }
  auto f = Write("tiny.mp3", "ID3");  // shorter than both tags
  EXPECT_FALSE(ReadTrackInfo(f, e, nullptr, 0));
  EXPECT_EQ(e.tagtype, TTagType::ttID3v2);
}

TEST_F(ReadTrackInfoTest, MissingFilesAndOtherFormats) {
  e.title = u"old";
  EXPECT_FALSE(ReadTrackInfo(dir.File16("gone.mp3"), e, nullptr, 0));
  TPlaylistEntry expected = EmptyPlaylistEntry;
  expected.filename = dir.File16("gone.mp3");
  EXPECT_EQ(e, expected);
  e.title = u"old";
  e.tagtype = TTagType::ttID3v1;
  EXPECT_FALSE(ReadTrackInfo(dir.File16("gone.mp3"), e, nullptr, roKeepEntry));
  EXPECT_EQ(e.title, u"old");
  EXPECT_EQ(e.tagtype, TTagType::ttID3v1);

  // ID3 tags count only for MP3 and TTA.
  const std::string tagged = Id3v2(F23("TIT2", "\0T"s)) + kFrames + Id3v1("T", "A", 1);
  for (const char* name : {"a.wav", "a.xyz", "noext", "a.mp3.bak"}) {
    auto f = Write(name, tagged);
    EXPECT_FALSE(ReadTrackInfo(f, e, nullptr, 0)) << name;
    EXPECT_EQ(e.tagtype, TTagType::ttTag) << name;
    EXPECT_EQ(e.title, u"") << name;
  }
}

TEST_F(ReadTrackInfoTest, Summaries) {
  char info[kInfoTextSize];
  std::memset(info, 'x', sizeof info);
  auto mp3 = Write("a.mp3", kFrames);
  ReadTrackInfo(mp3, e, info, 0);
  EXPECT_TRUE(std::regex_match(info, std::regex(".*   [0-9]+kbit   [0-9]+Hz"))) << info;

  // WAV: no tags, result false, "%s   %dHz   %.1fkbps" with a "." separator.
  std::string fmt = LE16(1) + LE16(2) + LE32(44100) + LE32(176400) + LE16(4) + LE16(16);
  std::string wav = "RIFF" + LE32(36 + 400) + "WAVE" + "fmt " + LE32(16) + fmt + "data" + LE32(400) +
                    Zeros(400);
  auto w = Write("a.WAV", wav);
  std::memset(info, 'x', sizeof info);
  EXPECT_FALSE(ReadTrackInfo(w, e, info, 0));
  EXPECT_EQ(e.tagtype, TTagType::ttTag);
  EXPECT_TRUE(std::regex_match(info, std::regex(".*   [0-9]+Hz   [0-9]+\\.[0-9]kbps"))) << info;
  if (TrackReaders().WAVfile.Valid()) {
    EXPECT_TRUE(std::regex_match(info, std::regex(".*   44100Hz   176\\.4kbps"))) << info;
  }

  // No summary: the buffer holds an empty text, not what was there before.
  std::memset(info, 'x', sizeof info);
  ReadTrackInfo(Write("a.ape", Zeros(10)), e, info, 0);
  EXPECT_EQ(info[0], '\0');

  // Long summaries are cut to 199 bytes and terminated.
  std::memset(info, 'x', sizeof info);
  WriteInfoText(std::u16string(300, u'ж'), info);
  EXPECT_EQ(std::strlen(info), 199u);
  EXPECT_EQ(AnsiToUtf16(AnsiView(info)), std::u16string(199, u'ж'));
  WriteInfoText(u"short", info);
  EXPECT_STREQ(info, "short");
}

TEST_F(ReadTrackInfoTest, LineInEntries) {
  EXPECT_TRUE(test::Sorts(IsLineInEntry,
                          {u"N:\\Output\\line.in 5", u"N:\\Output\\LINE.IN 5", u"C:Line.In",
                           u"/srv/x/line.in", u"line.inx"},
                          {u"N:\\Output\\line.i", u"N:\\Output\\xline.in", u"N:\\line.in\\song.mp3"}));

  // The entry does not exist on disk; the block comes from "line.in" beside it.
  const std::u16string entry = dir.File16("LINE.IN 5");
  EXPECT_FALSE(ReadTrackInfo(entry, e, nullptr, 0));  // no line.in file yet
  EXPECT_EQ(e.filename, entry);
  Write("line.in", "x");  // too short for a block
  EXPECT_FALSE(ReadTrackInfo(entry, e, nullptr, 0));
  Write("line.in", std::string(200, 'x'));  // no "TAG"
  EXPECT_FALSE(ReadTrackInfo(entry, e, nullptr, 0));
  EXPECT_EQ(e.title, u"");
  Write("line.in", "header" + Id3v1("Live", "Studio", 12));
  EXPECT_TRUE(ReadTrackInfo(entry, e, nullptr, roPlayoutItems));
  EXPECT_EQ(e.title, u"Live" + std::u16string(26, u'\0'));
  EXPECT_EQ(e.genre, u"Other");
  EXPECT_EQ(e.tagtype, TTagType::ttTag);
  EXPECT_EQ(e.TrackLen, 0);  // no playout items for the line input

  // A log path written on Windows, through a path mapping.
  SetPathMappings({PathMapping{u"N:\\Output\\", dir.File16("")}});
  EXPECT_TRUE(ReadTrackInfo(u"N:\\Output\\line.in 12", e, nullptr, 0));
  EXPECT_EQ(e.artist, u"Studio" + std::u16string(24, u'\0'));
  SetPathMappings({});
}

TEST_F(ReadTrackInfoTest, Id3v1Block) {
  TID3v1Block b;
  b.fill(7);
  EXPECT_FALSE(ReadID3v1Block(dir.File16("none"), b));
  EXPECT_EQ(b, TID3v1Block{});
  b.fill(7);
  EXPECT_FALSE(ReadID3v1Block(Write("short", std::string(127, 'T')), b));
  EXPECT_EQ(b, TID3v1Block{});
  EXPECT_FALSE(ReadID3v1Block(Write("notag", "tag" + std::string(125, 'x')), b));
  EXPECT_EQ(b[0], 't');  // read, but not a tag
  EXPECT_TRUE(ReadID3v1Block(Write("tag", Id3v1("A", "B", 200)), b));
  e.genre = u"before";
  FillFromID3v1Block(b, e);
  EXPECT_EQ(e.genre, u"before");  // genre 200 is no name
  EXPECT_EQ(e.album, u"Album1" + std::u16string(24, u'\0'));
}

TEST_F(ReadTrackInfoTest, PlayoutItems) {
  // Without an APE tag every item takes its default.
  auto f = Write("a.mp3", Id3v2(F23("TIT2", "\0T"s)) + kFrames);
  e.BPM = u"x";
  EXPECT_TRUE(ReadTrackInfo(f, e, nullptr, roPlayoutItems | roKeepEntry));
  EXPECT_EQ(e.title, u"T");
  EXPECT_EQ(e.BPM, u"");
  EXPECT_EQ(e.Rating, 0);
  EXPECT_EQ(e.Gender, 0);
  EXPECT_EQ(e.PlayCount, 0);
  for (int32_t v : {e.Intro, e.Outro, e.CueIn, e.CueOut, e.FadeIn, e.FadeOut, e.MixPoint, e.TrackLen})
    EXPECT_EQ(v, -1);
  EXPECT_EQ(e.Identifier, u"");

  // Only the playout items: the descriptive fields stay empty.
  f = Write("b.mp3", Id3v2(F23("TIT2", "\0T"s)) + kFrames +
                         Ape({{"Rating", "5x"}, {"CueIn", "1200"}, {"VelmoraIdentifier", "id-7"},
                              {"Gender", " 3"}}));
  EXPECT_FALSE(ReadTrackInfo(f, e, nullptr, roPlayoutItemsOnly));
  EXPECT_EQ(e.tagtype, TTagType::ttTag);
  EXPECT_EQ(e.title, u"");
  EXPECT_EQ(e.Rating, 0);  // a digit followed by a letter is no number
  EXPECT_EQ(e.TrackLen, -1);
  EXPECT_EQ(e.Outro, -1);
  EXPECT_TRUE(TrackReaders().APETag.Exists());
  EXPECT_EQ(e.CueIn, 1200);
  EXPECT_EQ(e.Gender, 3);
  EXPECT_EQ(e.Identifier, u"id-7");
}

TEST_F(ReadTrackInfoTest, ReadersCanBeRecreated) {
  auto f = Write("a.mp3", Id3v2(F23("TIT2", "\0T"s)) + kFrames);
  FreeTrackReaders();
  EXPECT_TRUE(ReadTrackInfo(f, e, nullptr, 0));  // created on first use
  CreateTrackReaders();
  CreateTrackReaders();
  EXPECT_TRUE(ReadTrackInfo(f, e, nullptr, 0));
  EXPECT_EQ(e.title, u"T");
  EXPECT_EQ(TrackReaders().ID3v2.Title(), u"T");
}

// The report opens each file once for its tags and its length: what the
// shared file gives must be what the named calls give, also when the caller
// could not open the file (the readers then open it themselves) and for a
// stream address, whose length comes from the log, never from a file.
TEST_F(ReadTrackInfoTest, CallerOpenedFileReadsLikeTheName) {
  const auto mp3 = Write("a.mp3", Id3v2(F23("TIT2", "\0T"s)) + kFrames);
  const auto wav = Write("b.wav", "RIFF"s + LE32(36 + 8000) + "WAVEfmt " + LE32(16) + LE16(1) + LE16(1) +
                                      LE32(8000) + LE32(8000) + LE16(1) + LE16(8) + "data" + LE32(8000) +
                                      std::string(8000, '\x80'));
  const InputFile notOpen;
  for (const auto& name : {mp3, wav}) {
    TPlaylistEntry byName;
    const bool found = ReadTrackInfo(name, byName, nullptr, 0);
    const InputFile file = InputFile::Open(name);
    ASSERT_TRUE(file);
    EXPECT_EQ(ReadTrackInfoOf(file, name, e, nullptr, 0), found);
    EXPECT_EQ(e.title, byName.title);
    EXPECT_EQ(ReadTrackInfoOf(notOpen, name, e, nullptr, 0), found);
    EXPECT_EQ(e.title, byName.title);
    EXPECT_EQ(GetTrackLengthOf(file, name), GetTrackLength(name));
    EXPECT_EQ(GetTrackLengthOf(notOpen, name), 0u);
  }
  EXPECT_EQ(GetTrackLength(wav), 1000u);
  EXPECT_EQ(e.title, u"");
  const InputFile file = InputFile::Open(wav);
  EXPECT_EQ(GetTrackLengthOf(file, u"http://radio.example/live 30"), 30u * 60 * 1000);
  EXPECT_FALSE(ReadTrackInfoOf(notOpen, dir.File16("missing.mp3"), e, nullptr, 0));
}

}  // namespace
}  // namespace ordana
