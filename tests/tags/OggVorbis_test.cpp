#include "tags/OggVorbis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

#include "bytes/ByteSource.h"
#include "platform/FileIO.h"
#include "platform/SafeWrite.h"
#include "platform/Strings.h"
#include "platform/TextCodec.h"
#include "support/MediaFixtures.h"
#include "support/Mutagen.h"
#include "support/OggBuilder.h"
#include "support/TagText.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::MakeOggFile;
using test::OggFileLayout;

// Writes the file and reads it with a fresh reader.
struct Read : test::ReadBack<TOggVorbis> {
  explicit Read(const OggFileLayout& layout) : Read(MakeOggFile(layout)) {}
  explicit Read(const std::string& bytes) : ReadBack(bytes, "t.ogg") {}
  TOggVorbis& ogg = reader;
};

OggFileLayout WithComments(std::vector<std::string> comments) {
  OggFileLayout s;
  s.comments = std::move(comments);
  return s;
}

TEST(OggVorbisRead, StreamValuesAndDurationFromLastPage) {
  OggFileLayout s;
  s.lastGranule = 2646000;  // 60 s at 44100 Hz
  s.totalSize = 1000000;
  s.nominalBitRate = 127500;  // 127.5 rounds to the even 128
  Read r(s);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.ogg.FileSize(), 1000000);
  EXPECT_EQ(r.ogg.ChannelModeID(), 2);
  EXPECT_EQ(r.ogg.ChannelMode(), u"Stereo");
  EXPECT_EQ(r.ogg.SampleRate(), 44100);
  EXPECT_EQ(r.ogg.BitRateNominal(), 128);
  EXPECT_DOUBLE_EQ(r.ogg.Duration(), 60.0);
  EXPECT_EQ(r.ogg.BitRate(), 133);  // round(1000000 / 60 / 125)
  EXPECT_TRUE(r.ogg.Valid());
  EXPECT_FALSE(r.ogg.ID3v2());
  EXPECT_EQ(r.ogg.Vendor(), u"Test vendor 1.0");
}

TEST(OggVorbisRead, DurationFallsBackToNominalRateWithoutGranule) {
  for (int64_t granule : {int64_t{0}, int64_t{0xFFFFFFFF}, int64_t{-1}}) {
    OggFileLayout s;
    s.lastGranule = granule;
    s.totalSize = 1000000;
    Read r(s);
    ASSERT_TRUE(r.ok);
    EXPECT_DOUBLE_EQ(r.ogg.Duration(), 62.5) << granule;  // 1000000 / 128 / 2 / 125 * 2
    EXPECT_EQ(r.ogg.BitRate(), 128);
  }
  // Neither granule nor nominal rate: no duration, not valid.
  Read r(OggFileLayout{.nominalBitRate = 0, .lastGranule = 0});
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.ogg.Duration(), 0.0);
  EXPECT_EQ(r.ogg.BitRate(), 0);
  EXPECT_FALSE(r.ogg.Valid());
}

TEST(OggVorbisRead, ValidityNeedsOneOrTwoChannelsAndMoreThanATenthOfASecond) {
  Read r6(OggFileLayout{.channels = 6});
  EXPECT_TRUE(r6.ok);
  EXPECT_FALSE(r6.ogg.Valid());
  EXPECT_EQ(r6.ogg.ChannelModeID(), 6);
  EXPECT_EQ(r6.ogg.ChannelMode(), u"Unknown");

  Read rt(OggFileLayout{.lastGranule = 4410});
  EXPECT_DOUBLE_EQ(rt.ogg.Duration(), 0.1);
  EXPECT_FALSE(rt.ogg.Valid());
  Read rm(OggFileLayout{.channels = 1, .lastGranule = 4411});
  EXPECT_TRUE(rm.ogg.Valid());
  EXPECT_EQ(rm.ogg.ChannelMode(), u"Mono");

  Read rz(OggFileLayout{.sampleRate = 0});
  EXPECT_EQ(rz.ogg.Duration(), 0.0);
  EXPECT_FALSE(rz.ogg.Valid());
}

