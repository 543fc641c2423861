#include "tags/mp4tag.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/TextCodec.h"
#include "support/Mutagen.h"
#include "support/PeakMemory.h"
#include "support/TagText.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::BE32;

std::string Atom(std::string_view type, const std::string& payload) {
  return BE32(8 + payload.size()) + std::string(type) + payload;
}
std::string Cat(const std::vector<std::string>& parts) {
  std::string s;
  for (const auto& p : parts) s += p;
  return s;
}
// An item of the list with its "data" child (type indicator 1 = UTF-8 text).
std::string Item(std::string_view name, const std::string& value, uint32_t indicator = 1) {
  return Atom(name, Atom("data", BE32(indicator) + BE32(0) + value));
}
std::string Meta(const std::vector<std::string>& items) {
  return Atom("meta", BE32(0) + Atom("hdlr", BE32(0) + "mdirappl" + std::string(9, '\0')) +
                          Atom("ilst", Cat(items)));
}
std::string Ftyp() { return Atom("ftyp", "M4A " + BE32(0) + "M4A isom"); }
std::string Trak() {
  return Atom("trak", Atom("tkhd", std::string(84, '\1')) +
                          Atom("mdia", Atom("mdhd", std::string(24, '\2')) +
                                           Atom("minf", Atom("stbl", Atom("stsd", std::string(40, '\3'))))));
}
std::string Mdat(size_t n) { return Atom("mdat", std::string(n, '\x55')); }
std::string Moov(const std::vector<std::string>& items) {
  return Atom("moov", Atom("mvhd", std::string(100, '\0')) + Trak() + Atom("udta", Meta(items)));
}
const std::string kNam = "\xA9nam", kArt = "\xA9" "art", kART = "\xA9" "ART", kAlb = "\xA9" "alb",
                  kDay = "\xA9" "day", kGen = "\xA9" "gen", kCmt = "\xA9" "cmt";

std::vector<std::string> AllItems() {
  return {Item(kNam, "Песня"), Item(kART, "Artist"), Item(kAlb, "Album"), Item(kDay, "2011-05-01"),
          Item(kGen, "Jazz"), Item(kCmt, "Comment"), Item("trkn", test::Bytes({0, 0, 0, 5, 0, 12, 0, 0}), 0),
          Item("aART", "Album artist"), Item("covr", std::string(300, '\x89'), 13)};
}

struct Reader : test::ReadBack<TMp4Tag> {
  void Load(const std::string& bytes) { ReadBack::Load(bytes, "a.m4a"); }
  TMp4Tag& tag = reader;
};

TEST(Mp4Tag, ItemsOfMoovBeforeMediaData) {
  Reader r;
  r.Load(Ftyp() + Moov(AllItems()) + Mdat(1100000));
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.tag.Exists());
  EXPECT_EQ(r.tag.Title(), U16("Песня"));
  EXPECT_EQ(r.tag.Artist(), u"Artist");
  EXPECT_EQ(r.tag.Album(), u"Album");
  EXPECT_EQ(r.tag.Year(), u"2011-05-01");
  EXPECT_EQ(r.tag.Genre(), u"Jazz");
  EXPECT_EQ(r.tag.Comment(), u"Comment");
  EXPECT_EQ(r.tag.Track(), 5);

  // Reading another file starts empty.
  r.Load(Ftyp() + Moov({Item(kAlb, "Other")}));
  EXPECT_EQ(r.tag.Title(), u"");
  EXPECT_EQ(r.tag.Track(), 0);
  EXPECT_EQ(r.tag.Album(), u"Other");
}

TEST(Mp4Tag, BigAtomsStopTheWalk) {
  Reader r;
  // Media data above 1 MiB before "moov": nothing is read, the file still counts.
  r.Load(Ftyp() + Mdat(1048577) + Moov(AllItems()));
  EXPECT_TRUE(r.ok && r.tag.Exists());
  EXPECT_EQ(r.tag.Title(), u"");
  // Exactly 1 MiB of payload is still skipped.
  r.Load(Ftyp() + Mdat(1048576) + Moov(AllItems()));
  EXPECT_EQ(r.tag.Title(), U16("Песня"));
  // A "moov" above 1 MiB (a large cover in the list) yields nothing.
  std::vector<std::string> items = AllItems();
  items.push_back(Item("covr", std::string(1100000, 'c'), 13));
  r.Load(Ftyp() + Moov(items));
  EXPECT_TRUE(r.tag.Exists());
  EXPECT_EQ(r.tag.Title(), u"");
}

