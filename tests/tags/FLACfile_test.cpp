#include "tags/FLACfile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <sstream>

#include "support/Id3Bytes.h"
#include "support/SaveFaults.h"
#include "support/TagText.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::BE24;
using test::LE32;
using test::Zeros;

std::string Block(int type, std::string_view body, bool last = false) {
  return std::string(1, static_cast<char>(type | (last ? 0x80 : 0))) +
         BE24(static_cast<uint32_t>(body.size())) + std::string(body);
}

// Marker and STREAMINFO; samples is the 36-bit total.
std::string StreamInfo(uint32_t rate, int channels, int bits, uint64_t samples,
                       bool last = false) {
  const uint64_t v = uint64_t(rate) << 44 | uint64_t(channels - 1) << 41 |
                     uint64_t(bits - 1) << 36 | (samples & 0xFFFFFFFFFull);
  std::string packed;
  for (int i = 7; i >= 0; --i) packed += static_cast<char>(v >> (8 * i));
  return "fLaC" + Block(0, Zeros(10) + packed + Zeros(16), last);
}

std::string VorbisComment(std::string_view vendor, const std::vector<std::string>& comments,
                          int64_t count = -1) {
  std::string b = LE32(static_cast<uint32_t>(vendor.size())) + std::string(vendor);
  b += LE32(static_cast<uint32_t>(count < 0 ? comments.size() : count));
  for (const auto& c : comments) b += LE32(static_cast<uint32_t>(c.size())) + c;
  return b;
}

const std::string kFrames = std::string("\xFF\xF8\x69\x08", 4) + std::string(5000, '\x33');

struct Read : test::ReadBack<TFLACfile> {
  explicit Read(const std::string& bytes) : ReadBack(bytes, "a.flac") {}
  TFLACfile& flac = reader;
};

TEST(FLACfile, StreamInfoBitFieldsAndDerivedValues) {
  // 36-bit count whose top four bits are dropped: 0x3_0001_5888 -> 0x15888.
  Read r(StreamInfo(96000, 2, 24, 0x300015888ull) + Block(1, Zeros(100), true) + kFrames);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.flac.Channels(), 2);
  EXPECT_EQ(r.flac.SampleRate(), 96000);
  EXPECT_EQ(r.flac.BitsPerSample(), 24);
  EXPECT_EQ(r.flac.Samples(), 0x15888);
  EXPECT_TRUE(r.flac.Valid());
  const double size = 42 + 104 + kFrames.size();
  EXPECT_EQ(r.flac.FileLength(), size);
  EXPECT_DOUBLE_EQ(r.flac.Duration(), 0x15888 / 96000.0);
  EXPECT_DOUBLE_EQ(r.flac.Ratio(), size / (2.0 * 0x15888 * 24 / 8) * 100);
  EXPECT_TRUE(r.flac.CommentValues().empty());
  EXPECT_EQ(r.flac.Title(), u"");

  Read mono(StreamInfo(655350, 8, 32, 1));  // the widest values the fields hold
  EXPECT_EQ(mono.flac.SampleRate(), 655350);
  EXPECT_EQ(mono.flac.Channels(), 8);
  EXPECT_EQ(mono.flac.BitsPerSample(), 32);
}

TEST(FLACfile, MarkerIsASumAndOtherFilesAreNotValid) {
  std::string si = StreamInfo(44100, 1, 16, 1000);
  // Any four bytes adding up to 342 pass.
  Read swapped("CaLf" + si.substr(4));
  EXPECT_TRUE(swapped.ok);
  EXPECT_TRUE(swapped.flac.Valid());
  // A stray "ID3" that is not a whole tag in front, or no marker: true, not
  // valid, nothing filled.
  Read id3("ID3\x03" + si);
  EXPECT_TRUE(id3.ok);
  EXPECT_FALSE(id3.flac.Valid());
  EXPECT_EQ(id3.flac.SampleRate(), 0);
  EXPECT_EQ(id3.flac.FileLength(), 4 + static_cast<int32_t>(si.size()));
  EXPECT_DOUBLE_EQ(id3.flac.Duration(), 0);
  Read tiny("fL");
  EXPECT_TRUE(tiny.ok);
  EXPECT_FALSE(tiny.flac.Valid());
  // Unknown length: not valid, but the comments are read.
  Read unknown(StreamInfo(44100, 2, 16, 0) +
               Block(4, VorbisComment("v", {"TITLE=t"}), true));
  EXPECT_FALSE(unknown.flac.Valid());
  EXPECT_DOUBLE_EQ(unknown.flac.Duration(), 0);
  EXPECT_DOUBLE_EQ(unknown.flac.Ratio(), 0);
  EXPECT_EQ(unknown.flac.Title(), u"t");

  TFLACfile f;
  test::TempDir dir;
  EXPECT_FALSE(f.ReadFromFile(dir.File16("missing.flac")));
  EXPECT_FALSE(f.Valid());
}

