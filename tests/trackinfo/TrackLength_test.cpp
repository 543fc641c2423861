#include "trackinfo/TrackLength.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "platform/FileIO.h"
#include "platform/MediaProbe.h"
#include "platform/TextCodec.h"
#include "support/Checks.h"
#include "support/MediaFixtures.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::Encode;
using test::ShellQuote;
using test::TempDir;

TEST(TrackLength, VideoExtensionsKeepTheirOrder) {
  EXPECT_EQ(VideoExtensions().size(), 11u);
  EXPECT_EQ(VideoExtensionsText(),
            u"3gp\r\navi\r\ndivx\r\nflv\r\nmkv\r\nmov\r\nmpeg\r\nmpg\r\nvob\r\nwmv\r\nmp4\r\n");
}

TEST(TrackLength, VideoFilesAreKnownByExtensionFragments) {
  EXPECT_TRUE(test::Sorts(IsVideoFile,
                          {u"N:\\Clips\\intro.MP4", u"a.Mpeg", u"b.divx", u"c.3gp", u"d.mp", u"e.v",
                           u"/srv/clips/f.mkv", u"g.vob"},
                          {u"a.mp3", u"b.m4a", u"c.wma", u"d.flac", u"noext", u"e.", u"N:\\Clips.mp4\\intro",
                           u"C:x", u"clips.mp4/intro", u"h.mp4 30"}));
}

