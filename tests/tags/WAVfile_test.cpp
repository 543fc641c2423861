#include "tags/WAVfile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "support/MediaFixtures.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::LE16;
using test::LE32;

// RIFF header and format chunk up to offset 36; fmtExtra bytes of format
// chunk beyond 16 follow.
std::string Header(uint32_t riffSize, uint16_t tag, uint16_t channels, uint32_t rate,
                   uint16_t bits, uint32_t fmtSize = 16) {
  const uint16_t align = static_cast<uint16_t>(channels * ((bits + 7) / 8));
  return "RIFF" + LE32(riffSize) + "WAVE" + "fmt " + LE32(fmtSize) + LE16(tag) + LE16(channels) +
         LE32(rate) + LE32(rate * align) + LE16(align) + LE16(bits);
}

struct Read : test::ReadBack<TWAVfile> {
  explicit Read(const std::string& bytes) : ReadBack(bytes, "t.wav") {}
  TWAVfile& wav = reader;
};

TEST(WAVfileRead, CommonPcmLayout) {
  const uint32_t data = 176400 * 2 + 100;
  Read r(Header(36 + data, 1, 2, 44100, 16) + "data" + LE32(data) + test::Zeros(data));
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.wav.Valid());
  EXPECT_EQ(r.wav.FormatID(), 1);
  EXPECT_EQ(r.wav.Format(), u"Windows PCM");
  EXPECT_EQ(r.wav.ChannelNumber(), 2);
  EXPECT_EQ(r.wav.ChannelMode(), u"Stereo");
  EXPECT_EQ(r.wav.SampleRate(), 44100u);
  EXPECT_EQ(r.wav.BytesPerSecond(), 176400u);
  EXPECT_EQ(r.wav.BlockAlign(), 4);
  EXPECT_EQ(r.wav.BitsPerSample(), 16);
  EXPECT_EQ(r.wav.HeaderSize(), 44);
  EXPECT_EQ(r.wav.FileSize(), 44 + data);
  EXPECT_DOUBLE_EQ(r.wav.Duration(), double(data) / 176400);
}

TEST(WAVfileRead, SampleCountBehindTheFormatChunk) {
  // An 18-byte format chunk and a fact chunk: the count sits at 18 + 28 = 46.
  Read fact(Header(50 + 400, 17, 1, 8000, 4, 18) + LE16(0) + "fact" + LE32(4) + LE32(12000) +
            "data" + LE32(400) + test::Zeros(400));
  ASSERT_TRUE(fact.ok);
  EXPECT_TRUE(fact.wav.Valid());
  EXPECT_EQ(fact.wav.Format(), u"DVI/IMA ADPCM");
  EXPECT_EQ(fact.wav.ChannelMode(), u"Mono");
  EXPECT_EQ(fact.wav.HeaderSize(), 58);
  EXPECT_DOUBLE_EQ(fact.wav.Duration(), 1.5);

  // Another chunk after a 16-byte format chunk: offset 44 is taken as the
  // count whatever it holds; the audio is assumed to start at 56.
  Read other(Header(1000, 1, 2, 44100, 16) + "LIST" + LE32(4) + LE32(88200) + test::Zeros(964));
  ASSERT_TRUE(other.ok);
  EXPECT_EQ(other.wav.HeaderSize(), 56);
  EXPECT_DOUBLE_EQ(other.wav.Duration(), 2.0);
  // A count that is not positive leaves the byte-rate duration.
  Read negative(Header(1000 + 56 - 8, 1, 2, 44100, 16) + "junk" + LE32(4) + LE32(0xFFFFFFFF) +
                test::Zeros(1000));
  EXPECT_DOUBLE_EQ(negative.wav.Duration(), 0.0);
  Read zero(Header(176400 + 56 - 8, 1, 2, 44100, 16) + "junk" + LE32(4) + LE32(0) +
            test::Zeros(1000));
  EXPECT_DOUBLE_EQ(zero.wav.Duration(), 1.0);
}

TEST(WAVfileRead, HeaderValuesOutsideTheCommonRange) {
  // Six channels: read, but not valid.
  Read six(Header(1000, 1, 6, 48000, 16) + "data" + LE32(1000) + test::Zeros(1000));
  EXPECT_TRUE(six.ok);
  EXPECT_FALSE(six.wav.Valid());
  EXPECT_EQ(six.wav.ChannelMode(), u"Unknown");
  EXPECT_EQ(six.wav.SampleRate(), 0u);
  EXPECT_EQ(six.wav.Duration(), 0.0);

  // A RIFF size smaller than the header: the header size is the stated size.
  Read small(Header(20, 1, 2, 44100, 16) + "data" + LE32(1000) + test::Zeros(1000));
  EXPECT_TRUE(small.wav.Valid());
  EXPECT_EQ(small.wav.FileSize(), 28u);
  EXPECT_EQ(small.wav.HeaderSize(), 28);
  EXPECT_EQ(small.wav.Duration(), 0.0);

  // Format tag 3 (floating point) is not named but still valid.
  Read flt(Header(36 + 800, 3, 1, 8000, 32) + "data" + LE32(800) + test::Zeros(800));
  EXPECT_TRUE(flt.wav.Valid());
  EXPECT_EQ(flt.wav.Format(), u"");
  EXPECT_DOUBLE_EQ(flt.wav.Duration(), 800.0 / 32000);
}