// An ID3v2 tag in front of the stream (as id3v2-style taggers leave it) is
// passed over by its size; a size that runs past the file leaves nothing.
TEST(FLACfile, ID3v2TagInFrontIsPassedOver) {
  const std::string flac = StreamInfo(48000, 2, 24, 96000) +
                           Block(4, VorbisComment("v", {"TITLE=Behind ID3v2", "ARTIST=A"}), true) + kFrames;
  for (size_t padding : {size_t{0}, size_t{1000}}) {
    const std::string id3 = test::Id3Tag(3, test::F23("TIT2", std::string("\0ID3 title", 10)), 0, padding);
    Read r(id3 + flac);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.flac.Valid());
    EXPECT_EQ(r.flac.SampleRate(), 48000);
    EXPECT_EQ(r.flac.Title(), u"Behind ID3v2");
    EXPECT_DOUBLE_EQ(r.flac.Duration(), 2.0);
    EXPECT_EQ(r.flac.FileLength(), static_cast<int32_t>(id3.size() + flac.size()));
  }
  // A footer flag adds the footer's ten bytes.
  Read footer(test::Id3Tag(4, "", 0x10, 20) + "3DI" + test::Bytes({4, 0, 0x10}) + test::SyncSafe(20) + flac);
  EXPECT_EQ(footer.flac.Title(), u"Behind ID3v2");
  // A tag claiming more than the file: the stream is not looked for.
  Read cut("ID3" + test::Bytes({3, 0, 0}) + test::SyncSafe(1 << 20) + flac);
  EXPECT_TRUE(cut.ok);
  EXPECT_FALSE(cut.flac.Valid());
}

TEST(FLACfile, CommentFieldsAndLines) {
  Read r(StreamInfo(44100, 2, 16, 44100) + Block(3, Zeros(18)) + Block(6, Zeros(3000)) +
         Block(4, VorbisComment("ref libFLAC",
                                {"artist=first", "ARTIST=second", "TITLE=a=b", "Album=Альбом",
                                 "GENRE=", "date=2001", "COMMENT=one\r\ntwo\nthree", "NOEQUALS",
                                 "=nothing"})) +
         Block(1, Zeros(10), true) + kFrames);
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(test::HasText(r.flac, {.title = u"a=b", .artist = u"first", .album = u"Альбом",
                                     .year = u"2001", .genre = u"", .comment = u"one\r\ntwo\nthree",
                                     .vendor = u"ref libFLAC"}));
  const std::vector<std::u16string> lines = {
      u"artist=first", u"ARTIST=second", u"TITLE=a=b", u"Album=Альбом", u"GENRE=", u"date=2001",
      u"COMMENT=one",  u"two",           u"three",     u"NOEQUALS",     u"=nothing"};
  EXPECT_EQ(r.flac.CommentValues(), lines);
}

// The report's read keeps the named fields only, decided on the bytes; it
// must find what the full read finds, also for names in any case, malformed
// UTF-8 around the "=", a picture among the comments and a cut-off list.
TEST(FLACfile, NamedFieldsReadFindsWhatTheFullReadFinds) {
  const std::string si = StreamInfo(44100, 2, 16, 44100);
  const std::string picture = "METADATA_BLOCK_PICTURE=" + std::string(200000, 'P');
  const std::vector<std::vector<std::string>> lists = {
      {"artist=first", "ARTIST=second", "TITLE=a=b", "Album=Альбом", "GENRE=", "date=2001",
       "COMMENT=one\r\ntwo", "NOEQUALS", "=nothing"},
      {picture, "TiTlE=after the picture", "GENRE=\xC3", "\xFF" "ARTIST=not a name", "ARTIST=\xE2\x82=x"},
      {" TITLE=a leading blank is part of the name", "TITLE =so is a trailing one", "TITLE=real",
       "DATE\xC3\xA9=x", "COMMENT"},
      {"GENRE=", "GENRE=the first of a name counts even when empty"},
  };
  for (const auto& comments : lists) {
    std::string body = VorbisComment("vendor \xD0\x96", comments);
    for (const bool cut : {false, true}) {
      // Cut: the list claims one comment more than the block holds.
      const std::string b = cut ? VorbisComment("vendor", comments, int64_t(comments.size()) + 1) : body;
      test::TempDir dir;
      test::WriteBytes(dir.File("a.flac"), si + Block(4, b) + Block(1, Zeros(10), true) + kFrames);
      TFLACfile all, named;
      ASSERT_TRUE(all.ReadFromFile(dir.File16("a.flac")));
      ASSERT_TRUE(named.ReadFromFile(dir.File16("a.flac"), FLACComments::NamedFields));
      EXPECT_EQ(named.Vendor(), all.Vendor());
      EXPECT_EQ(named.Title(), all.Title()) << comments[0].substr(0, 20);
      EXPECT_EQ(named.Artist(), all.Artist()) << comments[0].substr(0, 20);
      EXPECT_EQ(named.Album(), all.Album());
      EXPECT_EQ(named.Year(), all.Year());
      EXPECT_EQ(named.Genre(), all.Genre());
      EXPECT_EQ(named.Comment(), all.Comment());
      EXPECT_TRUE(named.CommentValues().empty());
      EXPECT_TRUE(named.Valid());
      EXPECT_FALSE(all.CommentValues().empty());
    }
  }
  // The values themselves, for the second list.
  test::TempDir dir;
  test::WriteBytes(dir.File("a.flac"), si + Block(4, VorbisComment("v", lists[1]), true) + kFrames);
  TFLACfile named;
  ASSERT_TRUE(named.ReadFromFile(dir.File16("a.flac"), FLACComments::NamedFields));
  EXPECT_EQ(named.Title(), u"after the picture");
  EXPECT_EQ(named.Genre(), u"\uFFFD");
  EXPECT_EQ(named.Artist(), u"\uFFFD=x");
}