TEST(OggVorbisRead, LeadingID3v2TagIsSkipped) {
  // Declared size 1000 (size bytes 0 0 7 104): the Ogg data starts at 1010,
  // or at 1020 with the footer flag.
  for (int flags : {0x00, 0x10}) {
    const size_t total = flags ? 1020 : 1010;
    OggFileLayout s;
    s.prefix = "ID3" + test::Bytes({4, 0, flags, 0, 0, 7, 104}) + test::Zeros(total - 10);
    s.lastGranule = 88200;
    Read r(s);
    ASSERT_TRUE(r.ok) << flags;
    EXPECT_TRUE(r.ogg.ID3v2());
    EXPECT_TRUE(r.ogg.Valid());
    EXPECT_DOUBLE_EQ(r.ogg.Duration(), 2.0);
    // The average rate counts the bytes after the tag only.
    EXPECT_EQ(r.ogg.BitRate(), std::lround((r.ogg.FileSize() - double(total)) / 2.0 / 125));
  }
  // A declared size past the end of the file counts as no tag: "OggS" is
  // then looked for at offset 0, and not found.
  OggFileLayout big;
  big.prefix = "ID3" + test::Bytes({4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F}) + test::Zeros(1000);
  Read rb(big);
  EXPECT_FALSE(rb.ok);
  EXPECT_FALSE(rb.ogg.Valid());
}