TEST(Mp4Tag, ItemTableRules) {
  Reader r;
  r.Load(Ftyp() + Moov({Item(kArt, "first"), Item(kART, "second"), Item("gnre", test::Bytes({0, 5}), 0),
                        Item(kNam, "T1"), Item(kNam, "T2"), Item("\xA9" "NAM", "upper")}));
  EXPECT_EQ(r.tag.Artist(), u"second");
  EXPECT_EQ(r.tag.Genre(), u"");  // the numeric genre is not taken
  EXPECT_EQ(r.tag.Title(), u"T2");

  r.Load(Ftyp() + Moov({Item(kART, "second"), Item(kArt, "first")}));
  EXPECT_EQ(r.tag.Artist(), u"first");

  // An item whose child is not "data", or whose data holds no value, is
  // read past; the next item is still found.
  r.Load(Ftyp() + Moov({Atom(kNam, Atom("name", "xxxx")), Atom(kAlb, Atom("data", std::string(8, '\0'))),
                        Item(kGen, "Blues")}));
  EXPECT_EQ(r.tag.Title(), u"");
  EXPECT_EQ(r.tag.Genre(), u"Blues");
}

TEST(Mp4Tag, ContainersAreEnteredOnlyInOrder) {
  Reader r;
  // "udta" before "moov" is skipped whole, so its items are not read;
  // the moov's own list is.
  r.Load(Ftyp() + Atom("udta", Meta({Item(kNam, "outside")})) + Moov({Item(kAlb, "inside")}));
  EXPECT_EQ(r.tag.Title(), u"");
  EXPECT_EQ(r.tag.Album(), u"inside");
  // A "meta" directly in "moov" (no udta) is not entered.
  r.Load(Ftyp() + Atom("moov", Meta({Item(kNam, "no udta")})));
  EXPECT_EQ(r.tag.Title(), u"");
}

TEST(Mp4Tag, DamagedAtomsStopWithoutLooping) {
  Reader r;
  const std::string good = Ftyp() + Moov(AllItems());
  // Sizes 0 (to the end), 1 (64-bit size follows) and 2 to 7 (shorter than
  // a header), a type with a zero byte: the walk stops there.
  for (const std::string& bad : {BE32(0) + "free", BE32(1) + "mdat" + std::string(8, '\0'),
                                 BE32(4) + "free", BE32(7) + "free",
                                 BE32(16) + std::string("fr\0e", 4) + "12345678"}) {
    r.Load(Ftyp() + bad + Moov(AllItems()));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.tag.Title(), u"");
  }
  // A data atom claiming far more than the file holds: nothing is allocated
  // for it and no partial value is taken.
  r.Load(Ftyp() + Atom("moov", Atom("udta", Atom("meta", BE32(0) + Atom("ilst",
             Atom(kNam, BE32(0xFFFFFF00) + "data" + BE32(1) + BE32(0) + "cut"))))));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.tag.Title(), u"");
  // A short trkn value is not read beyond its atom.
  r.Load(Ftyp() + Moov({Item("trkn", test::Bytes({0, 9})), Item(kNam, "after")}));
  EXPECT_EQ(r.tag.Track(), 0);
  EXPECT_EQ(r.tag.Title(), u"after");

  // Every prefix of a good file reads, and never gives a partial text.
  for (size_t n = 0; n <= good.size(); n += 3) {
    r.Load(good.substr(0, n));
    ASSERT_TRUE(r.ok) << n;
    ASSERT_TRUE(r.tag.Title().empty() || r.tag.Title() == U16("Песня")) << n;
  }
}

TEST(Mp4Tag, EmptyAtomsArePassedOver) {
  Reader r;
  // ffmpeg's empty "free" after "ftyp"; empty atoms inside moov, udta and
  // the item list, and an empty item.
  r.Load(Ftyp() + BE32(8) + "free" +
         Atom("moov", BE32(8) + "free" + Atom("udta", BE32(8) + "free" + Meta({
             BE32(8) + "free", BE32(8) + kAlb, Item(kNam, "after empty")}))));
  EXPECT_EQ(r.tag.Title(), u"after empty");
  EXPECT_EQ(r.tag.Album(), u"");
  // An empty expected container is not entered: a "moov" after it still is.
  r.Load(Ftyp() + BE32(8) + "moov" + Moov({Item(kNam, "second moov")}));
  EXPECT_EQ(r.tag.Title(), u"second moov");
}

