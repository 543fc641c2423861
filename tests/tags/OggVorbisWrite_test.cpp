#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>

#include "platform/Strings.h"
#include "platform/TextCodec.h"
#include "support/FaultInjection.h"
#include "support/OggBuilder.h"
#include "support/MediaFixtures.h"
#include "support/TestFiles.h"
#include "tags/OggVorbis.h"

namespace ordana {
namespace {

namespace fs = std::filesystem;
using test::ShellQuote;

// Offset just past the page that starts at `at`.
size_t PageEnd(const std::string& b, size_t at) {
  EXPECT_EQ(b.compare(at, 4, "OggS"), 0) << "no page at " << at;
  const size_t segs = static_cast<uint8_t>(b[at + 26]);
  size_t body = 0;
  for (size_t i = 0; i < segs; ++i) body += static_cast<uint8_t>(b[at + 27 + i]);
  return at + 27 + segs + body;
}
std::vector<uint8_t> LacingOf(const std::string& b, size_t at) {
  const size_t segs = static_cast<uint8_t>(b[at + 26]);
  return std::vector<uint8_t>(b.begin() + at + 27, b.begin() + at + 27 + segs);
}

// The comments as vorbiscomment lists them, in file order.
std::vector<std::string> ListComments(const std::string& file) {
  std::string out;
  EXPECT_EQ(test::Run("vorbiscomment -l " + ShellQuote(file), &out), 0) << out;
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// ogginfo's verdict: it reports checksum failures as holes in the data.
void ExpectCleanOgg(const std::string& file) {
  std::string out;
  EXPECT_EQ(test::Run("ogginfo " + ShellQuote(file), &out), 0) << out;
  for (const char* bad : {"WARNING", "ERROR", "Hole", "orrupt"})
    EXPECT_EQ(out.find(bad), std::string::npos) << bad << " in:\n" << out;
}

size_t FilesIn(const fs::path& dir) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(dir), {}));
}

class OggVorbisWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    ORDANA_REQUIRE_TOOL("oggenc");
    ORDANA_REQUIRE_TOOL("vorbiscomment");
    ORDANA_REQUIRE_TOOL("ogginfo");
    ORDANA_REQUIRE_TOOL("sox");
    ogg = dir.File("a.ogg");
    ogg16 = dir.File16("a.ogg");
    const std::string wav = dir.File("in.wav");
    ASSERT_EQ(test::Run("sox -n -r 44100 -c 2 -b 16 " + ShellQuote(wav) + " synth 2 sine 440"), 0);
    ASSERT_EQ(test::Run("oggenc -Q -o " + ShellQuote(ogg) + " " + ShellQuote(wav)), 0);
    fs::remove(wav);
    // Comments of every kind: known names, names the writer drops.
    ASSERT_EQ(test::Run("vorbiscomment -w -t TITLE=Old -t ARTIST=Band -t PERFORMER=Choir "
                        "-t REPLAYGAIN_TRACK_GAIN=-3.2 -t REPLAYGAIN_TRACK_PEAK=0.9 "
                        "-t ENCODER=test -t DESCRIPTION=desc " + ShellQuote(ogg)), 0);
    original = test::ReadBytes(ogg);
    ASSERT_TRUE(reader.ReadFromFile(ogg16));
  }

  test::TempDir dir;
  std::string ogg;
  std::u16string ogg16;
  std::string original;
  TOggVorbis reader;
};