TEST(OggVorbisRead, CommentPrecedenceAndNameRules) {
  Read r(WithComments({"title=  Song  ", "ARTIST=", "PERFORMER=Choir", "DESCRIPTION=Live",
                       "GENRE=Rock", "Genre=Jazz", "ALBUM =Wrong", "=nameless", "DATE=1999",
                       "ALBUM=Record", "ENCODER=x"}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.ogg.Title(), u"Song");        // lower-case name, value trimmed
  EXPECT_EQ(r.ogg.Artist(), u"Choir");      // ARTIST empty: PERFORMER
  EXPECT_EQ(r.ogg.Comment(), u"Live");      // no COMMENT: DESCRIPTION
  EXPECT_EQ(r.ogg.Genre(), u"Jazz");        // the second GENRE wins
  EXPECT_EQ(r.ogg.Album(), u"Record");      // "ALBUM =" is another name
  EXPECT_EQ(r.ogg.Date(), u"1999");
  EXPECT_EQ(r.ogg.Vendor(), u"Test vendor 1.0");

  Read both(WithComments({"PERFORMER=Choir", "ARTIST=Band", "COMMENT=Note", "DESCRIPTION=Live",
                          "TITLE =Song"}));
  EXPECT_EQ(both.ogg.Artist(), u"Band");
  EXPECT_EQ(both.ogg.Comment(), u"Note");
  EXPECT_EQ(both.ogg.Title(), u"");
}

// Whether a comment is read at all is decided on its first bytes; what is
// kept must be what reading every comment whole would keep.
TEST(OggVorbisRead, NamesAreDecidedOnTheBytes) {
  Read r(WithComments({" \tTITLE=after blanks", "\xFF" "ARTIST=not a name", "GENRE=\xC3",
                       std::string(100, ' ') + "ALBUM=past the first bytes",
                       "DESCRIPTIONS=one letter too many", "DESCRIPTION=x",
                       std::string(70, 'N') + "=a long unknown name", "NO EQUALS SIGN"}));
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(test::HasText(r.ogg, {.title = u"after blanks", .artist = u"", .album = u"past the first bytes",
                                    .genre = u"\uFFFD", .comment = u"x", .vendor = u"Test vendor 1.0"}));

  // With an empty vendor the first comment without "=" takes its place,
  // however long; one with "=" (known or not) never does.
  OggFileLayout l = WithComments({"ENCODER=x", "  " + std::string(80, 'v') + "  ", "later"});
  l.vendor = "";
  Read v(l);
  EXPECT_EQ(v.ogg.Vendor(), U16(std::string(80, 'v')));
  l.vendor = "TITLE=from the vendor";
  Read named(l);
  EXPECT_EQ(named.ogg.Title(), u"from the vendor");
  EXPECT_EQ(named.ogg.Vendor(), U16(std::string(80, 'v')));
}

// Reads of a source, counted.
class CountingSource final : public bytes::ByteSource {
 public:
  explicit CountingSource(const std::string& bytes) : bytes_(bytes) {}
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  int64_t ReadAt(int64_t pos, void* buf, size_t n) const override {
    ++reads;
    const int64_t got = bytes::MemorySource(bytes_).ReadAt(pos, buf, n);
    bytesRead += std::max<int64_t>(got, 0);
    return got;
  }
  mutable int reads = 0;
  mutable int64_t bytesRead = 0;

 private:
  const std::string& bytes_;
};

// Cover art that ends the comment header is passed over unread, however
// many pages it spans; cover art before other comments costs the page
// headers under it, not its bytes twice.
TEST(OggVorbisRead, CoverArtIsNotRead) {
  const std::string picture = "METADATA_BLOCK_PICTURE=" + std::string(400000, 'P');
  OggFileLayout l = WithComments({"TITLE=Front", "ARTIST=Band", picture});
  l.totalSize = 2000000;
  const std::string last = MakeOggFile(l);
  CountingSource src(last);
  OggRecord rec;
  ASSERT_TRUE(ParseOggVorbis(src, rec));
  EXPECT_EQ(rec.Title, u"Front");
  EXPECT_EQ(rec.Artist, u"Band");
  EXPECT_EQ(rec.Samples, 441000);
  EXPECT_LE(src.reads, 3);
  EXPECT_LT(src.bytesRead, 100000);

  // The file cut inside the picture reads the same.
  const std::string cut = last.substr(0, 300000);
  CountingSource cutSrc(cut);
  ASSERT_TRUE(ParseOggVorbis(cutSrc, rec));
  EXPECT_EQ(rec.Title, u"Front");
  EXPECT_EQ(rec.Artist, u"Band");

  l.comments = {"TITLE=Front", picture, "ARTIST=After"};
  const std::string middle = MakeOggFile(l);
  CountingSource midSrc(middle);
  ASSERT_TRUE(ParseOggVorbis(midSrc, rec));
  EXPECT_EQ(rec.Title, u"Front");
  EXPECT_EQ(rec.Artist, u"After");
  EXPECT_LT(midSrc.bytesRead, 400000);
}

TEST(OggVorbisRead, TrackNumber) {
  const std::pair<const char*, int> cases[] = {{"7/12", 7}, {"300", 44}, {"A1", 0}, {"", 0},
                                               {" 5", 5},   {"12/", 12}, {"-1", 255}};
  for (auto [text, track] : cases) {
    Read r(WithComments({std::string("TRACKNUMBER=") + text}));
    EXPECT_EQ(r.ogg.Track(), track) << text;
  }
}

TEST(OggVorbisRead, Utf8ValuesAndLongComments) {
  // A comment of 600000 bytes keeps its first 500000; the comments after it
  // are still found.
  std::string longValue(600000, 'x');
  Read r(WithComments({"TITLE=Песня", "COMMENT=" + longValue, "ARTIST=Ансамбль"}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.ogg.Title(), U16("Песня"));
  EXPECT_EQ(r.ogg.Artist(), U16("Ансамбль"));
  EXPECT_EQ(r.ogg.Comment().size(), 500000u - 8);  // "COMMENT=" is part of the 500000
}

// A comment packet longer than one page (cover art before the title) is
// joined from the bodies of the pages that continue it.
TEST(OggVorbisRead, CommentPacketContinuedOnLaterPages) {
  const std::string picture = "METADATA_BLOCK_PICTURE=" + std::string(100000, 'P');
  Read r(WithComments({picture, "TITLE=After the picture", "ARTIST=A"}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.ogg.Title(), u"After the picture");
  EXPECT_EQ(r.ogg.Artist(), u"A");

  // A text that straddles the end of the second page (65025 body bytes):
  // vendor, count and the filler come to 30 + 4 + 64984 bytes before the
  // title's length field.
  Read straddle(WithComments({"X=" + std::string(64982, 'x'), "TITLE=Across the page", "GENRE=G"}));
  ASSERT_NE(test::ReadBytes(straddle.dir.File("t.ogg")).find("OggS", 28 + 30 + 27), std::string::npos);
  EXPECT_EQ(straddle.ogg.Title(), u"Across the page");
  EXPECT_EQ(straddle.ogg.Genre(), u"G");

  // Such a header is rewritten over as many pages as it needs: the new
  // title is read back, and the picture before it stays whole.
  r.ogg.SetTitle(u"New");
  ASSERT_TRUE(r.ogg.SaveTag(r.dir.File16("t.ogg"))) << LastSaveStatus().reason;
  TOggVorbis back;
  ASSERT_TRUE(back.ReadFromFile(r.dir.File16("t.ogg")));
  EXPECT_EQ(back.Title(), u"New");
  EXPECT_EQ(back.Artist(), u"A");
  EXPECT_NE(test::ReadBytes(r.dir.File("t.ogg")).find(std::string(60000, 'P')), std::string::npos);

  // The packet ends where the next page is not its continuation (another
  // stream, no continuation flag, no page at all): what was joined is read.
  std::string bytes = MakeOggFile(WithComments({"TITLE=T", picture, "GENRE=lost"}));
  const size_t third = bytes.find("OggS", 28 + 30 + 27);
  ASSERT_NE(third, std::string::npos);
  for (size_t at : {third + 5, third + 14, third}) {
    std::string damaged = bytes;
    damaged[at] ^= 0x01;  // the flag, the serial, the capture pattern
    Read d(damaged);
    EXPECT_TRUE(d.ok) << at;
    EXPECT_EQ(d.ogg.Title(), u"T") << at;
    EXPECT_EQ(d.ogg.Genre(), u"") << at;
  }
}

// The sample rate is kept whole: 96 kHz and 192 kHz do not fit 16 bits.
TEST(OggVorbisRead, HighSampleRates) {
  for (uint32_t rate : {96000u, 192000u, 8000u}) {
    OggFileLayout s;
    s.sampleRate = rate;
    s.lastGranule = int64_t{rate} * 10;
    Read r(s);
    EXPECT_EQ(r.ogg.SampleRate(), rate);
    EXPECT_DOUBLE_EQ(r.ogg.Duration(), 10.0);
  }
}

TEST(OggVorbisRead, RejectsWhatIsNotOggVorbis) {
  test::TempDir dir;
  TOggVorbis ogg;
  // A missing file raises the open error.
  EXPECT_THROW(ogg.ReadFromFile(dir.File16("missing.ogg")), EFOpenError);

  // A valid read first, so that a later failed read must reset everything.
  test::WriteBytes(dir.File("ok.ogg"), MakeOggFile(WithComments({"TITLE=Old"})));
  ASSERT_TRUE(ogg.ReadFromFile(dir.File16("ok.ogg")));
  ASSERT_EQ(ogg.Title(), u"Old");

  std::string noVorbis = MakeOggFile(OggFileLayout{});
  noVorbis[28 + 1] = 'V';  // "\x01Vorbis"
  const std::string cases[] = {"", "Og", "RIFF....WAVEfmt ", noVorbis,
                               MakeOggFile(OggFileLayout{}).substr(0, 32)};
  for (const auto& bytes : cases) {
    test::WriteBytes(dir.File("bad.ogg"), bytes);
    EXPECT_FALSE(ogg.ReadFromFile(dir.File16("bad.ogg"))) << bytes.size();
    EXPECT_EQ(ogg.Title(), u"");
    EXPECT_EQ(ogg.SampleRate(), 0);
    EXPECT_EQ(ogg.FileSize(), 0);
    EXPECT_FALSE(ogg.Valid());
  }
}

TEST(OggVorbisRead, MissingCommentHeaderKeepsStreamValues) {
  std::string bytes = MakeOggFile(WithComments({"TITLE=x"}));
  const size_t tagAt = bytes.find("\x03vorbis");
  ASSERT_NE(tagAt, std::string::npos);
  bytes[tagAt] = 0x04;
  Read r(bytes);
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.ogg.Valid());
  EXPECT_EQ(r.ogg.Title(), u"");
  EXPECT_EQ(r.ogg.Vendor(), u"");
}

// Counts and lengths that claim more than the file holds end the comment
// header at the end of the data: no huge allocation, no endless loop.
TEST(OggVorbisRead, HostileCommentHeaderStopsAtEndOfData) {
  const std::string start = MakeOggFile(OggFileLayout{}).substr(0, 58 + 27 + 3);
  auto header = [&](const std::string& rest) { return start + "\x03vorbis" + rest; };
  const std::string cases[] = {
      // a count of 2^31-1 with two comments
      header(test::LE32(3) + "ven" + test::LE32(0x7FFFFFFF) + test::LE32(9) + "TITLE=One" +
             test::LE32(8) + "GENRE=Xy"),
      // a length of almost 2 GB, then the end of the file
      header(test::LE32(3) + "ven" + test::LE32(1) + test::LE32(0x7FFFFFF0) + "TITLE=Two"),
      // a negative length
      header(test::LE32(3) + "ven" + test::LE32(5) + test::LE32(0xFFFFFFF0) + "TITLE=No"),
      // the file ends inside a length field
      header(test::LE32(3) + "ven" + test::LE32(2) + test::Bytes({9, 0})),
  };
  for (const auto& bytes : cases) {
    Read r(bytes);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.ogg.Vendor(), u"ven");
  }
  Read first(cases[0]);
  EXPECT_EQ(first.ogg.Title(), u"One");
  EXPECT_EQ(first.ogg.Genre(), u"Xy");
  Read second(cases[1]);
  EXPECT_EQ(second.ogg.Title(), u"Two");  // what the file holds of the text
  Read third(cases[2]);
  EXPECT_EQ(third.ogg.Title(), u"");
}

// A file shorter than one search window: the window is cut to the start of
// the file, and the page nearest the end still wins.
TEST(OggVorbisRead, LastPageSearchInShortFile) {
  const std::string id = test::OggPage(2, 0, 1, 0, {30}, test::VorbisIdentification(1, 8000, 64000));
  const std::string tag = test::VorbisComments("v", {"TITLE=t"});
  const std::string second = test::OggPage(0, 16000, 1, 1, test::Lace(tag.size()), tag);
  ASSERT_LT(id.size() + second.size() + 10, 251u);
  Read r(id + second + test::Zeros(10));
  ASSERT_TRUE(r.ok);
  EXPECT_DOUBLE_EQ(r.ogg.Duration(), 2.0);
  EXPECT_EQ(r.ogg.Title(), u"t");
  // Only the first page, cut short: still an identification header, no tag.
  Read cut(id.substr(0, 58));
  EXPECT_TRUE(cut.ok);
  EXPECT_EQ(cut.ogg.SampleRate(), 8000);
}

TEST(OggVorbisRead, PageCrcMatchesEncoderPages) {
  ORDANA_REQUIRE_TOOL("oggenc");
  ORDANA_REQUIRE_TOOL("sox");
  test::TempDir dir;
  ASSERT_EQ(test::Run("sox -n -r 22050 -c 1 -b 16 " + test::ShellQuote(dir.File("a.wav")) +
                      " synth 1 sine 440"), 0);
  ASSERT_EQ(test::Run("oggenc -Q -o " + test::ShellQuote(dir.File("a.ogg")) + " " +
                      test::ShellQuote(dir.File("a.wav"))), 0);
  std::string bytes = test::ReadBytes(dir.File("a.ogg"));
  int pages = 0;
  for (size_t at = 0; at + 27 <= bytes.size(); ++pages) {
    ASSERT_EQ(bytes.compare(at, 4, "OggS"), 0);
    const size_t segs = static_cast<uint8_t>(bytes[at + 26]);
    size_t body = 0;
    for (size_t i = 0; i < segs; ++i) body += static_cast<uint8_t>(bytes[at + 27 + i]);
    std::string page = bytes.substr(at, 27 + segs + body);
    const std::string stored = page.substr(22, 4);
    page.replace(22, 4, test::Zeros(4));
    EXPECT_EQ(test::LE32(OggPageCrc(page.data(), page.size())), stored) << "page " << pages;
    at += page.size();
  }
  EXPECT_GE(pages, 3);
}

// --- Files made by the Vorbis tools ------------------------------------------

// "NAME=value" lines of vorbiscomment -l.
std::map<std::string, std::string> ListComments(const std::string& file) {
  std::string out;
  EXPECT_EQ(test::Run("vorbiscomment -l " + test::ShellQuote(file), &out), 0);
  std::map<std::string, std::string> m;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) m[UpperAscii(line.substr(0, eq))] = line.substr(eq + 1);
  }
  return m;
}