TEST(Mp4Tag, ItemsAreLeftByTheirOwnSize) {
  Reader r;
  // A free-form item (mean, name, data) before the title: its children are
  // not taken for items, and its value is not taken for anything.
  const std::string freeForm =
      Atom("----", Atom("mean", BE32(0) + "com.apple.iTunes") + Atom("name", BE32(0) + "\xA9nam") +
                       Atom("data", BE32(1) + BE32(0) + "free-form value"));
  r.Load(Ftyp() + Moov({Item(kArt, "A"), freeForm, Item(kNam, "Title"), Item(kCmt, "C")}));
  EXPECT_EQ(r.tag.Artist(), u"A");
  EXPECT_EQ(r.tag.Title(), u"Title");
  EXPECT_EQ(r.tag.Comment(), u"C");

  // A first child that is not "data" makes the item yield nothing; a data
  // atom followed by more children inside its item is read, and the walk
  // goes on after the item.
  r.Load(Ftyp() + Moov({Atom(kNam, Atom("xxxx", "abcd") + Atom("data", BE32(1) + BE32(0) + "no")),
                        Atom(kAlb, Atom("data", BE32(1) + BE32(0) + "Album") + Atom("free", "pad")),
                        Item(kGen, "Genre")}));
  EXPECT_EQ(r.tag.Title(), u"");
  EXPECT_EQ(r.tag.Album(), u"Album");
  EXPECT_EQ(r.tag.Genre(), u"Genre");

  // A data atom claiming more than its item (but less than the file): no
  // value is taken from the bytes of the items after it, and they are read.
  r.Load(Ftyp() + Moov({Atom(kNam, BE32(8 + 8 + 200) + "data" + BE32(1) + BE32(0) + "cut"),
                        Item(kAlb, std::string(300, 'a')), Item(kGen, "Rock")}) + Mdat(2000));
  EXPECT_EQ(r.tag.Title(), u"");
  EXPECT_EQ(r.tag.Album(), U16(std::string(300, 'a')));
  EXPECT_EQ(r.tag.Genre(), u"Rock");
  // The same for the track number: a data atom running out of its item.
  r.Load(Ftyp() + Moov({Atom("trkn", BE32(8 + 8 + 100) + "data" + BE32(0) + BE32(0) + BE32(7)),
                        Item(kNam, "T")}));
  EXPECT_EQ(r.tag.Track(), 0);
  EXPECT_EQ(r.tag.Title(), u"T");
}

// The hostile layouts of the fuzz corpus: a data atom claiming nearly 4 GiB
// inside a file of that size (sparse), whose bytes the file does hold.
TEST(Mp4Tag, ClaimedSizesAreNotAllocated) {
  ORDANA_SKIP_UNLESS_PEAK_MEMORY_MEASURED();
  test::TempDir dir;
  const std::string path = dir.File("sparse.m4a");
  const std::string head =
      Ftyp() + Atom("moov", Atom("udta", Atom("meta", BE32(0) + Atom("ilst",
          Atom(kNam, BE32(0xFFFFFF00) + "data" + BE32(1) + BE32(0) + "x") + Item(kAlb, "kept")))));
  test::WriteBytes(path, head);
  std::filesystem::resize_file(path, 0x100000000ull);
  std::optional<int64_t> kib = test::PeakGrowthKiB([&] {
    TMp4Tag t;
    t.ReadFromFile(dir.File16("sparse.m4a"));
    if (t.Album() != u"kept" || !t.Title().empty()) std::_Exit(2);
  });
  ASSERT_TRUE(kib.has_value()) << "the read failed or gave the wrong items";
  EXPECT_LT(*kib, 64 * 1024);
}

TEST(Mp4Tag, MissingFile) {
  TMp4Tag tag;
  tag.SetTitle(u"stale");
  test::TempDir dir;
  EXPECT_FALSE(tag.ReadFromFile(dir.File16("none.m4a")));
  EXPECT_FALSE(tag.Exists());
  EXPECT_EQ(tag.Title(), u"");
}

// --- Files made by ffmpeg's AAC encoder --------------------------------------