// A save after a read that passed comments over would drop them: refused,
// the file untouched; after a full read the same save goes through.
TEST(FLACSave, RefusedAfterANamedFieldsRead) {
  const std::string bytes = StreamInfo(44100, 2, 16, 44100) +
                            Block(4, VorbisComment("v", {"TITLE=old", "CUSTOM=kept"})) +
                            Block(1, Zeros(100), true) + kFrames;
  test::TempDir dir;
  test::WriteBytes(dir.File("a.flac"), bytes);
  TFLACfile f;
  ASSERT_TRUE(f.ReadFromFile(dir.File16("a.flac"), FLACComments::NamedFields));
  f.SetTitle(u"new");
  EXPECT_FALSE(f.SaveToFile(dir.File16("a.flac")));
  EXPECT_EQ(test::ReadBytes(dir.File("a.flac")), bytes);

  ASSERT_TRUE(f.ReadFromFile(dir.File16("a.flac")));
  f.SetTitle(u"new");
  ASSERT_TRUE(f.SaveToFile(dir.File16("a.flac")));
  TFLACfile back;
  ASSERT_TRUE(back.ReadFromFile(dir.File16("a.flac")));
  EXPECT_EQ(back.CommentValues(), (std::vector<std::u16string>{u"TITLE=new", u"CUSTOM=kept"}));
}

TEST(FLACfile, DamagedCommentBlocksStopEarly) {
  const std::string si = StreamInfo(44100, 2, 16, 44100);
  // More comments claimed than present.
  Read more(si + Block(4, VorbisComment("v", {"TITLE=t", "ARTIST=a"}, 1000), true));
  EXPECT_EQ(more.flac.Title(), u"t");
  EXPECT_EQ(more.flac.Artist(), u"a");
  EXPECT_EQ(more.flac.CommentValues().size(), 2u);

  // A comment length past the body: the comments before it count.
  std::string body = VorbisComment("v", {"TITLE=t"}, 3) + LE32(500) + "ARTIST=a";
  Read cut(si + Block(4, body, true) + kFrames);
  EXPECT_EQ(cut.flac.Title(), u"t");
  EXPECT_EQ(cut.flac.Artist(), u"");
  EXPECT_EQ(cut.flac.CommentValues().size(), 1u);

  // A vendor length past the body: the vendor is what there is.
  Read vendor(si + Block(4, LE32(0xFFFFFFF0) + "vend", true));
  EXPECT_TRUE(vendor.ok);
  EXPECT_EQ(vendor.flac.Vendor(), u"vend");
  EXPECT_TRUE(vendor.flac.CommentValues().empty());

  // No room for the count, and a body of under 4 bytes.
  Read nocount(si + Block(4, LE32(1) + "v", true));
  EXPECT_EQ(nocount.flac.Vendor(), u"v");
  Read shortBody(si + Block(4, "ab", true));
  EXPECT_EQ(shortBody.flac.Vendor(), u"");

  // A block length past the end of the file: its bytes up to the end count.
  std::string tail = VorbisComment("v", {"TITLE=t"});
  Read past(si + "\x84" + BE24(0xFFFFFF) + tail);
  EXPECT_TRUE(past.ok);
  EXPECT_EQ(past.flac.Title(), u"t");

  // A skipped block running past the end, then nothing.
  Read skip(si + "\x06" + BE24(0xFFFFFF) + Zeros(10));
  EXPECT_TRUE(skip.ok);
  EXPECT_TRUE(skip.flac.Valid());
}

