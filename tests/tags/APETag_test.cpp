#include "tags/APETag.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/Mutagen.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::LE32;
using test::Zeros;

std::string Item(std::string_view key, std::string_view value, uint32_t flags = 0) {
  return LE32(static_cast<uint32_t>(value.size())) + LE32(flags) + std::string(key) + '\0' +
         std::string(value);
}

std::string HeaderOrFooter(uint32_t version, uint32_t size, uint32_t count, uint32_t flags) {
  return "APETAGEX" + LE32(version) + LE32(size) + LE32(count) + LE32(flags) + Zeros(8);
}

// A tag of the given items; with a header (version 2000) or without (1000).
std::string Tag(const std::vector<std::string>& items, bool header = true) {
  std::string body;
  for (const auto& i : items) body += i;
  const auto size = static_cast<uint32_t>(body.size() + 32);
  const auto count = static_cast<uint32_t>(items.size());
  if (!header) return body + HeaderOrFooter(1000, size, count, 0);
  return HeaderOrFooter(2000, size, count, 0xA0000000) + body +
         HeaderOrFooter(2000, size, count, 0x80000000);
}

std::string ID3v1(std::string_view title) {
  std::string t = "TAG" + std::string(title);
  t.resize(127, '\0');
  return t + '\xFF';
}

const std::string kAudio = std::string("\xFF\xFB\x90\x64", 4) + std::string(3000, '\x55');

TEST(APETag, ReadsItemsBeforeID3v1WithTrimmedKeysAndRawValues) {
  test::TempDir dir;
  const std::string binary("\x00\x01\xFF\x00", 4);
  const std::string ape = Tag({Item("Title", "Песня"), Item(" Artist\t", "Группа"),
                               Item("Empty", ""), Item("Cover", binary, 2),
                               Item("TITLE", "second")});
  test::WriteBytes(dir.File("a.mp3"), kAudio + ape + ID3v1("v1 title"));
  TAPETag tag;
  ASSERT_TRUE(tag.ReadFromFile(dir.File16("a.mp3")));
  ASSERT_TRUE(tag.Exists());
  EXPECT_EQ(tag.Version(), 2000);
  EXPECT_EQ(tag.Size(), static_cast<int32_t>(ape.size() - 32));  // the header is not counted
  ASSERT_EQ(tag.Fields().size(), 5u);
  EXPECT_EQ(tag.Fields()[1].Name, "Artist");
  EXPECT_EQ(tag.Fields()[2].Name, "Empty");
  EXPECT_EQ(tag.Fields()[2].Value, "");
  EXPECT_EQ(tag.Fields()[3].Value, binary);  // zero bytes inside are kept
  // ASCII case is folded; the first of two equal names wins.
  EXPECT_EQ(tag.SeekField("title"), "Песня");
  EXPECT_EQ(tag.SeekField("TITLE"), "Песня");
  EXPECT_EQ(tag.SeekField("artist"), "Группа");
  EXPECT_EQ(tag.SeekField(" Artist"), "");
  EXPECT_EQ(tag.SeekField("Missing"), "");
}

TEST(APETag, VersionOneTagWithoutHeaderAndNonAsciiKeys) {
  test::TempDir dir;
  // Key bytes are read in the ANSI code page (Windows-1251): C0 is "А".
  test::WriteBytes(dir.File("a.ape"),
                   kAudio + Tag({Item("\xC0lbum", "x"), Item("Year", "1999")}, false));
  TAPETag tag;
  ASSERT_TRUE(tag.ReadFromFile(dir.File16("a.ape")));
  ASSERT_TRUE(tag.Exists());
  EXPECT_EQ(tag.Version(), 1000);
  EXPECT_EQ(tag.SeekField("Year"), "1999");
  EXPECT_EQ(tag.SeekField("Аlbum"), "x");
  EXPECT_EQ(tag.SeekField("аlbum"), "");  // non-ASCII letters are not case folded
  EXPECT_EQ(tag.SeekField("ALBUM"), "");
}