TEST_F(OggVorbisWrite, SaveReplacesCommentsAndKeepsEverythingElse) {
  const std::u16string vendor = reader.Vendor();
  ASSERT_FALSE(vendor.empty());
  TOggVorbis w;
  ASSERT_TRUE(w.ReadFromFile(ogg16));
  w.SetTitle(U16("  Песня о тревожной молодости "));
  w.SetArtist(U16("Хор"));
  w.SetAlbum(u"Album");
  w.SetTrack(3);
  w.SetDate(u"1958");
  w.SetGenre(u"Choral");
  w.SetComment(U16("Запись 1958 года"));
  ::chmod(ogg.c_str(), 0640);
  ASSERT_TRUE(w.SaveTag(ogg16));

  // The managed names take their new values in place or are appended; every
  // other comment stays, in its order.
  EXPECT_EQ(ListComments(ogg),
            (std::vector<std::string>{"TITLE=Песня о тревожной молодости", "ARTIST=Хор",
                                      "PERFORMER=Choir", "REPLAYGAIN_TRACK_GAIN=-3.2",
                                      "REPLAYGAIN_TRACK_PEAK=0.9", "ENCODER=test", "DESCRIPTION=desc",
                                      "ALBUM=Album", "TRACKNUMBER=3", "DATE=1958",
                                      "GENRE=Choral", "COMMENT=Запись 1958 года"}));
  ExpectCleanOgg(ogg);
  TOggVorbis back;
  ASSERT_TRUE(back.ReadFromFile(ogg16));
  EXPECT_EQ(back.Title(), U16("Песня о тревожной молодости"));
  EXPECT_EQ(back.Artist(), U16("Хор"));
  EXPECT_EQ(back.Album(), u"Album");
  EXPECT_EQ(back.Track(), 3);
  EXPECT_EQ(back.Date(), u"1958");
  EXPECT_EQ(back.Genre(), u"Choral");
  EXPECT_EQ(back.Comment(), U16("Запись 1958 года"));
  EXPECT_EQ(back.Vendor(), vendor);
  EXPECT_EQ(back.Duration(), reader.Duration());
  EXPECT_TRUE(back.Valid());

  // The first page and every page after the second are unchanged.
  const std::string now = test::ReadBytes(ogg);
  const size_t first = PageEnd(original, 0);
  EXPECT_EQ(now.substr(0, first), original.substr(0, first));
  const size_t oldEnd = PageEnd(original, first), newEnd = PageEnd(now, first);
  EXPECT_EQ(test::Digest(now.substr(newEnd)), test::Digest(original.substr(oldEnd)));
  EXPECT_EQ(now.size() - newEnd, original.size() - oldEnd);
  // The second page keeps its number and granule.
  EXPECT_EQ(now.substr(first + 4, 18), original.substr(first + 4, 18));

  struct stat st {};
  ASSERT_EQ(::stat(ogg.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(FilesIn(dir.path()), 1u);

  // Saving the same values again gives the same bytes.
  ASSERT_TRUE(w.SaveTag(ogg16));
  EXPECT_EQ(test::ReadBytes(ogg), now);
}

TEST_F(OggVorbisWrite, TrackZeroAndClearTag) {
  TOggVorbis w;
  ASSERT_TRUE(w.ReadFromFile(ogg16));
  EXPECT_EQ(w.Artist(), u"Band");
  w.SetTrack(0);
  ASSERT_TRUE(w.SaveTag(ogg16));
  // Nothing changed: every comment stays (the comment read from DESCRIPTION
  // is not written again as COMMENT).
  EXPECT_EQ(ListComments(ogg), (std::vector<std::string>{
                                   "TITLE=Old", "ARTIST=Band", "PERFORMER=Choir",
                                   "REPLAYGAIN_TRACK_GAIN=-3.2", "REPLAYGAIN_TRACK_PEAK=0.9",
                                   "ENCODER=test", "DESCRIPTION=desc"}));
  EXPECT_EQ(test::ReadBytes(ogg), original);

  // A track "7/12" stays while the number is 7; a new number replaces it,
  // and so does a new artist (later comments of its name go).
  ASSERT_EQ(test::Run("vorbiscomment -a -t TRACKNUMBER=7/12 -t ARTIST=Second " + ShellQuote(ogg)), 0);
  ASSERT_TRUE(w.ReadFromFile(ogg16));
  EXPECT_EQ(w.Track(), 7);
  EXPECT_EQ(w.Artist(), u"Second");
  w.SetTitle(u"New");
  ASSERT_TRUE(w.SaveTag(ogg16));
  EXPECT_EQ(ListComments(ogg)[0], "TITLE=New");
  EXPECT_EQ(ListComments(ogg).size(), 9u);
  EXPECT_EQ(ListComments(ogg)[7], "TRACKNUMBER=7/12");
  w.SetTrack(8);
  w.SetArtist(u"One");
  ASSERT_TRUE(w.SaveTag(ogg16));
  EXPECT_EQ(ListComments(ogg), (std::vector<std::string>{
                                   "TITLE=New", "ARTIST=One", "PERFORMER=Choir",
                                   "REPLAYGAIN_TRACK_GAIN=-3.2", "REPLAYGAIN_TRACK_PEAK=0.9",
                                   "ENCODER=test", "DESCRIPTION=desc", "TRACKNUMBER=8"}));

  ASSERT_TRUE(w.ClearTag(ogg16));
  EXPECT_EQ(w.Title(), u"");
  EXPECT_EQ(w.Track(), 0);
  EXPECT_TRUE(ListComments(ogg).empty());
  ExpectCleanOgg(ogg);
  const std::string now = test::ReadBytes(ogg);
  const std::string vendor = Utf16ToUtf8(reader.Vendor()).bytes();
  const size_t tag = now.find("\x03vorbis");
  ASSERT_NE(tag, std::string::npos);
  // id, vendor, a count of 0, the framing byte
  EXPECT_EQ(now.substr(tag, 7 + 4 + vendor.size() + 5),
            "\x03vorbis" + test::LE32(uint32_t(vendor.size())) + vendor + test::LE32(0) + "\x01");
  TOggVorbis back;
  ASSERT_TRUE(back.ReadFromFile(ogg16));
  EXPECT_EQ(back.Vendor(), reader.Vendor());
  EXPECT_TRUE(back.Valid());
}

// A comment header of 509, 510 or 511 bytes plus the framing byte: the
// packet's lacing is 255 255 0, 255 255 1, 255 255 2, then the setup
// header's own values.
TEST_F(OggVorbisWrite, LacingAroundTwoFullSegments) {
  const size_t vendor = Utf16ToUtf8(reader.Vendor()).size();
  const size_t first = PageEnd(original, 0);
  const std::vector<uint8_t> oldLacing = LacingOf(original, first);
  size_t k = 0;
  while (oldLacing[k] == 255) ++k;
  const std::vector<uint8_t> setupLacing(oldLacing.begin() + k + 1, oldLacing.end());
  for (size_t header : {509u, 510u, 511u}) {
    test::WriteBytes(ogg, original);
    TOggVorbis w;
    ASSERT_TRUE(w.ReadFromFile(ogg16));
    EXPECT_TRUE(w.ClearTag(ogg16));
    const size_t title = header - (7 + 4 + vendor + 4 + 4 + 6);
    w.SetTitle(std::u16string(title, u'x'));
    ASSERT_TRUE(w.SaveTag(ogg16)) << header;
    const std::string now = test::ReadBytes(ogg);
    std::vector<uint8_t> want(3 + setupLacing.size(), 255);
    want[2] = static_cast<uint8_t>(header + 1 - 510);
    std::copy(setupLacing.begin(), setupLacing.end(), want.begin() + 3);
    EXPECT_EQ(LacingOf(now, first), want) << header;
    ExpectCleanOgg(ogg);
    EXPECT_EQ(ListComments(ogg), std::vector<std::string>{"TITLE=" + std::string(title, 'x')});
  }
}

// A comment header too large for its page is laid out over as many pages as
// it needs; every later page is renumbered (ogginfo finds no hole) and the
// audio decodes as before. Back to a small header, the pages shrink again.
TEST_F(OggVorbisWrite, CommentHeadersSpanAsManyPagesAsTheyNeed) {
  ORDANA_REQUIRE_TOOL("ffmpeg");
  const std::string audio = test::DecodedAudioDigest(ogg);
  TOggVorbis w;
  ASSERT_TRUE(w.ReadFromFile(ogg16));
  w.SetComment(std::u16string(70000, u'c'));
  ASSERT_TRUE(w.SaveTag(ogg16)) << LastSaveStatus().reason;
  ExpectCleanOgg(ogg);
  EXPECT_EQ(test::DecodedAudioDigest(ogg), audio);
  EXPECT_EQ(FilesIn(dir.path()), 1u);
  const std::vector<std::string> big = ListComments(ogg);
  ASSERT_EQ(big.size(), 8u);
  EXPECT_EQ(big.back(), "COMMENT=" + std::string(70000, 'c'));
  TOggVorbis back;
  ASSERT_TRUE(back.ReadFromFile(ogg16));
  EXPECT_EQ(back.Duration(), reader.Duration());

  ASSERT_TRUE(back.ReadFromFile(ogg16));
  back.SetComment(u"short");
  ASSERT_TRUE(back.SaveTag(ogg16));
  ExpectCleanOgg(ogg);
  EXPECT_EQ(test::DecodedAudioDigest(ogg), audio);
  EXPECT_EQ(ListComments(ogg).back(), "COMMENT=short");
  EXPECT_EQ(test::ReadBytes(ogg).size(), original.size() + std::string("COMMENT=short").size() + 4);
}

TEST(OggVorbisWriteRefuse, FilesWithoutAReplaceableCommentHeader) {
  test::TempDir dir;
  TOggVorbis w;
  w.SetTitle(u"T");
  EXPECT_FALSE(w.SaveTag(dir.File16("missing.ogg")));
  EXPECT_FALSE(fs::exists(dir.File("missing.ogg")));

  std::string noTag = test::MakeOggFile(test::OggFileLayout{});
  noTag[noTag.find("\x03vorbis")] = 0x04;
  std::string notOgg = "RIFF" + test::Zeros(100);
  // A second "page" that is no page: the first page holds more than the
  // identification header.
  std::string id = test::VorbisIdentification(2, 44100, 128000);
  std::string tag = test::VorbisComments("v", {"TITLE=x"});
  std::string twoInOne = test::OggPage(2, 0, 1, 0, {30, uint8_t(tag.size())}, id + tag) +
                         test::OggPage(4, 88200, 1, 1, {10}, std::string(10, 'a'));
  for (const std::string& bytes : {noTag, notOgg, twoInOne}) {
    test::WriteBytes(dir.File("a.ogg"), bytes);
    EXPECT_FALSE(w.SaveTag(dir.File16("a.ogg")));
    EXPECT_EQ(test::ReadBytes(dir.File("a.ogg")), bytes);
    EXPECT_EQ(FilesIn(dir.path()), 1u);
  }
  // The reader accepts it: the identification header is where it belongs.
  test::WriteBytes(dir.File("a.ogg"), twoInOne);
  TOggVorbis r;
  EXPECT_TRUE(r.ReadFromFile(dir.File16("a.ogg")));
}

// A leading ID3v2 tag and the first page are copied as they are; the new
// second page starts where the old one did.
TEST(OggVorbisWriteBuilt, LeadingID3v2TagIsKept) {
  test::TempDir dir;
  test::OggFileLayout layout;
  layout.prefix = "ID3" + test::Bytes({3, 0, 0, 0, 0, 1, 0}) + std::string(128, 'i');
  layout.comments = {"TITLE=Old", "ENCODER=x"};
  layout.lastGranule = 88200;
  const std::string before = test::MakeOggFile(layout);
  test::WriteBytes(dir.File("a.ogg"), before);
  TOggVorbis w;
  ASSERT_TRUE(w.ReadFromFile(dir.File16("a.ogg")));
  ASSERT_TRUE(w.ID3v2());
  w.SetTitle(u"New title");
  w.SetTrack(12);
  ASSERT_TRUE(w.SaveTag(dir.File16("a.ogg")));
  const std::string after = test::ReadBytes(dir.File("a.ogg"));
  const size_t second = 138 + 58;
  EXPECT_EQ(after.substr(0, second), before.substr(0, second));
  const size_t oldEnd = PageEnd(before, second), newEnd = PageEnd(after, second);
  EXPECT_EQ(after.substr(newEnd), before.substr(oldEnd));
  TOggVorbis back;
  ASSERT_TRUE(back.ReadFromFile(dir.File16("a.ogg")));
  EXPECT_EQ(back.Title(), u"New title");
  EXPECT_EQ(back.Track(), 12);
  EXPECT_DOUBLE_EQ(back.Duration(), 2.0);
  // The rebuilt page's checksum covers its header and its body.
  std::string page = after.substr(second, newEnd - second);
  const std::string stored = page.substr(22, 4);
  page.replace(22, 4, test::Zeros(4));
  EXPECT_EQ(test::LE32(OggPageCrc(page.data(), page.size())), stored);
}

// Every write, sync and rename along the save fails once in turn: the
// original stays byte-identical and the save reports false.
TEST_F(OggVorbisWrite, EveryInjectedFaultLeavesTheFileIntact) {
  TOggVorbis w;
  ASSERT_TRUE(w.ReadFromFile(ogg16));
  w.SetTitle(U16("Новое название"));
  w.SetGenre(u"Pop");
  // The expected result, from a save without faults on a copy.
  const std::string copy = dir.File("copy.ogg");
  test::WriteBytes(copy, original);
  ASSERT_TRUE(w.SaveTag(dir.File16("copy.ogg")));
  const std::string expected = test::ReadBytes(copy);
  fs::remove(copy);
  ASSERT_NE(expected, original);

  int survived = 0, n = 1;
  for (;; ++n) {
    test::FailingSteps ops(n);
    const bool ok = w.SaveTag(ogg16);
    ops.Remove();
    ASSERT_EQ(FilesIn(dir.path()), 1u) << "fault " << n;
    if (!ops.Fired()) {
      ASSERT_TRUE(ok);
      break;
    }
    if (ok) {
      // Only the folder sync after the rename may fail without failing the
      // save: the new content is then complete.
      ASSERT_EQ(test::ReadBytes(ogg), expected) << "fault " << n;
      test::WriteBytes(ogg, original);
      continue;
    }
    ASSERT_EQ(test::ReadBytes(ogg), original) << "fault " << n;
    ++survived;
  }
  EXPECT_EQ(test::ReadBytes(ogg), expected);
  EXPECT_GE(survived, 4);
  std::cout << "[ info ] Ogg save: " << survived << " of " << n - 1
            << " injected faults survived with the original intact\n";
}

}  // namespace
}  // namespace ordana