TEST(FLACfile, BlockWalkStopsAtLastFlagAndAfterHundredHeaders) {
  const std::string si = StreamInfo(44100, 2, 16, 44100);
  const std::string vc = Block(4, VorbisComment("v", {"TITLE=t"}));
  std::string blocks;
  for (int i = 0; i < 99; ++i) blocks += Block(2, "appl");
  Read at100(si + blocks + vc);  // the comment block is the 100th header
  EXPECT_EQ(at100.flac.Title(), u"t");
  Read at101(si + blocks + Block(2, "appl") + vc);
  EXPECT_TRUE(at101.ok);
  EXPECT_EQ(at101.flac.Title(), u"");
  Read afterLast(si + Block(1, Zeros(8), true) + vc);
  EXPECT_EQ(afterLast.flac.Title(), u"");
  // Only the first comment block is read.
  Read two(si + vc + Block(4, VorbisComment("w", {"TITLE=second"})));
  EXPECT_EQ(two.flac.Title(), u"t");
  EXPECT_EQ(two.flac.Vendor(), u"v");
}

// --- Files made by the reference encoder and metaflac ----------------------

// Raw little-endian PCM of a sine, for the encoder.
std::string SinePcm(int rate, int channels, int bits, double seconds) {
  std::string pcm;
  const int n = static_cast<int>(rate * seconds);
  const int bytes = bits / 8;
  const double amp = std::pow(2.0, bits - 2);
  for (int i = 0; i < n; ++i) {
    const auto v = static_cast<int32_t>(amp * std::sin(2 * std::numbers::pi * 440.0 * i / rate));
    for (int c = 0; c < channels; ++c)
      for (int b = 0; b < bytes; ++b) pcm += static_cast<char>(v >> (8 * b));
  }
  return pcm;
}

// Encodes a FLAC file; returns its path (UTF-8).
std::string Encode(const test::TempDir& dir, const std::string& name, int rate, int channels,
                   int bits, double seconds) {
  const std::string raw = dir.File(name + ".raw"), out = dir.File(name);
  test::WriteBytes(raw, SinePcm(rate, channels, bits, seconds));
  const int rc = test::Run("flac -s -f --force-raw-format --endian=little --sign=signed "
                           "--channels=" + std::to_string(channels) +
                           " --bps=" + std::to_string(bits) +
                           " --sample-rate=" + std::to_string(rate) + " -o " +
                           test::ShellQuote(out) + " " + test::ShellQuote(raw));
  EXPECT_EQ(rc, 0);
  return out;
}

// Skips a test that encodes with flac and checks with metaflac when either
// is missing.
#define ORDANA_REQUIRE_FLAC_TOOLS()   \
  do {                                \
    ORDANA_REQUIRE_TOOL("flac");      \
    ORDANA_REQUIRE_TOOL("metaflac");  \
  } while (0)

std::string Metaflac(const std::string& args) {
  std::string out;
  EXPECT_EQ(test::Run("metaflac " + args, &out), 0) << out;
  return out;
}

TEST(FLACfile, StreamInfoOfEncodedFilesMatchesMetaflac) {
  ORDANA_REQUIRE_FLAC_TOOLS();
  test::TempDir dir;
  struct Case { int rate, channels, bits; };
  for (Case c : {Case{96000, 2, 24}, Case{44100, 2, 16}, Case{22050, 1, 8}}) {
    SCOPED_TRACE(c.rate);
    const std::string path = Encode(dir, "s.flac", c.rate, c.channels, c.bits, 0.7);
    std::istringstream facts(Metaflac("--show-sample-rate --show-channels --show-bps "
                                      "--show-total-samples " + test::ShellQuote(path)));
    long rate = 0, channels = 0, bits = 0, samples = 0;
    facts >> rate >> channels >> bits >> samples;
    EXPECT_EQ(rate, c.rate);
    TFLACfile f;
    ASSERT_TRUE(f.ReadFromFile(dir.File16("s.flac")));
    ASSERT_TRUE(f.Valid());
    EXPECT_EQ(f.SampleRate(), rate);
    EXPECT_EQ(f.Channels(), channels);
    EXPECT_EQ(f.BitsPerSample(), bits);
    EXPECT_EQ(f.Samples(), samples);
    EXPECT_NEAR(f.Duration(), 0.7, 0.001);
    const double size = static_cast<double>(test::ReadBytes(path).size());
    EXPECT_EQ(f.FileLength(), size);
    EXPECT_NEAR(f.Ratio(), size * 100 / (channels * samples * bits / 8.0), 1e-9);
  }
}

