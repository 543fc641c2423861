// Exact lengths from the files' own headers: the four parsers on layouts
// built byte by byte, and against FFmpeg (through the media probe) on files
// made by several encoders.
#include "trackinfo/StatedLength.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>

#include "platform/MediaProbe.h"
#include "platform/TextCodec.h"
#include "support/MediaFixtures.h"
#include "support/Mp4Builder.h"
#include "support/OggBuilder.h"
#include "support/TestFiles.h"
#include "trackinfo/TrackLength.h"

namespace ordana {
namespace {

using test::BE16;
using test::BE32;
using test::Bytes;
using test::LE16;
using test::LE32;
using test::LE64;
using test::ShellQuote;
using test::TempDir;
using test::Zeros;
using test::Box;
using test::FullBox;
using test::Ftyp;
using test::Moov;
using test::Mp4Track;
using Kind = StatedLength::Kind;

// A source that counts what is read from it.
class CountingSource final : public length::Source {
 public:
  explicit CountingSource(std::string_view bytes) : mem_(bytes) {}
  int64_t Size() const override { return mem_.Size(); }
  int64_t ReadAt(int64_t pos, void* buf, size_t n) const override {
    ++reads;
    bytesRead += n;
    return mem_.ReadAt(pos, buf, n);
  }
  mutable int reads = 0;
  mutable size_t bytesRead = 0;