TEST(APETag, WhereNoTagIsFound) {
  test::TempDir dir;
  TAPETag tag;
  // Unreadable and too short files: false, reset.
  EXPECT_FALSE(tag.ReadFromFile(dir.File16("missing.ape")));
  test::WriteBytes(dir.File("tiny"), std::string(32, 'x'));
  EXPECT_FALSE(tag.ReadFromFile(dir.File16("tiny")));
  // Something after the tag other than an ID3v1 tag hides it.
  test::WriteBytes(dir.File("trail"), kAudio + Tag({Item("Title", "t")}) + "garbage");
  EXPECT_TRUE(tag.ReadFromFile(dir.File16("trail")));
  EXPECT_FALSE(tag.Exists());
  // A tag at the start of the file is not found either.
  test::WriteBytes(dir.File("front"), Tag({Item("Title", "t")}) + kAudio);
  EXPECT_TRUE(tag.ReadFromFile(dir.File16("front")));
  EXPECT_FALSE(tag.Exists());
  EXPECT_EQ(tag.SeekField("Title"), "");

  // A reused reader forgets the previous file.
  test::WriteBytes(dir.File("good"), kAudio + Tag({Item("Title", "t")}));
  ASSERT_TRUE(tag.ReadFromFile(dir.File16("good")));
  EXPECT_EQ(tag.SeekField("Title"), "t");
  EXPECT_FALSE(tag.ReadFromFile(dir.File16("missing.ape")));
  EXPECT_FALSE(tag.Exists());
  EXPECT_EQ(tag.Version(), 0);
  EXPECT_TRUE(tag.Fields().empty());
  EXPECT_EQ(tag.SeekField("Title"), "");
}

TEST(APETag, SmallFilesLookForNoID3v1Mark) {
  test::TempDir dir;
  // 128 bytes in all, starting with "TAG": the tag still ends the file.
  std::string tag = Tag({Item("Title", "t")}, false);
  std::string file = "TAG" + std::string(128 - 3 - tag.size(), 'x') + tag;
  ASSERT_EQ(file.size(), 128u);
  test::WriteBytes(dir.File("a"), file);
  TAPETag t;
  ASSERT_TRUE(t.ReadFromFile(dir.File16("a")));
  EXPECT_TRUE(t.Exists());
  EXPECT_EQ(t.SeekField("title"), "t");
}

// Damaged item lists end where the damage is; nothing outside the tag is read.
TEST(APETag, DamagedItemListsStopAtTheDamage) {
  test::TempDir dir;
  TAPETag tag;
  auto read = [&](const std::string& items, uint32_t count, uint32_t size) {
    test::WriteBytes(dir.File("d"), kAudio + items + HeaderOrFooter(2000, size, count, 0));
    EXPECT_TRUE(tag.ReadFromFile(dir.File16("d")));
    EXPECT_TRUE(tag.Exists());
  };
  const std::string good = Item("Title", "ok");
  const auto size = [](const std::string& items) { return uint32_t(items.size() + 32); };

  // A key without its zero byte.
  std::string items = good + LE32(2) + LE32(0) + "Artistxx";
  read(items, 2, size(items));
  ASSERT_EQ(tag.Fields().size(), 1u);
  EXPECT_EQ(tag.SeekField("Title"), "ok");

  // A value size past the end of the tag, and a negative one: the name stays.
  for (uint32_t bad : {1000000u, 0x80000000u, 0xFFFFFFFFu}) {
    items = good + LE32(bad) + LE32(0) + "Artist" + '\0' + "abc" + Item("Album", "a");
    read(items, 3, size(items));
    ASSERT_EQ(tag.Fields().size(), 2u) << bad;
    EXPECT_EQ(tag.Fields()[1].Name, "Artist");
    EXPECT_EQ(tag.Fields()[1].Value, "");
    EXPECT_EQ(tag.SeekField("Album"), "");
  }

  // An item count far beyond the items present.
  items = good + Item("Album", "a");
  read(items, 0xFFFFFFFF, size(items));
  EXPECT_EQ(tag.Fields().size(), 2u);
  EXPECT_EQ(tag.SeekField("album"), "a");

  // Fewer items claimed than present: only the claimed ones.
  read(items, 1, size(items));
  EXPECT_EQ(tag.Fields().size(), 1u);

  // Tag sizes larger than the file, negative, or smaller than the footer.
  for (uint32_t bad : {0x7FFFFFFFu, 0xFFFFFFF0u, 10u, 0u}) {
    read(items, 2, bad);
    EXPECT_TRUE(tag.Fields().empty()) << bad;
    EXPECT_EQ(tag.Size(), static_cast<int32_t>(bad));
  }
  // A tag size covering the whole file: the audio bytes are taken as an item
  // whose key runs up to the first zero byte and whose value size (the first
  // audio bytes) is far too large: one name, no value, nothing else.
  read(items, 50, static_cast<uint32_t>(kAudio.size() + items.size() + 32));
  ASSERT_EQ(tag.Fields().size(), 1u);
  EXPECT_EQ(tag.Fields()[0].Name, std::string(kAudio.size() - 8, '\x55'));
  EXPECT_EQ(tag.Fields()[0].Value, "");
}