TEST(FLACfile, CommentsSetByMetaflacIncludingAfterABigPicture) {
  ORDANA_REQUIRE_FLAC_TOOLS();
  test::TempDir dir;
  const std::string path = Encode(dir, "c.flac", 44100, 2, 16, 0.5);
  const std::string q = test::ShellQuote(path);
  // A picture of 400 kB before the comment block.
  test::WriteBytes(dir.File("cover.bin"), std::string(400000, '\xAB'));
  Metaflac("--remove --block-type=VORBIS_COMMENT " + q);
  Metaflac("--import-picture-from=" +
           test::ShellQuote("3|image/jpeg|cover|10x10x24|" + dir.File("cover.bin")) + " " + q);
  std::string tags;
  for (const char* t : {"TITLE=Группа крови", "artist=Кино", "ALBUM=Альбом", "DATE=1988",
                        "GENRE=Рок", "COMMENT=a=b", "ARTIST=Второй"})
    tags += test::ShellQuote(std::string("--set-tag=") + t) + " ";
  Metaflac(tags + q);
  const std::string list = Metaflac("--list --block-type=PICTURE,VORBIS_COMMENT " + q);
  ASSERT_LT(list.find("PICTURE"), list.find("VORBIS_COMMENT"));

  TFLACfile f;
  ASSERT_TRUE(f.ReadFromFile(dir.File16("c.flac")));
  ASSERT_TRUE(f.Valid());
  EXPECT_EQ(f.Title(), u"Группа крови");
  EXPECT_EQ(f.Artist(), u"Кино");
  EXPECT_EQ(f.Album(), u"Альбом");
  EXPECT_EQ(f.Year(), u"1988");
  EXPECT_EQ(f.Genre(), u"Рок");
  EXPECT_EQ(f.Comment(), u"a=b");
  // Every comment, in order, as metaflac exports them.
  std::istringstream exported(Metaflac("--export-tags-to=- " + q));
  std::vector<std::u16string> expected;
  for (std::string line; std::getline(exported, line);) expected.push_back(Utf8ToUtf16(Utf8View(line)));
  EXPECT_EQ(f.CommentValues(), expected);
  EXPECT_EQ(expected.size(), 7u);
  std::string vendor = Metaflac("--show-vendor-tag " + q);
  while (!vendor.empty() && vendor.back() == '\n') vendor.pop_back();
  EXPECT_EQ(f.Vendor(), Utf8ToUtf16(Utf8View(vendor)));
}

// --- Saving -----------------------------------------------------------------

struct BlockInfo {
  int type;
  bool last;
  size_t offset;  // of the header
  size_t length;  // of the body
};

// The metadata blocks of a file as stored, STREAMINFO first.
std::vector<BlockInfo> Walk(const std::string& file) {
  std::vector<BlockInfo> blocks;
  size_t pos = 4;
  while (pos + 4 <= file.size()) {
    const auto* h = reinterpret_cast<const unsigned char*>(file.data() + pos);
    BlockInfo b{h[0] & 0x7F, (h[0] & 0x80) != 0, pos, size_t(h[1]) << 16 | h[2] << 8 | h[3]};
    blocks.push_back(b);
    pos += 4 + b.length;
    if (b.last) break;
  }
  return blocks;
}

size_t AudioStart(const std::string& file) {
  const BlockInfo b = Walk(file).back();
  return b.offset + 4 + b.length;
}

std::vector<int> Types(const std::string& file) {
  std::vector<int> types;
  for (const BlockInfo& b : Walk(file)) types.push_back(b.type);
  return types;
}

// Only the final block carries the last-block flag.
bool OnlyFinalIsLast(const std::string& file) {
  const auto blocks = Walk(file);
  for (size_t i = 0; i + 1 < blocks.size(); ++i)
    if (blocks[i].last) return false;
  return !blocks.empty() && blocks.back().last;
}

// The number of comments stored in the first VORBIS_COMMENT block.
uint32_t StoredCommentCount(const std::string& file) {
  for (const BlockInfo& b : Walk(file)) {
    if (b.type != 4) continue;
    const auto* p = reinterpret_cast<const unsigned char*>(file.data() + b.offset + 4);
    const uint32_t vendor = p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
    p += 4 + vendor;
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
  }
  return 0;
}

struct Saved {
  test::TempDir dir;
  TFLACfile flac;
  std::string Path() const { return dir.File("s.flac"); }
  std::u16string Path16() const { return dir.File16("s.flac"); }
  std::string Bytes() const { return test::ReadBytes(Path()); }
  explicit Saved(const std::string& bytes) {
    test::WriteBytes(Path(), bytes);
    EXPECT_TRUE(flac.ReadFromFile(Path16()));
  }
};