TEST(WAVfileRead, ShortAndForeignFiles) {
  test::TempDir dir;
  TWAVfile wav;
  EXPECT_FALSE(wav.ReadFromFile(dir.File16("missing.wav")));

  // A good read first: every later read must start from a reset object.
  test::WriteBytes(dir.File("a.wav"), Header(36, 1, 2, 44100, 16) + "data" + LE32(0));
  ASSERT_TRUE(wav.ReadFromFile(dir.File16("a.wav")));
  ASSERT_TRUE(wav.Valid());

  // Shorter than 40 bytes: nothing read, not recognised, but no error.
  test::WriteBytes(dir.File("a.wav"), Header(36, 1, 2, 44100, 16).substr(0, 39));
  EXPECT_TRUE(wav.ReadFromFile(dir.File16("a.wav")));
  EXPECT_FALSE(wav.Valid());
  EXPECT_EQ(wav.SampleRate(), 0u);

  // No "data" at 36 and the file ends before the sample count: an error.
  test::WriteBytes(dir.File("a.wav"), Header(100, 1, 2, 44100, 16, 40) + "LIST" + LE32(0));
  EXPECT_FALSE(wav.ReadFromFile(dir.File16("a.wav")));
  EXPECT_FALSE(wav.Valid());
  // A format chunk size near 4 GB: the count would lie far past the end.
  test::WriteBytes(dir.File("a.wav"),
                   Header(100, 1, 2, 44100, 16, 0xFFFFFFF0) + "LIST" + test::Zeros(100));
  EXPECT_FALSE(wav.ReadFromFile(dir.File16("a.wav")));

  // Not RIFF WAVE, or with the marks in other letter case.
  for (std::string bytes : {std::string("RIFX"), std::string("riff")}) {
    bytes += LE32(36) + "WAVEfmt " + test::Zeros(20) + "data" + LE32(0);
    test::WriteBytes(dir.File("a.wav"), bytes);
    EXPECT_TRUE(wav.ReadFromFile(dir.File16("a.wav")));
    EXPECT_FALSE(wav.Valid());
  }
  std::string avi = Header(36, 1, 2, 44100, 16) + "data" + LE32(0);
  avi.replace(8, 4, "AVI ");
  test::WriteBytes(dir.File("a.wav"), avi);
  EXPECT_TRUE(wav.ReadFromFile(dir.File16("a.wav")));
  EXPECT_FALSE(wav.Valid());
}

// --- Files made by sox -----------------------------------------------------------

TEST(WAVfileRead, FilesWrittenBySox) {
  ORDANA_REQUIRE_TOOL("sox");
  test::TempDir dir;
  struct Case {
    const char* options;
    double seconds;
    uint32_t rate;
    int channels, bits;
    const char16_t* format;
  };
  const Case cases[] = {
      {"-r 44100 -c 2 -b 16 -e signed-integer", 2.5, 44100, 2, 16, u"Windows PCM"},
      {"-r 11025 -c 1 -b 8 -e unsigned-integer", 1.0, 11025, 1, 8, u"Windows PCM"},
      {"-r 8000 -c 1 -e ima-adpcm", 1.75, 8000, 1, 4, u"DVI/IMA ADPCM"},
      {"-r 8000 -c 1 -e a-law", 0.5, 8000, 1, 8, u"A-LAW"},
      {"-r 22050 -c 2 -e ms-adpcm", 1.0, 22050, 2, 4, u"Microsoft ADPCM"},
  };
  for (const Case& c : cases) {
    const std::string file = dir.File("s.wav");
    ASSERT_EQ(test::Run(std::string("sox -n ") + c.options + " " + test::ShellQuote(file) +
                        " synth " + std::to_string(c.seconds) + " sine 440"), 0) << c.options;
    TWAVfile wav;
    ASSERT_TRUE(wav.ReadFromFile(dir.File16("s.wav"))) << c.options;
    EXPECT_TRUE(wav.Valid()) << c.options;
    EXPECT_EQ(wav.Format(), c.format) << c.options;
    EXPECT_EQ(wav.SampleRate(), c.rate) << c.options;
    EXPECT_EQ(wav.ChannelNumber(), c.channels) << c.options;
    EXPECT_EQ(wav.BitsPerSample(), c.bits) << c.options;
    EXPECT_EQ(wav.FileSize(), std::filesystem::file_size(file)) << c.options;
    const int64_t samples = test::SoxSamples(file);
    if (wav.HeaderSize() == 44) {
      // Plain PCM: the duration comes from the stated size (which counts a
      // pad byte after odd-sized data) and the byte rate.
      EXPECT_DOUBLE_EQ(wav.Duration(), double(wav.FileSize() - 44) / wav.BytesPerSecond());
      EXPECT_NEAR(wav.Duration() * c.rate, double(samples), 1.0) << c.options;
    } else {
      // A fact chunk follows the format chunk: its exact sample count
      // decides; sox reports whole decoded blocks, at most one more.
      EXPECT_DOUBLE_EQ(wav.Duration(), c.seconds) << c.options;
      EXPECT_GE(samples, std::llround(wav.Duration() * c.rate)) << c.options;
      EXPECT_LT(samples - std::llround(wav.Duration() * c.rate), 1100) << c.options;
    }
    EXPECT_NEAR(wav.Duration(), c.seconds, 0.01) << c.options;
  }
}

}  // namespace
}  // namespace ordana