// Tags written by an independent writer (mutagen), read back field by field.
TEST(APETag, ReadsTagsWrittenByMutagen) {
  ORDANA_REQUIRE_MUTAGEN();
  test::TempDir dir;
  test::WriteBytes(dir.File("song.mp3"), kAudio);
  test::WriteBytes(dir.File("bare.mpc"), std::string(200, 'm'));
  const char* write = R"(
import sys
from mutagen.apev2 import APEv2, APEValue, BINARY
t = APEv2()
t['Title'] = 'Звезда по имени Солнце'
t['Artist'] = 'Кино'
t['Album'] = 'Звезда'
t['Year'] = '1989'
t['Genre'] = 'Rock'
t['Comment'] = 'line one\nline two'
t['Rating'] = '5'
t['Cover Art (Front)'] = APEValue(b'cover.jpg\x00\xff\xd8\xff', BINARY)
t.save(sys.argv[1])
)";
  const char* list = R"(
import sys
from mutagen.apev2 import APEv2
t = APEv2(sys.argv[1])
for k in t.keys():
    v = t[k].value
    print(k.encode('utf-8').hex(), (v if isinstance(v, bytes) else v.encode('utf-8')).hex())
)";
  for (const char* name : {"song.mp3", "bare.mpc"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(test::RunPython(write, test::ShellQuote(dir.File(name))), 0);
    // The MP3 file then gets an ID3v1 tag after its APE tag.
    if (std::string(name) == "song.mp3")
      test::WriteBytes(dir.File(name), test::ReadBytes(dir.File(name)) + ID3v1("old"));
    std::string out;
    ASSERT_EQ(test::RunPython(list, test::ShellQuote(dir.File(name)), &out), 0) << out;

    TAPETag tag;
    ASSERT_TRUE(tag.ReadFromFile(dir.File16(name)));
    ASSERT_TRUE(tag.Exists());
    EXPECT_EQ(tag.Version(), 2000);
    std::istringstream lines(out);
    std::string key, value;
    size_t n = 0;
    while (lines >> key >> value) {
      ASSERT_LT(n, tag.Fields().size());
      EXPECT_EQ(tag.Fields()[n].Name, test::Unhex(key));
      EXPECT_EQ(tag.Fields()[n].Value, test::Unhex(value));
      ++n;
    }
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(tag.Fields().size(), 8u);
    EXPECT_EQ(tag.SeekField("title"), "Звезда по имени Солнце");
    EXPECT_EQ(tag.SeekField("ARTIST"), "Кино");
  }
  // The ID3v1 tag still ends the MP3 file.
  std::string bytes = test::ReadBytes(dir.File("song.mp3"));
  EXPECT_EQ(bytes.substr(bytes.size() - 128, 6), "TAGold");
}

}  // namespace
}  // namespace ordana