TEST(FLACSave, PaddingAbsorbsTheChangeOrTheFileIsRewritten) {
  const std::string si = StreamInfo(44100, 2, 16, 44100);
  const std::string vc = Block(4, VorbisComment("v", {"TITLE=a", "ARTIST=b"}));
  const std::string file = si + vc + Block(1, Zeros(10), true) + kFrames;  // 14 bytes of padding

  struct Case {
    size_t grow;  // bytes the title grows by
    bool sameSize;
    std::vector<int> types;
    size_t padding;  // body length of the new padding block
  };
  for (const Case& c : {Case{14, true, {0, 4}, 0}, Case{10, true, {0, 4, 1}, 0},
                        Case{0, true, {0, 4, 1}, 10}, Case{12, false, {0, 4, 1}, 2048},
                        Case{11, false, {0, 4, 1}, 2048}, Case{100, false, {0, 4, 1}, 2048}}) {
    SCOPED_TRACE(c.grow);
    Saved s(file);
    s.flac.SetTitle(u"a" + std::u16string(c.grow, u'x'));
    ASSERT_TRUE(s.flac.SaveToFile(s.Path16()));
    const std::string out = s.Bytes();
    EXPECT_EQ(out.size() == file.size(), c.sameSize);
    EXPECT_EQ(Types(out), c.types);
    EXPECT_TRUE(OnlyFinalIsLast(out));
    if (c.types.size() == 3) {
      EXPECT_EQ(Walk(out).back().length, c.padding);
    }
    EXPECT_EQ(out.substr(0, 42), si);
    EXPECT_EQ(out.substr(AudioStart(out)), kFrames);
    TFLACfile back;
    ASSERT_TRUE(back.ReadFromFile(s.Path16()));
    EXPECT_EQ(back.Title(), s.flac.Title());
    EXPECT_EQ(back.Artist(), u"b");
    // A second save gives the same file.
    ASSERT_TRUE(s.flac.SaveToFile(s.Path16()));
    EXPECT_EQ(s.Bytes(), out);
  }
}

TEST(FLACSave, KeptBlocksAndLastFlags) {
  const std::string app = Block(2, "ORDAxyz");
  // STREAMINFO alone, flagged last: the new blocks follow it, unflagged.
  Saved alone(StreamInfo(44100, 2, 16, 44100, true) + kFrames);
  alone.flac.SetTitle(u"t");
  ASSERT_TRUE(alone.flac.SaveToFile(alone.Path16()));
  std::string out = alone.Bytes();
  EXPECT_EQ(Types(out), (std::vector<int>{0, 4, 1}));
  EXPECT_TRUE(OnlyFinalIsLast(out));
  EXPECT_EQ(out.substr(AudioStart(out)), kFrames);

  // A kept block that was the last one: exactly the final block is flagged.
  const std::string si = StreamInfo(44100, 2, 16, 44100);
  Saved kept(si + Block(3, Zeros(18)) + Block(4, VorbisComment("v", {})) +
             Block(2, "ORDAxyz", true) + kFrames);
  kept.flac.SetArtist(u"Исполнитель");
  ASSERT_TRUE(kept.flac.SaveToFile(kept.Path16()));
  out = kept.Bytes();
  EXPECT_EQ(Types(out), (std::vector<int>{0, 4, 3, 2, 1}));
  EXPECT_TRUE(OnlyFinalIsLast(out));
  EXPECT_EQ(out.substr(Walk(out)[3].offset, app.size()), app);  // flag cleared, body kept
  EXPECT_EQ(out.substr(AudioStart(out)), kFrames);

  // Empty fields remove their comment; a comment with line breaks stays one.
  Saved multi(si + Block(4, VorbisComment("v", {"genre=Rock", "LYRICS=one\ntwo", "TITLE=t"})) +
              Block(1, Zeros(100), true) + kFrames);
  EXPECT_EQ(multi.flac.CommentValues().size(), 4u);
  multi.flac.SetGenre(u"");
  multi.flac.SetAlbum(u"Альбом");
  ASSERT_TRUE(multi.flac.SaveToFile(multi.Path16()));
  out = multi.Bytes();
  EXPECT_EQ(StoredCommentCount(out), 3u);
  TFLACfile back;
  ASSERT_TRUE(back.ReadFromFile(multi.Path16()));
  EXPECT_EQ(back.CommentValues(),
            (std::vector<std::u16string>{u"LYRICS=one", u"two", u"TITLE=t", u"ALBUM=Альбом"}));
  EXPECT_EQ(back.Genre(), u"");
}