 private:
  length::MemorySource mem_;
};

double Seconds(StatedLength (*parse)(const length::Source&), const std::string& bytes) {
  const StatedLength s = parse(length::MemorySource(bytes));
  EXPECT_EQ(s.kind, Kind::kSeconds);
  return s.seconds;
}
Kind KindOf(StatedLength (*parse)(const length::Source&), const std::string& bytes) {
  return parse(length::MemorySource(bytes)).kind;
}

std::string Id3v2(uint32_t size) {
  return "ID3" + Bytes({3, 0, 0, int(size >> 21) & 0x7F, int(size >> 14) & 0x7F, int(size >> 7) & 0x7F,
                        int(size) & 0x7F}) +
         Zeros(size);
}

// --- FLAC -------------------------------------------------------------------------

std::string Flac(uint32_t rate, uint64_t samples, int firstType = 0, uint32_t firstSize = 34) {
  const uint64_t bits = (uint64_t{rate} << 44) | (uint64_t{1} << 41) | (uint64_t{15} << 36) | samples;
  std::string streaminfo = BE16(4096) + BE16(4096) + test::BE24(0) + test::BE24(0);
  for (int i = 7; i >= 0; --i) streaminfo += static_cast<char>(bits >> (8 * i));
  streaminfo += Zeros(16);  // MD5
  return "fLaC" + Bytes({0x80 | firstType}) + test::BE24(firstSize) + streaminfo + std::string(100, '\xFF');
}

TEST(StatedLength, FlacCountsAllThirtySixBitsOfSamples) {
  EXPECT_EQ(Seconds(FlacStatedLength, Flac(44100, 44100 * 3)), 3.0);
  // More than 2^32 samples: the reader's field keeps 32 bits, the length all 36.
  const uint64_t many = (uint64_t{1} << 32) + 88200;
  EXPECT_EQ(Seconds(FlacStatedLength, Flac(96000, many)), static_cast<double>(many) / 96000);
  EXPECT_EQ(Seconds(FlacStatedLength, Id3v2(5000) + Flac(8000, 12345)), 12345.0 / 8000);
  // Unknown sample count, no rate, another first block, a cut STREAMINFO.
  EXPECT_EQ(KindOf(FlacStatedLength, Flac(44100, 0)), Kind::kNotStated);
  EXPECT_EQ(KindOf(FlacStatedLength, Flac(0, 1000)), Kind::kNotStated);
  EXPECT_EQ(KindOf(FlacStatedLength, Flac(44100, 1000, 4)), Kind::kNotStated);
  EXPECT_EQ(KindOf(FlacStatedLength, Flac(44100, 1000, 0, 30)), Kind::kNotStated);
  EXPECT_EQ(KindOf(FlacStatedLength, Flac(44100, 1000).substr(0, 40)), Kind::kNotStated);
  EXPECT_EQ(KindOf(FlacStatedLength, "fLaX" + Flac(44100, 1000).substr(4)), Kind::kNotStated);
}

// --- Ogg Vorbis ---------------------------------------------------------------------

std::string OggWithPages(uint32_t rate, const std::vector<std::string>& tail) {
  test::OggFileLayout layout;
  layout.sampleRate = rate;
  layout.lastGranule = 1;  // replaced: the builder's last page is cut off below
  std::string file = test::MakeOggFile(layout);
  file.resize(file.size() - (27 + 2 + 471));
  for (const auto& page : tail) file += page;
  return file;
}
std::string AudioPage(int64_t granule, uint32_t serial = 0x1234, uint32_t seq = 2, size_t body = 400) {
  return test::OggPage(0, granule, serial, seq, test::Lace(body), std::string(body, 'a'));
}

TEST(StatedLength, OggTakesTheLastWholePageOfItsStream) {
  EXPECT_EQ(Seconds(OggVorbisStatedLength, OggWithPages(44100, {AudioPage(1000), AudioPage(441000)})), 10.0);
  // The 32-bit rate (the reader's field keeps 16 bits).
  EXPECT_EQ(Seconds(OggVorbisStatedLength, OggWithPages(192000, {AudioPage(960000)})), 5.0);
  EXPECT_EQ(Seconds(OggVorbisStatedLength, Id3v2(3000) + OggWithPages(8000, {AudioPage(8000)})), 1.0);
  // A last page that ends no packet (-1) gives way to the one before.
  EXPECT_EQ(Seconds(OggVorbisStatedLength, OggWithPages(44100, {AudioPage(88200), AudioPage(-1)})), 2.0);
  // A cut last page, "OggS" inside the data and junk after the last page
  // (an ID3v1 tag) are stepped over.
  const std::string cut = AudioPage(441000).substr(0, 200);
  EXPECT_EQ(Seconds(OggVorbisStatedLength, OggWithPages(44100, {AudioPage(44100), cut})), 1.0);
  std::string fake = AudioPage(441000);
  fake[100] ^= 1;  // its checksum no longer holds
  EXPECT_EQ(Seconds(OggVorbisStatedLength, OggWithPages(44100, {AudioPage(44100), fake})), 1.0);
  EXPECT_EQ(Seconds(OggVorbisStatedLength,
                    OggWithPages(44100, {AudioPage(44100), "TAG" + std::string(125, 'x')})),
            1.0);
  // Far from the end: the search widens to the longest page there can be.
  EXPECT_EQ(Seconds(OggVorbisStatedLength, OggWithPages(44100, {AudioPage(44100, 0x1234, 2, 60000)})), 1.0);
  // A last page a little longer than the first search, its body full of
  // 'O's and false capture patterns, after a page just as full.
  std::string noisy;
  for (int i = 0; i < 2500; ++i) noisy += i % 3 ? "OOgO" : "OggS";
  const auto noisyPage = [&](int64_t granule, uint32_t seq) {
    return test::OggPage(0, granule, 0x1234, seq, test::Lace(noisy.size()), noisy);
  };
  EXPECT_EQ(Seconds(OggVorbisStatedLength, OggWithPages(44100, {noisyPage(44100, 2), noisyPage(88200, 3)})), 2.0);
  EXPECT_EQ(Seconds(OggVorbisStatedLength, OggWithPages(44100, {noisyPage(44100, 2), AudioPage(132300, 0x1234, 3, 3000)})),
            3.0);
}

TEST(StatedLength, OggGranulesThatSayNothingGoToTheProbe) {
  EXPECT_EQ(KindOf(OggVorbisStatedLength, OggWithPages(44100, {AudioPage(0)})), Kind::kNotStated);
  EXPECT_EQ(KindOf(OggVorbisStatedLength, OggWithPages(44100, {AudioPage(-5)})), Kind::kNotStated);
  // A chained stream ends with another serial: its length is not ours to add up.
  EXPECT_EQ(KindOf(OggVorbisStatedLength, OggWithPages(44100, {AudioPage(44100), AudioPage(44100, 0x9999)})),
            Kind::kNotStated);
  // No whole page at all in the tail; not Vorbis; no rate.
  EXPECT_EQ(KindOf(OggVorbisStatedLength, OggWithPages(44100, {}).substr(0, 60)), Kind::kNotStated);
  std::string opus = OggWithPages(44100, {AudioPage(44100)});
  opus.replace(opus.find("\x01vorbis"), 7, "OpusHea");
  EXPECT_EQ(KindOf(OggVorbisStatedLength, opus), Kind::kNotStated);
  EXPECT_EQ(KindOf(OggVorbisStatedLength, OggWithPages(0, {AudioPage(44100)})), Kind::kNotStated);
}

// --- WAV -----------------------------------------------------------------------------

std::string Chunk(std::string_view id, const std::string& body) {
  return std::string(id) + LE32(static_cast<uint32_t>(body.size())) + body + std::string(body.size() % 2, '\0');
}
std::string Fmt(uint16_t tag, uint16_t ch, uint32_t rate, uint16_t bits, uint16_t align = 0, uint32_t byteRate = 0) {
  if (!align) align = static_cast<uint16_t>(ch * ((bits + 7) / 8));
  if (!byteRate) byteRate = rate * align;
  return LE16(tag) + LE16(ch) + LE32(rate) + LE32(byteRate) + LE16(align) + LE16(bits);
}
std::string Riff(const std::string& chunks) { return "RIFF" + LE32(uint32_t(4 + chunks.size())) + "WAVE" + chunks; }

TEST(StatedLength, WavWalksTheChunksToTheData) {
  const std::string data = std::string(176400, '\0');  // 1 s of 16-bit stereo at 44.1 kHz
  EXPECT_EQ(Seconds(WavStatedLength, Riff(Chunk("fmt ", Fmt(1, 2, 44100, 16)) + Chunk("data", data))), 1.0);
  // Chunks before the data, one of odd size with its pad byte, and a large one.
  EXPECT_EQ(Seconds(WavStatedLength, Riff(Chunk("fmt ", Fmt(1, 2, 44100, 16)) + Chunk("LIST", std::string(33, 'l')) +
                                          Chunk("junk", std::string(100000, 'j')) + Chunk("data", data))),
            1.0);
  // Whole frames only: a trailing partial frame does not play.
  EXPECT_EQ(Seconds(WavStatedLength, Riff(Chunk("fmt ", Fmt(1, 1, 8000, 24)) + Chunk("data", std::string(3 * 8000 + 2, 'x')))),
            1.0);
  // Floating point, A-law, and the extensible layout naming PCM.
  EXPECT_EQ(Seconds(WavStatedLength, Riff(Chunk("fmt ", Fmt(3, 1, 48000, 32)) + Chunk("data", std::string(96000, 'f')))),
            0.5);
  EXPECT_EQ(Seconds(WavStatedLength, Riff(Chunk("fmt ", Fmt(6, 1, 8000, 8)) + Chunk("data", std::string(2000, 'a')))),
            0.25);
  const std::string guidTail("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
  const std::string ext = Fmt(0xFFFE, 2, 44100, 16) + LE16(22) + LE16(16) + LE32(3) + LE16(1) + guidTail;
  EXPECT_EQ(Seconds(WavStatedLength, Riff(Chunk("fmt ", ext) + Chunk("data", data))), 1.0);
  EXPECT_EQ(Seconds(WavStatedLength, Id3v2(100) + Riff(Chunk("fmt ", Fmt(1, 2, 44100, 16)) + Chunk("data", data))), 1.0);
}

TEST(StatedLength, WavDataSizesThatLieCountTheBytesPresent) {
  const std::string head = "RIFF" + LE32(0) + "WAVE" + Chunk("fmt ", Fmt(1, 1, 8000, 16));
  const std::string samples(16000, 's');  // 1 s
  for (uint32_t claimed : {0u, 0xFFFFFFFFu, 1000000u})
    EXPECT_EQ(Seconds(WavStatedLength, head + "data" + LE32(claimed) + samples), 1.0) << claimed;
  // A smaller claim is believed (what follows may be other chunks).
  EXPECT_EQ(Seconds(WavStatedLength, head + "data" + LE32(8000) + samples), 0.5);
}

TEST(StatedLength, WavFormatsWithoutFixedSizedSamplesGoToTheProbe) {
  const std::string data = Chunk("data", std::string(4000, 'd'));
  for (const std::string& fmt : {Fmt(2, 1, 8000, 4, 256, 4096),      // Microsoft ADPCM
                                 Fmt(0x55, 2, 44100, 0, 1, 16000),    // MPEG layer III
                                 Fmt(1, 2, 44100, 16, 4, 100000),     // byte rate that does not fit
                                 Fmt(1, 2, 44100, 16, 6),             // block size that does not fit
                                 Fmt(1, 0, 44100, 16, 2), Fmt(3, 1, 44100, 16)})
    EXPECT_EQ(KindOf(WavStatedLength, Riff(Chunk("fmt ", fmt) + data)), Kind::kNotStated);
  EXPECT_EQ(KindOf(WavStatedLength, Riff(data + Chunk("fmt ", Fmt(1, 1, 8000, 16)))), Kind::kNotStated);
  EXPECT_EQ(KindOf(WavStatedLength, Riff(Chunk("fmt ", Fmt(1, 1, 8000, 16)))), Kind::kNotStated);
  EXPECT_EQ(KindOf(WavStatedLength, "RF64" + Riff(Chunk("fmt ", Fmt(1, 1, 8000, 16)) + data).substr(4)),
            Kind::kNotStated);
  EXPECT_EQ(KindOf(WavStatedLength, Riff(Chunk("fmt ", Fmt(1, 1, 8000, 16)) + Chunk("fmt ", Fmt(1, 1, 8000, 16)) + data)),
            Kind::kNotStated);
}

// --- MPEG-4 -------------------------------------------------------------------------

// What ffmpeg writes for 1 s of AAC at 44.1 kHz: 44 frames of 1024 samples
// (the first 1024 are the encoder's priming), and an edit list of 1 s from 1024 on.
Mp4Track AacSecond() {
  Mp4Track t;
  t.mediaDuration = 44 * 1024 + 1024;
  t.stts = {{45, 1024}};
  t.sampleCount = 45;
  t.edits = {{1000, 1024}};
  return t;
}

TEST(StatedLength, Mp4TakesTheAudioTrackAfterItsEditList) {
  EXPECT_EQ(Seconds(Mp4AudioStatedLength, Ftyp() + Moov({AacSecond()}) + Box("mdat", "x")), 1.0);
  // Without an edit list: the media header, cut to the time-to-sample sum.
  Mp4Track plain = AacSecond();
  plain.edits.clear();
  EXPECT_EQ(Seconds(Mp4AudioStatedLength, Ftyp() + Moov({plain})), 45.0 * 1024 / 44100);
  plain.mediaDuration = 1'000'000;
  EXPECT_EQ(Seconds(Mp4AudioStatedLength, Ftyp() + Moov({plain})), 45.0 * 1024 / 44100);
  // An empty edit in front counts toward the length; edits in the movie's
  // scale are rescaled to the track's (600 units of 1/600 s).
  Mp4Track empty = AacSecond();
  empty.edits = {{250, -1}, {500, 1024}};
  EXPECT_EQ(Seconds(Mp4AudioStatedLength, Ftyp() + Moov({empty})), 0.75);
  Mp4Track scaled = AacSecond();
  scaled.edits = {{600, 1024}};
  EXPECT_EQ(Seconds(Mp4AudioStatedLength, Ftyp() + Moov({scaled}, 600)), 1.0);
  // A version-1 media header with a 64-bit duration; a video track in front.
  Mp4Track v1 = plain;
  v1.mdhdVersion = 1;
  v1.mediaDuration = 44100;
  EXPECT_EQ(Seconds(Mp4AudioStatedLength, Ftyp() + Moov({v1})), 1.0);
  Mp4Track video = AacSecond();
  video.handler = "vide";
  video.codec = "avc1";
  video.timeScale = 90000;
  EXPECT_EQ(Seconds(Mp4AudioStatedLength, Ftyp() + Moov({video, AacSecond()})), 1.0);
  // ALAC, MP3 in MP4 and the protected form of .m4p files.
  for (auto [codec, type] : {std::pair{"alac", 0}, std::pair{"mp4a", 0x6B}, std::pair{"drms", 0x40}}) {
    Mp4Track t = AacSecond();
    t.codec = codec;
    t.objectType = type;
    EXPECT_EQ(Seconds(Mp4AudioStatedLength, Ftyp() + Moov({t})), 1.0) << codec;
  }
}

// The moov atom after a large media data atom is found by seeking: the
// media data (and a cover picture in the tags) is never read.
TEST(StatedLength, Mp4SeeksPastMediaDataAndTags) {
  const std::string udta = Box("udta", FullBox("meta", 0, Box("ilst", Box("covr", std::string(300000, 'c')))));
  const std::string file = Ftyp() + Box("free", "") + Box("mdat", std::string(3'000'000, 'm')) +
                           Moov({AacSecond()}, 1000, udta);
  CountingSource source(file);
  const StatedLength s = Mp4AudioStatedLength(source);
  EXPECT_EQ(s.kind, Kind::kSeconds);
  EXPECT_EQ(s.seconds, 1.0);
  EXPECT_LT(source.bytesRead, 64u * 1024);
  // 64-bit atom sizes.
  const std::string big = Ftyp() + BE32(1) + "mdat" + BE32(0) + BE32(16 + 1000) + std::string(1000, 'm') +
                          Moov({AacSecond()});
  EXPECT_EQ(Seconds(Mp4AudioStatedLength, big), 1.0);
}

TEST(StatedLength, Mp4SampleTablesLargerThanTheFileHaveNoLength) {
  // Eighty-nine million fixed-size samples claimed by a file of a few hundred
  // bytes: a demuxer would build an index of gigabytes for it.
  Mp4Track bomb;
  bomb.mediaDuration = 89'000'000ull * 1024 / 16;
  bomb.mdhdVersion = 1;
  bomb.stts = {{89'000'000, 1024}};
  bomb.sampleSize = 200;
  bomb.sampleCount = 89'000'000;
  const std::string file = Ftyp() + Moov({bomb}) + Box("mdat", std::string(8000, 'm'));
  EXPECT_EQ(KindOf(Mp4AudioStatedLength, file), Kind::kNoLength);
}

TEST(StatedLength, Mp4LayoutsThatAreNotSettledGoToTheProbe) {
  auto check = [](const std::string& why, const std::string& file) {
    EXPECT_EQ(KindOf(Mp4AudioStatedLength, file), Kind::kNotStated) << why;
  };
  Mp4Track t = AacSecond();
  check("fragments", Ftyp() + Moov({t}, 1000, Box("mvex", "")));
  t.codec = "samr";
  check("unknown codec", Ftyp() + Moov({t}));
  t = AacSecond();
  t.objectType = 0xDD;
  check("unknown object type", Ftyp() + Moov({t}));
  t = AacSecond();
  t.ctts = true;
  check("composition offsets", Ftyp() + Moov({t}));
  t = AacSecond();
  t.sampleCount = 40;
  check("tables disagree", Ftyp() + Moov({t}));
  t = AacSecond();
  t.handler = "vide";
  check("no audio track", Ftyp() + Moov({t}));
  check("no moov", Ftyp() + Box("mdat", "x"));
  check("cut moov", (Ftyp() + Moov({AacSecond()})).substr(0, 200));
  check("not ISO media", "RIFF" + Zeros(100));
  t = AacSecond();
  t.timeScale = 0;
  check("no time scale", Ftyp() + Moov({t}));
  check("edits without a movie time scale", Ftyp() + Moov({AacSecond()}, 0));
}

// --- Cut and inflated files, every format -------------------------------------------

// Every prefix of a file, and the file with each 32-bit field in turn made a
// huge, a zero or a 64-bit-size claim: the parsers stay in bounds (what they
// ask to read stays near the file's size: no buffer is sized by a claim),
// a cut file never plays longer than the whole one, and any length is finite.
TEST(StatedLength, CutAndInflatedFilesStayInBounds) {
  struct Case {
    const char* name;
    StatedLength (*parse)(const length::Source&);
    std::string bytes;
    double bytesPerSecond = 0;  // counted from the data present: no more than the bytes cut
  };
  Mp4Track aac = AacSecond();
  Mp4Track pcm = AacSecond();
  pcm.sampleSize = 4;  // fixed-size samples, checked against the file
  pcm.sampleCount = 45;
  Mp4Track video = AacSecond();
  video.handler = "vide";
  const Case cases[] = {
      {"flac", FlacStatedLength, Flac(44100, 441000)},
      {"ogg", OggVorbisStatedLength, OggWithPages(44100, {AudioPage(22050), AudioPage(44100, 0x1234, 3)})},
      {"wav", WavStatedLength,
       Riff(Chunk("fmt ", Fmt(1, 1, 8000, 16)) + Chunk("LIST", std::string(21, 'l')) +
            Chunk("data", std::string(1600, 'd'))),
       16000},
      {"m4a", Mp4AudioStatedLength, Ftyp() + Moov({aac}) + Box("mdat", std::string(200, 'm'))},
      {"m4a-fixed", Mp4AudioStatedLength,
       Ftyp() + Box("mdat", std::string(180, 'm')) + Moov({video, pcm}, 1000, Box("udta", "x"))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const StatedLength whole = c.parse(length::MemorySource(c.bytes));
    ASSERT_EQ(whole.kind, Kind::kSeconds);
    const size_t bound = 4 * c.bytes.size() + (256 << 10);
    for (size_t cut = 0; cut < c.bytes.size(); ++cut) {
      CountingSource src(std::string_view(c.bytes).substr(0, cut));
      const StatedLength got = c.parse(src);
      EXPECT_LE(src.bytesRead, bound) << "cut at " << cut;
      if (got.kind == Kind::kSeconds) {
        EXPECT_LE(got.seconds, whole.seconds) << "cut at " << cut;
        if (c.bytesPerSecond > 0) {
          EXPECT_LE(got.seconds, cut / c.bytesPerSecond) << "cut at " << cut;
        }
      }
    }
    for (const std::string& claim : {std::string("\xFF\xFF\xFF\xFF"), std::string(4, '\0'), BE32(1), LE32(1)}) {
      for (size_t at = 0; at + 4 <= c.bytes.size(); ++at) {
        std::string bent = c.bytes;
        bent.replace(at, 4, claim);
        CountingSource src(bent);
        const StatedLength got = c.parse(src);
        EXPECT_LE(src.bytesRead, bound) << "claim at " << at;
        if (got.kind == Kind::kSeconds) {
          EXPECT_TRUE(std::isfinite(got.seconds) && got.seconds >= 0) << "claim at " << at << ": " << got.seconds;
        }
      }
    }
  }
}

// --- Against FFmpeg, on encoded files ------------------------------------------------

// The same tones of several lengths and rates, encoded by every tool the
// test setup installs into every format the parsers read; the names made.
std::vector<std::string> EncodeTones(const TempDir& dir) {
  std::vector<std::string> made;
  const auto run = [&](const std::string& name, const std::string& command) {
    if (test::Encode(command)) made.push_back(name);
    else ADD_FAILURE() << name;
  };
  const auto q = [&](const std::string& name) { return ShellQuote(dir.File(name)); };
  int n = 0;
  for (auto [seconds, rate] : {std::pair{"0.3", 8000}, std::pair{"2.5", 44100}, std::pair{"7.77", 48000},
                               std::pair{"13.001", 22050}}) {
    const std::string base = "t" + std::to_string(n++);
    const std::string wav = base + ".wav";
    run(wav, "sox -n -r " + std::to_string(rate) + " -c 2 -b 16 " + q(wav) + " synth " + seconds + " sine 300 vol 0.5");
    const std::string ff = "ffmpeg -nostdin -v error -y -i " + q(wav) + " ";
    run(base + "-24.wav", "sox " + q(wav) + " -b 24 " + q(base + "-24.wav"));
    run(base + "-ff.wav", ff + "-c:a pcm_f32le -metadata title=Song " + q(base + "-ff.wav"));
    run(base + ".flac", "flac -s -8 -o " + q(base + ".flac") + " " + q(wav));
    run(base + "-sox.flac", "sox " + q(wav) + " " + q(base + "-sox.flac"));
    run(base + "-ff.flac", ff + "-c:a flac " + q(base + "-ff.flac"));
    run(base + ".ogg", "oggenc -Q -q 3 -o " + q(base + ".ogg") + " " + q(wav));
    run(base + "-ff.ogg", ff + "-c:a libvorbis -q:a 1 " + q(base + "-ff.ogg"));
    run(base + ".m4a", ff + "-c:a aac -b:a 64k " + q(base + ".m4a"));
    run(base + "-fast.m4a", ff + "-c:a aac -b:a 96k -movflags +faststart " + q(base + "-fast.m4a"));
    run(base + "-noedit.m4a", ff + "-c:a aac -use_editlist 0 " + q(base + "-noedit.m4a"));
    run(base + "-alac.m4a", ff + "-c:a alac " + q(base + "-alac.m4a"));
  }
  return made;
}

// Debian's ffprobe, a separate build of FFmpeg, as the oracle: the first
// audio stream's duration in its time base, divided as the probe divides.
std::optional<double> FfprobeSeconds(const std::string& file) {
  std::string out;
  if (test::Run("ffprobe -v error -select_streams a:0 -show_entries stream=duration_ts,time_base -of "
                "default=noprint_wrappers=1 " + ShellQuote(file),
                &out) != 0)
    return std::nullopt;
  long long ticks = -1, num = 0, den = 0;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("duration_ts=", 0) == 0) ticks = std::atoll(line.c_str() + 12);
    if (line.rfind("time_base=", 0) == 0 && std::sscanf(line.c_str() + 10, "%lld/%lld", &num, &den) != 2) return {};
  }
  if (ticks <= 0 || num <= 0 || den <= 0) return std::nullopt;
  return static_cast<double>(ticks * num) / static_cast<double>(den);
}

// Ours against Debian's ffprobe (a separate build of FFmpeg) and against
// the probe of this build, in its helper.
TEST(StatedLength, EqualsFFmpegOnEncodedFiles) {
  for (const char* tool : {"sox", "flac", "oggenc", "ffmpeg", "ffprobe"}) ORDANA_REQUIRE_TOOL(tool);
  TempDir dir;
  const std::vector<std::string> made = EncodeTones(dir);
  EXPECT_EQ(made.size(), 4u * 12);
  for (const std::string& name : made) {
    SCOPED_TRACE(name);
    const StatedLength ours = StatedAudioLength(dir.File16(name));
    ASSERT_EQ(ours.kind, Kind::kSeconds);
    const auto oracle = FfprobeSeconds(dir.File(name));
    ASSERT_TRUE(oracle);
    EXPECT_EQ(ours.seconds, *oracle);
    EXPECT_EQ(AudioSecondsToMs(ours.seconds), AudioSecondsToMs(*oracle));
#if ORDANA_HAVE_FFMPEG
    const auto helper = ProbeAudioLength(dir.File16(name));
    ASSERT_TRUE(helper);
    EXPECT_EQ(ours.seconds, helper->Seconds);
#endif
  }
}

// GetTrackLength uses the parsers by extension, in any letter case, and keeps
// the video path for video extensions.
TEST(StatedLength, GetTrackLengthAsksTheParsersFirst) {
  TempDir dir;
  const uint64_t many = (uint64_t{1} << 32) + 44100;  // beyond a 32-bit sample count
  test::WriteBytes(dir.File("long.FLAC"), Flac(44100, many));
  EXPECT_EQ(GetTrackLength(dir.File16("long.FLAC")), static_cast<uint32_t>(AudioSecondsToMs(many / 44100.0)));
  test::WriteBytes(dir.File("a.m4b"), Ftyp() + Moov({AacSecond()}) + Box("mdat", "x"));
  EXPECT_EQ(GetTrackLength(dir.File16("a.m4b")), 1000u);
  test::WriteBytes(dir.File("z.ogg"), OggWithPages(44100, {AudioPage(22050)}));
  EXPECT_EQ(GetTrackLength(dir.File16("z.ogg")), 500u);
  Mp4Track bomb = AacSecond();
  bomb.sampleSize = 1000;
  bomb.sampleCount = 45;
  test::WriteBytes(dir.File("bomb.m4a"), Ftyp() + Moov({bomb}));
  EXPECT_EQ(GetTrackLength(dir.File16("bomb.m4a")), 0u);
  // Addresses are never opened.
  EXPECT_EQ(StatedAudioLength(u"http://radio.example/a.flac").kind, Kind::kNotStated);
}

}  // namespace
}  // namespace ordana