TEST(OggVorbisRead, FilesEncodedByOggencAndTaggedByVorbiscomment) {
  ORDANA_REQUIRE_TOOL("oggenc");
  ORDANA_REQUIRE_TOOL("vorbiscomment");
  ORDANA_REQUIRE_TOOL("ogginfo");
  ORDANA_REQUIRE_TOOL("sox");
  test::TempDir dir;
  const std::string wav = dir.File("in.wav"), ogg = dir.File("a.ogg");
  ASSERT_EQ(test::Run("sox -n -r 44100 -c 2 -b 16 " + test::ShellQuote(wav) +
                      " synth 3.5 sine 440 sine 660"), 0);
  ASSERT_EQ(test::Run("oggenc -Q -b 128 -t " + test::ShellQuote("Белая ночь") + " -a " +
                      test::ShellQuote("Кино") + " -l " + test::ShellQuote("Альбом") +
                      " -G Rock -d 1988 -N 4/10 -c " + test::ShellQuote("COMMENT=Живьём") +
                      " -o " + test::ShellQuote(ogg) + " " + test::ShellQuote(wav)), 0);
  TOggVorbis r;
  ASSERT_TRUE(r.ReadFromFile(dir.File16("a.ogg")));
  EXPECT_TRUE(r.Valid());
  auto tags = ListComments(ogg);
  EXPECT_EQ(Utf16ToUtf8(r.Title()).bytes(), tags["TITLE"]);
  EXPECT_EQ(Utf16ToUtf8(r.Title()), "Белая ночь");
  EXPECT_EQ(Utf16ToUtf8(r.Artist()).bytes(), tags["ARTIST"]);
  EXPECT_EQ(Utf16ToUtf8(r.Album()).bytes(), tags["ALBUM"]);
  EXPECT_EQ(Utf16ToUtf8(r.Genre()).bytes(), tags["GENRE"]);
  EXPECT_EQ(Utf16ToUtf8(r.Date()).bytes(), tags["DATE"]);
  EXPECT_EQ(Utf16ToUtf8(r.Comment()), "Живьём");
  EXPECT_EQ(r.Track(), 4);
  EXPECT_EQ(r.SampleRate(), 44100);
  EXPECT_EQ(r.ChannelMode(), u"Stereo");
  EXPECT_EQ(r.BitRateNominal(), 128);
  EXPECT_DOUBLE_EQ(r.Duration(), double(test::SoxSamples(ogg)) / 44100);
  EXPECT_DOUBLE_EQ(r.Duration(), 3.5);
  EXPECT_EQ(r.FileSize(), static_cast<int32_t>(std::filesystem::file_size(ogg)));
  EXPECT_EQ(r.BitRate(), std::lround(r.FileSize() / 3.5 / 125));
  std::string info;
  test::Run("ogginfo " + test::ShellQuote(ogg), &info);
  EXPECT_NE(info.find("Vendor: " + Utf16ToUtf8(r.Vendor()).bytes()), std::string::npos) << info;

  // Rewritten by vorbiscomment: other names, PERFORMER and DESCRIPTION.
  ASSERT_EQ(test::Run("vorbiscomment -w -t " + test::ShellQuote("PERFORMER=Хор") + " -t " +
                      test::ShellQuote("DESCRIPTION=Запись") + " -t " +
                      test::ShellQuote("title=Гимн") + " -t TRACKNUMBER=300 " +
                      test::ShellQuote(ogg)), 0);
  ASSERT_TRUE(r.ReadFromFile(dir.File16("a.ogg")));
  EXPECT_EQ(Utf16ToUtf8(r.Title()), "Гимн");
  EXPECT_EQ(Utf16ToUtf8(r.Artist()), "Хор");
  EXPECT_EQ(Utf16ToUtf8(r.Comment()), "Запись");
  EXPECT_EQ(r.Album(), u"");
  EXPECT_EQ(r.Track(), 44);
  EXPECT_DOUBLE_EQ(r.Duration(), 3.5);
}