TEST(FLACSave, RefusesWhatItCannotWalkSafelyAndLeavesTheFile) {
  const std::string si = StreamInfo(44100, 2, 16, 44100);
  auto refused = [](const std::string& before, const std::string& bytes) {
    Saved s(before);
    test::WriteBytes(s.Path(), bytes);
    s.flac.SetTitle(u"new");
    EXPECT_FALSE(s.flac.SaveToFile(s.Path16()));
    EXPECT_EQ(s.Bytes(), bytes);
  };
  const std::string good = si + Block(1, Zeros(100), true) + kFrames;
  refused(good, "ID3\x03" + good);                                     // no longer FLAC
  refused(good, "fLaC" + Block(2, Zeros(34)) + Block(0, Zeros(34), true));  // no STREAMINFO first
  refused(good, si + Block(1, Zeros(10)) + kFrames);       // no last flag: frames met as a header
  refused(good, si + Block(2, Zeros(10)) + "\x81" + BE24(100000) + Zeros(50));  // past the end
  std::string many = si;
  for (int i = 0; i < 101; ++i) many += Block(2, "appl");
  refused(good, many + Block(1, Zeros(4), true) + kFrames);  // over 100 headers
  // 99 kept blocks and a comment: a same-size comment fits in place, but
  // a longer one needs padding, and 101 headers are past what a walk reads.
  std::string full = si;
  for (int i = 0; i < 99; ++i) full += Block(2, "appl");
  full += Block(4, VorbisComment("v", {"TITLE=old"}), true) + kFrames;
  {
    Saved s(full);
    s.flac.SetTitle(u"new");
    EXPECT_TRUE(s.flac.SaveToFile(s.Path16()));
    s.flac.SetTitle(u"a longer title");
    EXPECT_FALSE(s.flac.SaveToFile(s.Path16()));
    EXPECT_EQ(Walk(s.Bytes()).size(), 101u);  // the in-place save's layout, kept
  }

  // Nothing valid read: refused.
  test::TempDir dir;
  test::WriteBytes(dir.File("a.flac"), good);
  TFLACfile fresh;
  EXPECT_FALSE(fresh.SaveToFile(dir.File16("a.flac")));
  EXPECT_EQ(test::ReadBytes(dir.File("a.flac")), good);
}

TEST(FLACSave, InjectedFaultsNeverDamageTheFile) {
  const std::string si = StreamInfo(44100, 2, 16, 44100);
  const std::string frames = std::string("\xFF\xF8", 2) + std::string(200000, '\x21');
  const std::string file = si + Block(4, VorbisComment("v", {"TITLE=a"})) +
                           Block(6, std::string(70000, 'p')) + Block(1, Zeros(500), true) + frames;
  int total = 0;
  for (const std::string& title : std::vector<std::string>{"in place", std::string(3000, 'r')}) {
    Saved s(file);
    s.flac.SetTitle(Utf8ToUtf16(Utf8View(title)));
    // The fault-free result, from a copy.
    test::TempDir ref;
    test::WriteBytes(ref.File("r.flac"), file);
    TFLACfile copy = s.flac;
    ASSERT_TRUE(copy.SaveToFile(ref.File16("r.flac")));
    const std::string expected = test::ReadBytes(ref.File("r.flac"));
    const bool inPlace = title == "in place";
    EXPECT_EQ(expected.size() == file.size(), inPlace);
    const int survived = test::CountSurvivedFaults(s.Path(), expected,
                                                   [&] { return s.flac.SaveToFile(s.Path16()); });
    EXPECT_GE(survived, inPlace ? 2 : 5);
    std::printf("FLAC %s save: %d faults survived\n", inPlace ? "in-place" : "rewrite", survived);
    total += survived;
  }
  RecordProperty("faults_survived", total);
}

// --- Round trips with the reference tools ------------------------------------

// A save keeps an ID3v2 tag in front byte for byte and writes the blocks at
// their shifted offsets, in place and rewritten; flac decodes the result.
TEST(FLACSave, KeepsAnID3v2TagInFront) {
  ORDANA_REQUIRE_FLAC_TOOLS();
  test::TempDir dir;
  const std::string plain = test::ReadBytes(Encode(dir, "p.flac", 44100, 1, 16, 0.5));
  const std::string id3 = test::Id3Tag(3, test::F23("TIT2", std::string("\0ID3 title", 10)), 0, 300);
  const std::string path = dir.File("i.flac");
  test::WriteBytes(path, id3 + plain);
  const std::string q = test::ShellQuote(path);
  const std::string audio = test::Digest(plain.substr(AudioStart(plain)));

  TFLACfile f;
  ASSERT_TRUE(f.ReadFromFile(dir.File16("i.flac")));
  ASSERT_TRUE(f.Valid());
  for (const std::u16string& title : {std::u16string(u"Short"), std::u16string(9000, u'я')}) {
    f.SetTitle(title);
    ASSERT_TRUE(f.SaveToFile(dir.File16("i.flac")));
    const std::string out = test::ReadBytes(path);
    ASSERT_EQ(out.substr(0, id3.size()), id3);
    const std::string stream = out.substr(id3.size());
    EXPECT_EQ(stream.substr(0, 4), "fLaC");
    EXPECT_TRUE(OnlyFinalIsLast(stream));
    EXPECT_EQ(test::Digest(stream.substr(AudioStart(stream))), audio);
    EXPECT_EQ(test::Run("flac -s -t " + q), 0);
    TFLACfile back;
    ASSERT_TRUE(back.ReadFromFile(dir.File16("i.flac")));
    EXPECT_EQ(back.Title(), title);
    test::WriteBytes(dir.File("s.flac"), stream);
    EXPECT_EQ(Metaflac("--show-tag=TITLE " + test::ShellQuote(dir.File("s.flac"))),
              "TITLE=" + Utf16ToUtf8(title).bytes() + "\n");
  }
}