TEST(TrackLength, StreamAddressesTakeTheMinutesAfterThem) {
  EXPECT_TRUE(test::Sorts(IsStreamUrl, {u"HTTP://radio.example/live", u"ftp://x/y", u"Mms://x/y"},
                          {u"rtsp://x/y 30", u" http://x/y 30"}));

  EXPECT_EQ(StreamUrlMinutes(u"http://radio.example/live 30"), 1'800'000);
  EXPECT_EQ(StreamUrlMinutes(u"http://radio.example/live"), 0);
  EXPECT_EQ(StreamUrlMinutes(u"http://radio.example/live thirty"), 0);
  EXPECT_EQ(StreamUrlMinutes(u"http://radio.example/live 30 min"), 0);
  EXPECT_EQ(StreamUrlMinutes(u"http://radio.example/live \t 45\r\n"), 2'700'000);
  EXPECT_EQ(StreamUrlMinutes(u"http://radio.example/live -2"), -120'000);
  // 35792 x 60000 lies past 2^31 - 1: the 32-bit product wraps around.
  EXPECT_EQ(StreamUrlMinutes(u"http://radio.example/live 35792"), 2'147'520'000 - 4'294'967'296LL);
  EXPECT_EQ(StreamUrlMinutes(u"http://radio.example/live 99999999999"), 0);  // not a 32-bit integer

  EXPECT_EQ(GetTrackLength(u"http://radio.example/live 30"), 1'800'000u);
  EXPECT_EQ(GetTrackLength(u"mms://radio.example/live 1"), 60'000u);
  EXPECT_EQ(GetTrackLength(u"http://radio.example/live"), 0u);
  EXPECT_EQ(GetTrackLength(u"http://radio.example/live news"), 0u);
  EXPECT_EQ(GetTrackLength(u"rtsp://radio.example/live 30"), 0u);
  // A stream address with a video extension goes the video way, where no
  // minutes are taken.
  EXPECT_EQ(GetTrackLength(u"http://radio.example/clip.mp4"), 0u);
}

TEST(TrackLength, AudioSecondsAreNarrowedToFloatBeforeScaling) {
  // 0.3 as a double lies just below 0.3; as a float just above.
  EXPECT_EQ(AudioSecondsToMs(0.3), 300);
  EXPECT_EQ(ExactSecondsToMs(0.3), 299);  // what the double alone would give
  EXPECT_EQ(AudioSecondsToMs(2.5), 2500);
  // The float nearest 215.999 is 215.99899...: the narrowing costs a millisecond.
  EXPECT_EQ(AudioSecondsToMs(215.999), 215998);
  EXPECT_EQ(AudioSecondsToMs(0.0004), 0);
  EXPECT_EQ(AudioSecondsToMs(-1.5), 0);
  EXPECT_EQ(AudioSecondsToMs(std::nan("")), 0);
  EXPECT_EQ(AudioSecondsToMs(INFINITY), 0);
  EXPECT_EQ(AudioSecondsToMs(1e300), 0);
  EXPECT_EQ(AudioSecondsToMs(1e30), 0);  // a float, but beyond 64 bits of milliseconds
  // Past 2^32 ms the value stays whole here; GetTrackLength keeps the low bits.
  EXPECT_EQ(AudioSecondsToMs(5'000'000.0), 5'000'000'000LL);
}

TEST(TrackLength, StreamSecondsAreTruncatedExactly) {
  EXPECT_EQ(ExactSecondsToMs(12.5), 12500);
  // The rounded double products of these are whole numbers (300, 4350,
  // 2300); the exact products lie just below them.
  EXPECT_EQ(0.3 * 1000.0, 300.0);
  EXPECT_EQ(ExactSecondsToMs(0.3), 299);
  EXPECT_EQ(4.35 * 1000.0, 4350.0);
  EXPECT_EQ(ExactSecondsToMs(4.35), 4349);
  EXPECT_EQ(2.3 * 1000.0, 2300.0);
  EXPECT_EQ(ExactSecondsToMs(2.3), 2299);
  EXPECT_EQ(ExactSecondsToMs(1.1), 1100);  // just above: no change
  // Exact the other way: 0.5 and 2^-10 scale without remainder.
  EXPECT_EQ(ExactSecondsToMs(0.5), 500);
  EXPECT_EQ(ExactSecondsToMs(std::ldexp(1.0, -10) * 1024 * 7), 7000);
  EXPECT_EQ(ExactSecondsToMs(-12.5), -12500);
  EXPECT_EQ(ExactSecondsToMs(1e-300), 0);
  EXPECT_EQ(ExactSecondsToMs(0x1p53), (int64_t{1} << 53) * 1000);
  EXPECT_EQ(ExactSecondsToMs(1e16), 0);  // 1e19 ms does not fit in 64 bits
  EXPECT_EQ(ExactSecondsToMs(std::nan("")), 0);
  EXPECT_EQ(ExactSecondsToMs(-INFINITY), 0);
  EXPECT_EQ(HundredNsToMs(123'456'789), 12345);
  EXPECT_EQ(HundredNsToMs(9'999), 0);
}

TEST(TrackLength, MissingFilesGiveZero) {
  TempDir dir;
  EXPECT_EQ(GetTrackLength(dir.File16("missing.mp3")), 0u);
  EXPECT_EQ(GetTrackLength(dir.File16("missing.mp4")), 0u);
  EXPECT_EQ(GetTrackLength(dir.File16("missing")), 0u);
  EXPECT_EQ(MediaDetLength(dir.File16("missing.avi")), 0);
  EXPECT_EQ(GetTrackLength(u""), 0u);
}

#if ORDANA_HAVE_FFMPEG

// A 2.5 s tone at 44.1 kHz encoded into each audio format, and what each
// format's header states about it.
TEST(TrackLength, AudioFilesOfKnownLength) {
  for (const char* tool : {"sox", "lame", "flac", "oggenc", "ffmpeg"}) ORDANA_REQUIRE_TOOL(tool);
  TempDir dir;
  const std::string wav = test::SineWav(dir, "tone.wav", "2.5");
  ASSERT_TRUE(test::EncodeWav(dir, wav, {{"tone.flac"}, {"tone.ogg", "-q 0"}, {"cbr.mp3", "-b 64"}, {"vbr.mp3", "-V 9"},
                                         {"tone.m4a", "-b:a 24k"}, {"tone.wma", "-b:a 24k"}}));

  EXPECT_EQ(GetTrackLength(dir.File16("tone.wav")), 2500u);
  EXPECT_EQ(GetTrackLength(dir.File16("tone.flac")), 2500u);
  EXPECT_EQ(GetTrackLength(dir.File16("tone.ogg")), 2500u);  // the last page's granule position
  EXPECT_EQ(GetTrackLength(dir.File16("tone.m4a")), 2500u);  // the edit list drops the priming samples
  // The ASF header's play time counts whole 2048-sample frames.
  EXPECT_GE(GetTrackLength(dir.File16("tone.wma")), 2500u);
  EXPECT_LE(GetTrackLength(dir.File16("tone.wma")), 2550u);
  // MP3: what the Xing/Info frame states (frames x samples per frame / rate).
  for (const char* name : {"cbr.mp3", "vbr.mp3"}) {
    auto xing = test::ReadXingHeader(test::ReadBytes(dir.File(name)));
    ASSERT_TRUE(xing) << name;
    EXPECT_EQ(GetTrackLength(dir.File16(name)), static_cast<uint32_t>(AudioSecondsToMs(xing->Seconds()))) << name;
    EXPECT_GE(xing->Seconds(), 2.5) << name;
    EXPECT_LT(xing->Seconds(), 2.6) << name;
  }
  // Upper-case extensions name the same demuxers.
  std::filesystem::rename(dir.File("tone.flac"), dir.File("TONE.FLAC"));
  EXPECT_EQ(GetTrackLength(dir.File16("TONE.FLAC")), 2500u);
}

// 0.3 s decodes to 0.29999999999999998890 s; narrowed to a float first, it
// gives 300 ms, not 299.
TEST(TrackLength, ThreeTenthsOfASecondGive300) {
  ORDANA_REQUIRE_TOOL("sox");
  TempDir dir;
  test::SineWav(dir, "short.wav", "0.3", 8000);
  EXPECT_EQ(GetTrackLength(dir.File16("short.wav")), 300u);
}

TEST(TrackLength, VideoFilesAreMeasuredByStreamThenContainer) {
  ORDANA_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string ff = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=duration=2:size=64x48:rate=25 ";
  ASSERT_TRUE(Encode(ff + "-c:v mpeg4 " + ShellQuote(dir.File("clip.mp4"))));
  ASSERT_TRUE(Encode(ff + "-c:v mpeg4 " + ShellQuote(dir.File("clip.mkv"))));
  ASSERT_TRUE(Encode(ff + "-c:v mpeg4 " + ShellQuote(dir.File("clip.avi"))));
  ASSERT_TRUE(Encode("ffmpeg -nostdin -v error -y -f lavfi -i sine=duration=2.5 -c:a aac " +
                     ShellQuote(dir.File("song.mp4"))));

  EXPECT_EQ(MediaDetLength(dir.File16("clip.mp4")), 2000);
  EXPECT_EQ(GetTrackLength(dir.File16("clip.mp4")), 2000u);
  EXPECT_EQ(GetTrackLength(dir.File16("clip.avi")), 2000u);
  // Matroska gives its streams no length of their own; the container's
  // duration stands in.
  EXPECT_EQ(MediaDetLength(dir.File16("clip.mkv")), 0);
  EXPECT_EQ(GetTrackLength(dir.File16("clip.mkv")), 2000u);
  // An audio-only file with a video extension is measured the video way too.
  EXPECT_EQ(MediaDetLength(dir.File16("song.mp4")), 2500);
  EXPECT_EQ(GetTrackLength(dir.File16("song.mp4")), 2500u);

  // A video under an audio extension goes the audio way, finds no audio
  // stream and gives 0: there is no video fallback for audio extensions.
  std::filesystem::copy_file(dir.File("clip.mp4"), dir.File("clip.m4a"));
  EXPECT_EQ(GetTrackLength(dir.File16("clip.m4a")), 0u);
  std::filesystem::copy_file(dir.File("clip.mp4"), dir.File("CLIP.MP4"));
  EXPECT_EQ(GetTrackLength(dir.File16("CLIP.MP4")), 2000u);
}

TEST(TrackLength, DamagedFilesGiveZero) {
  for (const char* tool : {"sox", "flac", "oggenc", "lame", "ffmpeg"}) ORDANA_REQUIRE_TOOL(tool);
  TempDir dir;
  const std::string wav = test::SineWav(dir, "tone.wav", "1", 8000);
  ASSERT_TRUE(test::EncodeWav(dir, wav, {{"tone.flac"}, {"tone.ogg"}, {"tone.mp3"}, {"tone.m4a"}, {"tone.wma"}}));
  ASSERT_TRUE(Encode("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=duration=1:size=64x48 -c:v mpeg4 " +
                     ShellQuote(dir.File("clip.mp4"))));

  // Random bytes (a fixed sequence), the bare start of each file, empty
  // files: never a length, never a crash.
  std::string noise(100'000, '\0');
  uint32_t x = 12345;
  for (auto& c : noise) c = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  for (const char* ext : {"mp3", "flac", "ogg", "wav", "m4a", "wma", "mp4", "mkv", "avi", "bin"}) {
    const std::string name = std::string("noise.") + ext;
    test::WriteBytes(dir.File(name), noise);
    EXPECT_EQ(GetTrackLength(dir.File16(name)), 0u) << name;
    test::WriteBytes(dir.File("empty." + std::string(ext)), "");
    EXPECT_EQ(GetTrackLength(dir.File16("empty." + std::string(ext))), 0u) << ext;
  }
  for (const char* name : {"tone.wav", "tone.flac", "tone.ogg", "tone.mp3", "tone.m4a", "tone.wma", "clip.mp4"}) {
    const std::string whole = test::ReadBytes(dir.File(name));
    for (size_t keep : {size_t{4}, size_t{11}, size_t{40}}) {
      const std::string cut = "cut" + std::to_string(keep) + "_" + name;
      test::WriteBytes(dir.File(cut), whole.substr(0, keep));
      EXPECT_EQ(GetTrackLength(dir.File16(cut)), 0u) << cut;
    }
    // Cut short after the header, the file still plays for a while: no crash.
    const std::string half = std::string("half_") + name;
    test::WriteBytes(dir.File(half), whole.substr(0, whole.size() / 2));
    EXPECT_LE(GetTrackLength(dir.File16(half)), 1100u) << half;
  }
  // A folder with an audio name is no file.
  std::filesystem::create_directory(dir.path() / "folder.mp3");
  EXPECT_EQ(GetTrackLength(dir.File16("folder.mp3")), 0u);
}

#else  // built without FFmpeg

TEST(TrackLength, WithoutTheMediaProbeEveryFileGivesZero) {
  ORDANA_REQUIRE_TOOL("sox");
  TempDir dir;
  test::SineWav(dir, "tone.wav", "1");
  EXPECT_FALSE(MediaProbeAvailable());
  EXPECT_EQ(GetTrackLength(dir.File16("tone.wav")), 0u);
  EXPECT_EQ(GetTrackLength(u"http://radio.example/live 3"), 180'000u);
}

#endif

}  // namespace
}  // namespace ordana
