#include "tags/mp4tag.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/TextCodec.h"
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

struct Reader {
  test::TempDir dir;
  TMp4Tag tag;
  bool ok = false;
  void Load(const std::string& bytes) {
    test::WriteBytes(dir.File("a.m4a"), bytes);
    ok = tag.ReadFromFile(dir.File16("a.m4a"));
  }
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
  // Sizes 0 (to the end) and 1 (64-bit size follows), an empty atom, a type
  // with a zero byte: the walk stops there.
  for (const std::string& bad : {BE32(0) + "free", BE32(1) + "mdat" + std::string(8, '\0'),
                                 BE32(8) + "free", BE32(16) + std::string("fr\0e", 4) + "12345678"}) {
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
  EXPECT_EQ(tag.Title(), U16("Утренний эфир"));
  EXPECT_EQ(tag.Artist(), U16("Хор"));
  EXPECT_EQ(tag.Album(), u"Live");
  EXPECT_EQ(tag.Genre(), u"Choral");
  EXPECT_EQ(tag.Year(), u"2019");
  EXPECT_EQ(tag.Comment(), U16("Без купюр"));
}

// ffmpeg's default layout is ftyp, an empty 8-byte "free" atom, mdat, moov.
// The empty atom ends the walk, as does media data above 1 MiB, so such a
// file yields no items even when it is short.
TEST(Mp4Tag, FfmpegDefaultLayoutYieldsNoItems) {
  ORDANA_REQUIRE_TOOL("ffmpeg");
  test::TempDir dir;
  EncodeM4a(dir, "short.m4a", 2, "");
  const std::string bytes = test::ReadBytes(dir.File("short.m4a"));
  ASSERT_NE(bytes.find("moov"), std::string::npos);
  ASSERT_LT(bytes.find("mdat"), bytes.find("moov"));
  TMp4Tag tag;
  ASSERT_TRUE(tag.ReadFromFile(dir.File16("short.m4a")));
  EXPECT_TRUE(tag.Exists());
  EXPECT_EQ(tag.Title(), u"");
  EXPECT_EQ(tag.Artist(), u"");
}

}  // namespace
}  // namespace ordana
