#include "tags/ID3v1.h"

#include <gtest/gtest.h>

#include "platform/TextCodec.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::TempDir;
using test::WriteBytes;

// A 128-byte block: "TAG", the fields zero-padded, then bytes 125..127.
std::string Block(std::string title, std::string artist, std::string album, std::string year,
                  std::string comment, int b125, int b126, int genre) {
  auto fit = [](std::string s, size_t w) {
    s.resize(w, '\0');
    return s;
  };
  std::string b = "TAG" + fit(title, 30) + fit(artist, 30) + fit(album, 30) + fit(year, 4) +
                  fit(comment, 28);
  b += static_cast<char>(b125);
  b += static_cast<char>(b126);
  b += static_cast<char>(genre);
  return b;
}

TEST(ID3v1, GenreTable) {
  ASSERT_EQ(GenreNames.size(), 148u);
  EXPECT_EQ(GenreNames[0], "Blues");
  EXPECT_EQ(GenreNames[1], "Classic Rock");
  EXPECT_EQ(GenreNames[17], "Rock");
  EXPECT_EQ(GenreNames[79], "Hard Rock");
  EXPECT_EQ(GenreNames[80], "Folk");
  EXPECT_EQ(GenreNames[147], "Synthpop");
  // The spellings that differ between published lists.
  const std::pair<int, const char*> spelled[] = {
      {7, "Hip-Hop"},       {27, "Trip-Hop"},     {29, "Jazz+Funk"},          {40, "AlternRock"},
      {51, "Techno-Industrial"}, {53, "Pop-Folk"}, {62, "Pop/Funk"},         {67, "Psychadelic"},
      {78, "Rock & Roll"},  {81, "Folk-Rock"},    {85, "Bebob"},              {92, "Progessive Rock"},
      {123, "A capella"},   {124, "Euro-House"},  {125, "Dance Hall"},        {127, "Drum & Bass"},
      {128, "Club-House"},  {132, "BritPop"},     {144, "Trash Metal"},       {146, "JPop"}};
  for (auto [i, name] : spelled) EXPECT_EQ(GenreNames[i], name) << i;
  for (auto n : GenreNames) EXPECT_FALSE(n.empty());
}

TEST(ID3v1, ReadsFieldsVersionsAndTrack) {
  TempDir dir;
  TID3v1 t;
  // Version 1.1: byte 125 zero, byte 126 the track; comment from 28 bytes.
  WriteBytes(dir.File("a.mp3"), "audio" + Block("Song", "Band", "Disc", "1999",
                                               "A comment of twenty-eight b", 0, 5, 17));
  ASSERT_TRUE(t.ReadFromFile(dir.File16("a.mp3")));
  EXPECT_TRUE(t.Exists());
  EXPECT_EQ(t.VersionID(), 2);
  EXPECT_EQ(t.Title(), "Song");  // four letters, then 26 zero bytes
  EXPECT_EQ(t.Artist(), "Band");
  EXPECT_EQ(t.Album(), "Disc");
  EXPECT_EQ(t.Year(), "1999");
  EXPECT_EQ(t.Comment(), "A comment of twenty-eight b");
  EXPECT_EQ(t.Track(), 5);
  EXPECT_EQ(t.GenreID(), 17);
  EXPECT_EQ(t.Genre(), "Rock");

  // Version 1.0: bytes 125 and 126 zero; comment from all 30 bytes.
  std::string b = Block("T", "", "", "", "0123456789012345678901234567", 'x', 'y', 0);
  WriteBytes(dir.File("b.mp3"), b);  // a file of exactly 128 bytes
  ASSERT_TRUE(t.ReadFromFile(dir.File16("b.mp3")));
  EXPECT_EQ(t.VersionID(), 1);
  EXPECT_EQ(t.Comment(), "0123456789012345678901234567xy");
  EXPECT_EQ(t.Track(), 0);
  EXPECT_EQ(t.Genre(), "Blues");

  WriteBytes(dir.File("c.mp3"), Block("T", "", "", "", "c", 0, 0, 147));
  ASSERT_TRUE(t.ReadFromFile(dir.File16("c.mp3")));
  EXPECT_EQ(t.VersionID(), 1);
  EXPECT_EQ(t.Track(), 0);
  EXPECT_EQ(t.Genre(), "Synthpop");

  // Blanks: 125 and 126 blank is 1.0; 125 blank and 126 = 7 is 1.1.
  WriteBytes(dir.File("d.mp3"), Block("T", "", "", "", "c", ' ', ' ', 148));
  ASSERT_TRUE(t.ReadFromFile(dir.File16("d.mp3")));
  EXPECT_EQ(t.VersionID(), 1);
  EXPECT_EQ(t.Genre(), "");
  EXPECT_EQ(t.GenreID(), 148);
  WriteBytes(dir.File("e.mp3"), Block("T", "", "", "", "c", ' ', 7, 255));
  ASSERT_TRUE(t.ReadFromFile(dir.File16("e.mp3")));
  EXPECT_EQ(t.VersionID(), 2);
  EXPECT_EQ(t.Track(), 7);
  EXPECT_EQ(t.Genre(), "");
}