std::string EncodeM4a(const test::TempDir& dir, const std::string& name, double seconds,
                      const std::string& extra) {
  const std::string path = dir.File(name);
  const std::string cmd =
      "ffmpeg -v error -y -f lavfi -i sine=frequency=330:sample_rate=44100:duration=" +
      std::to_string(seconds) + " -c:a aac -b:a 128k -metadata title=" +
      test::ShellQuote("Утренний эфир") + " -metadata artist=" + test::ShellQuote("Хор") +
      " -metadata album=Live -metadata genre=Choral -metadata date=2019 -metadata comment=" +
      test::ShellQuote("Без купюр") + " " + extra + " " + test::ShellQuote(path);
  EXPECT_EQ(test::Run(cmd), 0) << cmd;
  return path;
}

TEST(Mp4Tag, ReadsWhatFfmpegWritesWithMoovFirst) {
  ORDANA_REQUIRE_TOOL("ffmpeg");
  test::TempDir dir;
  // 90 s of 128 kbit/s AAC: the media data is well above 1 MiB.
  EncodeM4a(dir, "fast.m4a", 90, "-movflags +faststart");
  TMp4Tag tag;
  ASSERT_TRUE(tag.ReadFromFile(dir.File16("fast.m4a")));
  EXPECT_TRUE(test::HasText(tag, {.title = U16("Утренний эфир"), .artist = U16("Хор"), .album = u"Live",
                                  .year = u"2019", .genre = u"Choral", .comment = U16("Без купюр")}));
}

// ffmpeg's default layout is ftyp, an empty 8-byte "free" atom, mdat, moov.
// The empty atom is passed over; a short file's media data (under 1 MiB) is
// skipped and its items read, a long file's stops the walk.
TEST(Mp4Tag, FfmpegDefaultLayout) {
  ORDANA_REQUIRE_TOOL("ffmpeg");
  test::TempDir dir;
  EncodeM4a(dir, "short.m4a", 2, "");
  const std::string bytes = test::ReadBytes(dir.File("short.m4a"));
  ASSERT_NE(bytes.find(BE32(8) + "free"), std::string::npos);
  ASSERT_LT(bytes.find("mdat"), bytes.find("moov"));
  TMp4Tag tag;
  ASSERT_TRUE(tag.ReadFromFile(dir.File16("short.m4a")));
  EXPECT_EQ(tag.Title(), U16("Утренний эфир"));
  EXPECT_EQ(tag.Comment(), U16("Без купюр"));

  EncodeM4a(dir, "long.m4a", 90, "");
  ASSERT_TRUE(tag.ReadFromFile(dir.File16("long.m4a")));
  EXPECT_TRUE(tag.Exists());
  EXPECT_EQ(tag.Title(), u"");
}

// mutagen writes free-form "----" items before the comment (its own order
// of items), and a cover after them.
TEST(Mp4Tag, ReadsMutagenFreeFormItems) {
  ORDANA_REQUIRE_TOOL("ffmpeg");
  ORDANA_REQUIRE_MUTAGEN();
  test::TempDir dir;
  const std::string path = EncodeM4a(dir, "ff.m4a", 2, "-movflags +faststart");
  const std::string script = R"(
import sys
from mutagen.mp4 import MP4, MP4Cover, MP4FreeForm
f = MP4(sys.argv[1])
f.tags.clear()
f['\xa9nam'] = ['Free form']
f['----:com.apple.iTunes:MOOD'] = [MP4FreeForm(b'calm')]
f['----:com.apple.iTunes:LABEL'] = [MP4FreeForm(b'Ordana Records')]
f['covr'] = [MP4Cover(b'\x89PNG' + b'\0' * 5000, imageformat=MP4Cover.FORMAT_PNG)]
f['\xa9cmt'] = ['After the free-form items']
f['\xa9lyr'] = ['la la']
f.save()
keys = [k for k in f.tags.keys()]
print(' '.join(k[:4] for k in keys))
)";
  std::string out;
  ASSERT_EQ(test::RunPython(script, test::ShellQuote(path), &out), 0) << out;
  const std::string bytes = test::ReadBytes(path);
  ASSERT_LT(bytes.find("----"), bytes.find("\xA9" "cmt")) << "mutagen's item order changed";
  TMp4Tag tag;
  ASSERT_TRUE(tag.ReadFromFile(dir.File16("ff.m4a")));
  EXPECT_EQ(tag.Title(), u"Free form");
  EXPECT_EQ(tag.Comment(), u"After the free-form items");
}

}  // namespace
}  // namespace ordana