// mutagen puts a 100 KB picture before the title, in a comment packet that
// continues over several pages.
TEST(OggVorbisRead, MutagenPictureBeforeTitle) {
  ORDANA_REQUIRE_TOOL("oggenc");
  ORDANA_REQUIRE_TOOL("sox");
  ORDANA_REQUIRE_MUTAGEN();
  test::TempDir dir;
  const std::string wav = dir.File("in.wav"), ogg = dir.File("p.ogg");
  ASSERT_EQ(test::Run("sox -n -r 96000 -c 1 -b 16 " + test::ShellQuote(wav) + " synth 2 sine 440"), 0);
  ASSERT_EQ(test::Run("oggenc -Q -o " + test::ShellQuote(ogg) + " " + test::ShellQuote(wav)), 0);
  const std::string script = R"(
import sys, base64
from mutagen.oggvorbis import OggVorbis
from mutagen.flac import Picture
f = OggVorbis(sys.argv[1])
f.clear()
p = Picture()
p.type = 3
p.mime = 'image/png'
p.data = b'\x89PNG' + bytes(range(256)) * 400
f['METADATA_BLOCK_PICTURE'] = [base64.b64encode(p.write()).decode('ascii')]
f['TITLE'] = ['Утро после картинки']
f['ARTIST'] = ['Хор']
f.save()
)";
  std::string out;
  ASSERT_EQ(test::RunPython(script, test::ShellQuote(ogg), &out), 0) << out;
  TOggVorbis r;
  ASSERT_TRUE(r.ReadFromFile(dir.File16("p.ogg")));
  EXPECT_EQ(r.Title(), U16("Утро после картинки"));
  EXPECT_EQ(r.Artist(), U16("Хор"));
  EXPECT_EQ(r.SampleRate(), 96000u);
  EXPECT_NEAR(r.Duration(), 2.0, 0.01);
  EXPECT_TRUE(r.Valid());
}

}  // namespace
}  // namespace ordana
