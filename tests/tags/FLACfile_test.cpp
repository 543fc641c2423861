#include "tags/FLACfile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

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

struct Read {
  test::TempDir dir;
  TFLACfile flac;
  bool ok = false;
  explicit Read(const std::string& bytes) {
    test::WriteBytes(dir.File("a.flac"), bytes);
    ok = flac.ReadFromFile(dir.File16("a.flac"));
  }
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
  // ID3v2 in front, or no marker: true, not valid, nothing filled.
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

TEST(FLACfile, CommentFieldsAndLines) {
  Read r(StreamInfo(44100, 2, 16, 44100) + Block(3, Zeros(18)) + Block(6, Zeros(3000)) +
         Block(4, VorbisComment("ref libFLAC",
                                {"artist=first", "ARTIST=second", "TITLE=a=b", "Album=Альбом",
                                 "GENRE=", "date=2001", "COMMENT=one\r\ntwo\nthree", "NOEQUALS",
                                 "=nothing"})) +
         Block(1, Zeros(10), true) + kFrames);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.flac.Vendor(), u"ref libFLAC");
  EXPECT_EQ(r.flac.Artist(), u"first");
  EXPECT_EQ(r.flac.Title(), u"a=b");
  EXPECT_EQ(r.flac.Album(), u"Альбом");
  EXPECT_EQ(r.flac.Genre(), u"");
  EXPECT_EQ(r.flac.Year(), u"2001");
  EXPECT_EQ(r.flac.Comment(), u"one\r\ntwo\nthree");
  const std::vector<std::u16string> lines = {
      u"artist=first", u"ARTIST=second", u"TITLE=a=b", u"Album=Альбом", u"GENRE=", u"date=2001",
      u"COMMENT=one",  u"two",           u"three",     u"NOEQUALS",     u"=nothing"};
  EXPECT_EQ(r.flac.CommentValues(), lines);
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

TEST(FLACfile, ReusedReaderForgetsThePreviousFile) {
  test::TempDir dir;
  test::WriteBytes(dir.File("a.flac"),
                   StreamInfo(44100, 2, 16, 44100) + Block(4, VorbisComment("v", {"TITLE=t"}), true));
  test::WriteBytes(dir.File("b.flac"), StreamInfo(8000, 1, 8, 10, true) + kFrames);
  TFLACfile f;
  ASSERT_TRUE(f.ReadFromFile(dir.File16("a.flac")));
  EXPECT_EQ(f.Title(), u"t");
  ASSERT_TRUE(f.ReadFromFile(dir.File16("b.flac")));
  EXPECT_EQ(f.Title(), u"");
  EXPECT_EQ(f.Vendor(), u"");
  EXPECT_TRUE(f.CommentValues().empty());
  EXPECT_EQ(f.SampleRate(), 8000);
}

// --- Files made by the reference encoder and metaflac ----------------------

// Raw little-endian PCM of a sine, for the encoder.
std::string SinePcm(int rate, int channels, int bits, double seconds) {
  std::string pcm;
  const int n = static_cast<int>(rate * seconds);
  const int bytes = bits / 8;
  const double amp = std::pow(2.0, bits - 2);
  for (int i = 0; i < n; ++i) {
    const auto v = static_cast<int32_t>(amp * std::sin(2 * M_PI * 440.0 * i / rate));
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

std::string Metaflac(const std::string& args) {
  std::string out;
  EXPECT_EQ(test::Run("metaflac " + args, &out), 0) << out;
  return out;
}

TEST(FLACfile, StreamInfoOfEncodedFilesMatchesMetaflac) {
  ORDANA_REQUIRE_TOOL("flac");
  ORDANA_REQUIRE_TOOL("metaflac");
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
  ORDANA_REQUIRE_TOOL("flac");
  ORDANA_REQUIRE_TOOL("metaflac");
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
  for (std::string line; std::getline(exported, line);) expected.push_back(Utf8ToUtf16(line));
  EXPECT_EQ(f.CommentValues(), expected);
  EXPECT_EQ(expected.size(), 7u);
  std::string vendor = Metaflac("--show-vendor-tag " + q);
  while (!vendor.empty() && vendor.back() == '\n') vendor.pop_back();
  EXPECT_EQ(f.Vendor(), Utf8ToUtf16(vendor));
}

}  // namespace
}  // namespace ordana
