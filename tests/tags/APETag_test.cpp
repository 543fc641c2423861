#include "tags/APETag.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/FileIO.h"
#include "support/Mutagen.h"
#include "support/PeakMemory.h"
#include "support/SaveFaults.h"
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
  EXPECT_EQ(tag.Fields()[3].Value.bytes(), binary);  // zero bytes inside are kept
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
  EXPECT_EQ(tag.Fields()[0].Name.bytes(), std::string(kAudio.size() - 8, '\x55'));
  EXPECT_EQ(tag.Fields()[0].Value, "");
}

// Items are read one by one within a cap of 16 MiB held: long keys are
// found, a value that would pass the cap ends the list.
TEST(APETag, ItemsAreReadWithinACap) {
  test::TempDir dir;
  TAPETag tag;
  const std::string longKey(3000, 'K');
  test::WriteBytes(dir.File("k"), kAudio + Tag({Item(longKey, "v"), Item("Title", "after")}));
  ASSERT_TRUE(tag.ReadFromFile(dir.File16("k")));
  EXPECT_EQ(tag.SeekField(Utf8String(longKey)), "v");
  EXPECT_EQ(tag.SeekField("Title"), "after");

  const std::string cover(8 << 20, 'c');
  test::WriteBytes(dir.File("c"), kAudio + Tag({Item("Title", "t"), Item("Cover Art (Front)", cover, 2),
                                                Item("Big", std::string(9 << 20, 'b')), Item("Artist", "a")}));
  ASSERT_TRUE(tag.ReadFromFile(dir.File16("c")));
  ASSERT_EQ(tag.Fields().size(), 2u);
  EXPECT_EQ(tag.SeekField("Cover Art (Front)").size(), cover.size());
  EXPECT_EQ(tag.SeekField("Artist"), "");
}