TEST(FLACSave, RoundTripsThroughMetaflacInPlaceAndRewritten) {
  ORDANA_REQUIRE_FLAC_TOOLS();
  test::TempDir dir;
  const std::string path = Encode(dir, "r.flac", 44100, 2, 16, 1.0);
  const std::string q = test::ShellQuote(path);
  test::WriteBytes(dir.File("lyrics.txt"), "first line\nsecond line");
  test::WriteBytes(dir.File("cover.bin"), std::string(100000, '\xCD'));
  Metaflac("--import-picture-from=" +
           test::ShellQuote("3|image/jpeg|cover|10x10x24|" + dir.File("cover.bin")) + " " + q);
  Metaflac("--set-tag=TITLE=Old --set-tag=ARTIST=Кто-то --set-tag=GENRE=Pop "
           "--set-tag-from-file=LYRICS=" + test::ShellQuote(dir.File("lyrics.txt")) + " " + q);
  std::filesystem::remove(dir.File("lyrics.txt"));
  std::filesystem::remove(dir.File("cover.bin"));
  std::filesystem::remove(dir.File("r.flac.raw"));
  const std::string original = test::ReadBytes(path);
  const std::string audio = test::Digest(original.substr(AudioStart(original)));
  const auto picture = [](const std::string& file) {
    for (const BlockInfo& b : Walk(file))
      if (b.type == 6) return test::Digest(file.substr(b.offset, b.length + 4));
    return std::string();
  };
  const std::string pictureDigest = picture(original);
  ASSERT_FALSE(pictureDigest.empty());

  TFLACfile f;
  ASSERT_TRUE(f.ReadFromFile(dir.File16("r.flac")));
  // In place: the padding that encoder and metaflac left absorbs the change.
  f.SetTitle(u"Новое название");
  f.SetGenre(u"");
  f.SetYear(u"2024");
  ASSERT_TRUE(f.SaveToFile(dir.File16("r.flac")));
  std::string out = test::ReadBytes(path);
  EXPECT_EQ(out.size(), original.size());
  EXPECT_EQ(Metaflac("--export-tags-to=- " + q),
            "TITLE=Новое название\nARTIST=Кто-то\nLYRICS=first line\nsecond line\nDATE=2024\n");
  EXPECT_EQ(StoredCommentCount(out), 4u);
  EXPECT_EQ(test::Digest(out.substr(AudioStart(out))), audio);
  EXPECT_EQ(picture(out), pictureDigest);
  EXPECT_EQ(test::Run("flac -s -t " + q), 0);  // decodes, MD5 of the audio matches

  // Rewritten: a comment larger than the padding.
  const std::u16string big(12000, u'ж');
  f.SetComment(big);
  ASSERT_TRUE(f.SaveToFile(dir.File16("r.flac")));
  out = test::ReadBytes(path);
  EXPECT_GT(out.size(), original.size());
  const auto blocks = Walk(out);
  EXPECT_EQ(blocks.back().type, 1);
  EXPECT_EQ(blocks.back().length, 2048u);
  EXPECT_TRUE(OnlyFinalIsLast(out));
  EXPECT_EQ(test::Digest(out.substr(AudioStart(out))), audio);
  EXPECT_EQ(picture(out), pictureDigest);
  EXPECT_EQ(test::Run("flac -s -t " + q), 0);
  std::string tags = Metaflac("--export-tags-to=- " + q);
  EXPECT_NE(tags.find("COMMENT=" + Utf16ToUtf8(big).bytes() + "\n"), std::string::npos);
  EXPECT_NE(tags.find("TITLE=Новое название\n"), std::string::npos);
  TFLACfile back;
  ASSERT_TRUE(back.ReadFromFile(dir.File16("r.flac")));
  EXPECT_EQ(back.Comment(), big);
  EXPECT_EQ(back.Title(), u"Новое название");
  EXPECT_EQ(back.Vendor(), f.Vendor());
  EXPECT_EQ(back.Samples(), f.Samples());
  // Saving again changes nothing.
  ASSERT_TRUE(back.SaveToFile(dir.File16("r.flac")));
  EXPECT_EQ(test::ReadBytes(path), out);
  // Only the FLAC file is left in the folder: no temporary file.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace ordana