TEST(ID3v1, TrimsOnlyTrailingPadding) {
  TempDir dir;
  TID3v1 t;
  std::string title = std::string("A\0B  ", 5) + "\x01";
  WriteBytes(dir.File("a.mp3"), Block(title, "  lead", "", "", "", 0, 0, 0));
  ASSERT_TRUE(t.ReadFromFile(dir.File16("a.mp3")));
  EXPECT_EQ(t.Title().bytes(), std::string("A\0B", 3));  // inner zero byte kept
  EXPECT_EQ(t.Artist(), "  lead");
}

TEST(ID3v1, CyrillicTitleInWindows1251) {
  TempDir dir;
  ASSERT_EQ(AnsiCodePage(), kDefaultAnsiCodePage);
  const std::u16string title = u"Песня про Ёлку";
  WriteBytes(dir.File("a.mp3"), Block(Utf16ToAnsi(title).bytes(), "", "", "", "", 0, 0, 0));
  TID3v1 t;
  ASSERT_TRUE(t.ReadFromFile(dir.File16("a.mp3")));
  EXPECT_EQ(t.Title().size(), title.size());  // one byte per letter
  EXPECT_EQ(AnsiToUtf16(t.Title()), title);
}

TEST(ID3v1, NoTagShortAndMissingFiles) {
  TempDir dir;
  TID3v1 t;
  WriteBytes(dir.File("a.mp3"), Block("x", "", "", "", "", 0, 0, 0));
  ASSERT_TRUE(t.ReadFromFile(dir.File16("a.mp3")));
  ASSERT_TRUE(t.Exists());

  std::string lower = Block("Song", "", "", "", "", 0, 3, 1);
  lower.replace(0, 3, "tag");
  WriteBytes(dir.File("b.mp3"), lower);
  EXPECT_TRUE(t.ReadFromFile(dir.File16("b.mp3")));  // readable, but no tag
  EXPECT_FALSE(t.Exists());
  EXPECT_EQ(t.Title(), "");
  EXPECT_EQ(t.Track(), 0);
  EXPECT_EQ(t.GenreID(), 255);
  EXPECT_EQ(t.VersionID(), 1);

  WriteBytes(dir.File("c.mp3"), Block("Song", "", "", "", "", 0, 0, 0).substr(1));  // 127 bytes
  EXPECT_FALSE(t.ReadFromFile(dir.File16("c.mp3")));
  EXPECT_FALSE(t.Exists());
  EXPECT_FALSE(t.ReadFromFile(dir.File16("missing.mp3")));
  EXPECT_FALSE(t.ReadFromFile(dir.File16("")));  // the folder itself, not a file
}

}  // namespace
}  // namespace ordana