// A damaged 2 GiB file (sparse) whose footer claims a tag of nearly all of
// it and 2^32-1 items: neither the claimed size nor a value claimed inside
// it is allocated.
TEST(APETag, ClaimedSizesAreNotAllocated) {
  ORDANA_SKIP_UNLESS_PEAK_MEMORY_MEASURED();
  test::TempDir dir;
  const int64_t size = int64_t{2} << 30;
  // The items start 256 bytes into the file: zeros (empty items without
  // end), or an item and then a value claiming 1.75 GiB.
  for (const std::string& first :
       {std::string(), Item("Title", "t") + LE32(0x70000000) + LE32(0) + "Cover" + '\0'}) {
    const std::string path = dir.File("big.ape");
    test::WriteBytes(path, Zeros(256) + first);
    std::filesystem::resize_file(path, static_cast<uintmax_t>(size - 32));
    {
      std::ofstream out(path, std::ios::binary | std::ios::app);
      out << HeaderOrFooter(2000, 0x7FFFFF00u, 0xFFFFFFFFu, 0);
    }
    std::optional<int64_t> kib = test::PeakGrowthKiB([&] {
      TAPETag t;
      if (!t.ReadFromFile(dir.File16("big.ape")) || !t.Exists() || t.Fields().empty()) std::_Exit(2);
    });
    ASSERT_TRUE(kib.has_value()) << first.size();
    EXPECT_LT(*kib, 64 * 1024) << first.size();
  }
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
      EXPECT_EQ(tag.Fields()[n].Name.bytes(), test::Unhex(key));
      EXPECT_EQ(tag.Fields()[n].Value.bytes(), test::Unhex(value));
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

// --- Editing and writing ---------------------------------------------------

std::vector<std::string> Names(const TAPETag& tag) {
  std::vector<std::string> names;
  for (const RField& f : tag.Fields()) names.push_back(f.Name.bytes());
  return names;
}

TEST(APETagEditing, PositionsOutsideTheListChangeNothing) {
  TAPETag tag;
  tag.AppendField("A", "1");
  tag.AppendField(u"B", u"2");
  tag.AppendField("A", "3");  // appended although "A" exists
  EXPECT_EQ(Names(tag), (std::vector<std::string>{"A", "B", "A"}));

  tag.InsertField(3, "X", "x");   // at the end: nothing (AppendField does that)
  tag.InsertField(-1, "X", "x");
  tag.RemoveField(3);
  tag.RemoveField(-1);
  tag.SwapFields(0, 3);
  tag.SwapFields(-1, 0);
  EXPECT_EQ(Names(tag), (std::vector<std::string>{"A", "B", "A"}));

  tag.InsertField(1, "I", "i");
  EXPECT_EQ(Names(tag), (std::vector<std::string>{"A", "I", "B", "A"}));
  tag.SwapFields(0, 2);
  EXPECT_EQ(Names(tag), (std::vector<std::string>{"B", "I", "A", "A"}));
  tag.RemoveField(1);
  EXPECT_EQ(Names(tag), (std::vector<std::string>{"B", "A", "A"}));
  EXPECT_EQ(tag.Fields()[1].Value, "1");
}

TEST(APETagEditing, EditAndDeleteMatchNamesByteForByte) {
  TAPETag tag;
  tag.AppendField("Title", "old");
  tag.EditField("title", "new");  // another name: appended
  EXPECT_EQ(Names(tag), (std::vector<std::string>{"Title", "title"}));
  EXPECT_EQ(tag.Fields()[0].Value, "old");
  tag.EditField(u"Title", u"Новое");
  EXPECT_EQ(tag.Fields()[0].Value, "Новое");
  tag.EditField(u"Rating", -5);
  EXPECT_EQ(tag.SeekField("rating"), "-5");
  tag.EditField(u"Rating", 0);
  EXPECT_EQ(tag.SeekField("rating"), "0");
  // Empty names or values leave the list alone.
  tag.EditField("Title", "");
  tag.EditField(u"", u"x");
  tag.EditField(u"", 7);
  EXPECT_EQ(tag.Fields().size(), 3u);
  EXPECT_EQ(tag.Fields()[0].Value, "Новое");

  tag.DeleteField(u"TITLE");  // no such name in this case
  EXPECT_EQ(tag.Fields().size(), 3u);
  tag.DeleteField(u"title");
  EXPECT_EQ(Names(tag), (std::vector<std::string>{"Title", "Rating"}));
}

struct ApeFile {
  test::TempDir dir;
  std::string name = "song.mp3";
  std::string Path() const { return dir.File(name); }
  std::u16string Path16() const { return dir.File16(name); }
  std::string Bytes() const { return test::ReadBytes(Path()); }
};

TAPETag SampleItems() {
  TAPETag tag;
  tag.AppendField(u"Title", u"Город золотой");
  tag.AppendField(u"Artist", u"Аквариум");
  tag.EditField(u"PlayCount", 12);
  tag.AppendField("Comment", "c");
  return tag;
}

TEST(APETagWriting, AddsTagBeforeID3v1AndReplacesItOnTheNextWrite) {
  ApeFile f;
  const std::string id3 = ID3v1("v1");
  test::WriteBytes(f.Path(), kAudio + id3);
  TAPETag tag = SampleItems();
  const std::string built = tag.BuildTag();
  ASSERT_TRUE(tag.WriteTagInFile(f.Path16()));
  std::string once = f.Bytes();
  EXPECT_EQ(once, kAudio + built + id3);  // grows by the tag only
  // The layout: header and footer flags, version, size without the header.
  EXPECT_EQ(built.substr(0, 8), "APETAGEX");
  EXPECT_EQ(built.substr(8, 4), LE32(2000));
  EXPECT_EQ(built.substr(12, 4), LE32(static_cast<uint32_t>(built.size() - 32)));
  EXPECT_EQ(built.substr(16, 4), LE32(4));
  EXPECT_EQ(built.substr(20, 4), LE32(0xA0000000));
  EXPECT_EQ(built.substr(built.size() - 12, 4), LE32(0x80000000));

  TAPETag back;
  ASSERT_TRUE(back.ReadFromFile(f.Path16()));
  ASSERT_EQ(back.Fields().size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(back.Fields()[i].Name, tag.Fields()[i].Name);
    EXPECT_EQ(back.Fields()[i].Value, tag.Fields()[i].Value);
    EXPECT_EQ(back.Fields()[i].Flags, 0u);
  }
  // Writing again gives the same file; a changed list replaces the old tag.
  ASSERT_TRUE(back.WriteTagInFile(f.Path16()));
  EXPECT_EQ(f.Bytes(), once);
  back.RemoveField(3);
  ASSERT_TRUE(back.WriteTagInFile(f.Path16()));
  EXPECT_EQ(f.Bytes(), kAudio + back.BuildTag() + id3);

  // Removing keeps the audio and the ID3v1 tag; a second removal is a no-op.
  EXPECT_TRUE(back.RemoveTagFromFile(f.Path16()));
  EXPECT_EQ(f.Bytes(), kAudio + id3);
  EXPECT_TRUE(back.RemoveTagFromFile(f.Path16()));
  EXPECT_EQ(f.Bytes(), kAudio + id3);
  EXPECT_FALSE(back.RemoveTagFromFile(f.dir.File16("missing")));
  EXPECT_FALSE(back.WriteTagInFile(f.dir.File16("missing")));
}

TEST(APETagWriting, KeysKeepTheirCodePageAndShortFilesKeepTheirID3v1) {
  ApeFile f;
  // A key read from the file (Windows-1251 "А" = C0) is written back in the
  // same bytes, so it reads the same after any number of saves.
  test::WriteBytes(f.Path(), kAudio + Tag({Item("\xC0lbum", "x")}));
  TAPETag tag;
  ASSERT_TRUE(tag.ReadFromFile(f.Path16()));
  for (int save = 0; save < 2; ++save) {
    ASSERT_TRUE(tag.WriteTagInFile(f.Path16()));
    EXPECT_EQ(f.Bytes(), kAudio + Tag({Item("\xC0lbum", "x")}));
    ASSERT_TRUE(tag.ReadFromFile(f.Path16()));
    ASSERT_EQ(tag.Fields().size(), 1u);
    EXPECT_EQ(tag.Fields()[0].Name, "Аlbum");
  }

  // A file too short to hold a footer before its ID3v1 tag still ends with
  // that tag once an APE tag is added.
  for (const std::string& audio : {std::string(1, 'a'), std::string(20, 'a')}) {
    const std::string id3 = ID3v1("short");
    test::WriteBytes(f.Path(), audio + id3);
    TAPETag items;
    items.AppendField("Title", "t");
    ASSERT_TRUE(items.WriteTagInFile(f.Path16()));
    EXPECT_EQ(f.Bytes(), audio + items.BuildTag() + id3);
    TAPETag back;
    ASSERT_TRUE(back.ReadFromFile(f.Path16()));
    EXPECT_TRUE(back.Exists());
    EXPECT_EQ(back.SeekField("TITLE"), "t");
  }
}

TEST(APETagWriting, OldTagExtentFollowsTheHeaderFlagAndTheRealHeader) {
  ApeFile f;
  TAPETag tag;
  tag.AppendField("Title", "t");
  const std::string built = tag.BuildTag();
  // A version 1 tag without header: the 32 bytes before it are audio.
  const std::string before = "APETAGEX" + std::string(24, 'a');
  test::WriteBytes(f.Path(), kAudio + before + Tag({Item("Old", "o")}, false));
  ASSERT_TRUE(tag.WriteTagInFile(f.Path16()));
  EXPECT_EQ(f.Bytes(), kAudio + before + built);
  ASSERT_TRUE(tag.RemoveTagFromFile(f.Path16()));
  EXPECT_EQ(f.Bytes(), kAudio + before);

  // The header flag set but no header in front: those bytes stay too.
  std::string items = Item("Old", "o");
  std::string noHeader = items + HeaderOrFooter(2000, uint32_t(items.size() + 32), 1, 0x80000000);
  test::WriteBytes(f.Path(), kAudio + noHeader);
  ASSERT_TRUE(tag.WriteTagInFile(f.Path16()));
  EXPECT_EQ(f.Bytes(), kAudio + built);

  // A tag size larger than the file: nothing is changed.
  const std::string broken = kAudio + HeaderOrFooter(2000, 0x10000000, 1, 0);
  test::WriteBytes(f.Path(), broken);
  EXPECT_FALSE(tag.WriteTagInFile(f.Path16()));
  EXPECT_FALSE(tag.RemoveTagFromFile(f.Path16()));
  EXPECT_EQ(f.Bytes(), broken);

  // A file too short for a footer gets the tag appended.
  test::WriteBytes(f.Path(), "tiny");
  ASSERT_TRUE(tag.WriteTagInFile(f.Path16()));
  EXPECT_EQ(f.Bytes(), "tiny" + built);
  test::WriteBytes(f.Path(), "tiny");
  EXPECT_FALSE(tag.RemoveTagFromFile(f.Path16()));

  // A name holding a zero byte cannot be stored: refused, file unchanged.
  TAPETag bad;
  bad.AppendField(Utf8String(std::string("Ti\0tle", 6)), "x");
  test::WriteBytes(f.Path(), kAudio);
  EXPECT_FALSE(bad.WriteTagInFile(f.Path16()));
  EXPECT_EQ(f.Bytes(), kAudio);
}

TEST(APETagWriting, InjectedFaultsNeverDamageTheFile) {
  ApeFile f;
  const std::string id3 = ID3v1("v1");
  const std::string old = Tag({Item("Old", std::string(70000, 'o'))});
  test::WriteBytes(f.Path(), kAudio + old + id3);
  TAPETag tag = SampleItems();
  int write = test::CountSurvivedFaults(f.Path(), kAudio + tag.BuildTag() + id3,
                          [&] { return tag.WriteTagInFile(f.Path16()); });
  int thrown = 0;
  int remove = test::CountSurvivedFaults(f.Path(), kAudio + id3, [&] {
    try {
      return tag.RemoveTagFromFile(f.Path16());
    } catch (const EWriteError&) {
      ++thrown;  // removal reports a failed change by an exception
      return false;
    }
  });
  EXPECT_EQ(thrown, remove);
  EXPECT_GE(write, 3);
  EXPECT_GE(remove, 3);
  RecordProperty("faults_survived", write + remove);
  std::printf("APE save faults survived: write %d, remove %d\n", write, remove);
}

// Tags we write read back the same with mutagen, before an ID3v1 tag too.
// A binary item read from a file stays binary.
TEST(APETagWriting, MutagenReadsWhatWeWrite) {
  ORDANA_REQUIRE_MUTAGEN();
  ApeFile f;
  const std::string cover("\x00\xFF\xD8", 3);
  test::WriteBytes(f.Path(), kAudio + Tag({Item("Cover Art (Front)", cover, 2)}) + ID3v1("v1"));
  TAPETag tag;
  ASSERT_TRUE(tag.ReadFromFile(f.Path16()));
  const TAPETag more = SampleItems();
  for (const RField& item : more.Fields()) tag.AppendField(item.Name, item.Value);
  tag.EditField("Title", "Новое имя");
  ASSERT_TRUE(tag.WriteTagInFile(f.Path16()));
  std::string out;
  ASSERT_EQ(test::RunPython(R"(
import sys
from mutagen.apev2 import APEv2
t = APEv2(sys.argv[1])
for k in t.keys():
    v = t[k].value
    print(k.encode('utf-8').hex(), (v if isinstance(v, bytes) else v.encode('utf-8')).hex(), t[k].kind)
)", test::ShellQuote(f.Path()), &out),
            0)
      << out;
  std::istringstream lines(out);
  std::string key, value;
  uint32_t kind = 0;
  size_t n = 0;
  for (; lines >> key >> value >> kind; ++n) {
    ASSERT_LT(n, tag.Fields().size());
    EXPECT_EQ(test::Unhex(key), tag.Fields()[n].Name.bytes());
    EXPECT_EQ(test::Unhex(value), tag.Fields()[n].Value.bytes());
    EXPECT_EQ(kind, n == 0 ? 1u : 0u);  // mutagen's kinds: 0 text, 1 binary
  }
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(tag.Fields()[0].Value.bytes(), cover);
}

}  // namespace
}  // namespace ordana
