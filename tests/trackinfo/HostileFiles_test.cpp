// Files made to hurt the length probe, on every system: an index bomb, a
// 4 GiB sparse file and noise under audio names give no length, quickly,
// without failing the helper; encoded files cut short are never longer than
// the whole. (The POSIX tests also measure CPU time, peak memory and what
// the helper holds open.)
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/HelperProcess.h"
#include "platform/MediaProbe.h"
#include "support/MediaFixtures.h"
#include "support/Mp4Builder.h"
#include "support/TestFiles.h"
#include "trackinfo/TrackLength.h"

namespace ordana {
namespace {

#if ORDANA_HAVE_FFMPEG

using test::ShellQuote;
using test::TempDir;

TEST(HostileFiles, GiveNoLengthQuickly) {
  TempDir dir;
  std::vector<std::string> names;
  // 89 million samples of 200 bytes claimed by an 8 KB file. Under an audio
  // name our own parser reads it; under a video name it goes to FFmpeg,
  // whose index for it only the helper's memory limit stops.
  const std::string bombFile = test::IndexBombMp4();
  test::WriteBytes(dir.File("bomb.m4a"), bombFile);
  names.push_back("bomb.m4a");
  if (HelperMemoryLimitEnforced()) {
    test::WriteBytes(dir.File("bomb.mp4"), bombFile);
    names.push_back("bomb.mp4");
  }
  // 4 GiB of nothing, under every name.
  for (const char* ext : {"mp3", "m4a", "flac", "ogg", "wav", "wma", "mp4", "mkv"}) {
    const std::string n = std::string("sparse.") + ext;
    test::WriteBytes(dir.File(n), "");
    std::filesystem::resize_file(dir.path() / n, uintmax_t{4} << 30);
    names.push_back(n);
  }
  // 40 MB of noise from a fixed seed.
  {
    std::ofstream out(dir.File("noise.mp3"), std::ios::binary);
    std::vector<uint64_t> block(1 << 17);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 40; ++i) {
      for (auto& v : block) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        v = x;
      }
      out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
    }
  }
  names.push_back("noise.mp3");

  MediaProbeSession session;
  for (const std::string& n : names) {
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(GetTrackLength(dir.File16(n)), 0u) << n;
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5)) << n;
  }
  EXPECT_EQ(GetMediaProbeStats().filesFailed, 0) << "the helper crashed or overran";
  EXPECT_EQ(GetMediaProbeStats().helperStarts, 1);
}

// Encoded files cut short, through the real helper: never longer than the
// whole file, never a failure of the helper, within the same bounds.
TEST(HostileFiles, CutFilesThroughTheHelper) {
  ORDANA_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string ff = "ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:duration=6 ";
  const std::pair<const char*, const char*> kinds[] = {
      {"cbr.mp3", "-c:a libmp3lame -b:a 64k -write_xing 0"}, {"vbr.mp3", "-c:a libmp3lame -q:a 4"},
      {"a.wma", "-c:a wmav2 -b:a 64k"},                      {"late.m4a", "-c:a aac -b:a 64k"},
      {"a.mp4", "-c:a aac -b:a 64k -movflags +faststart"},    {"a.ogg", "-c:a libvorbis"},
      {"a.flac", "-c:a flac"},                               {"a.wav", "-c:a pcm_s16le"}};
  MediaProbeSession session;
  for (const auto& [name, codec] : kinds) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(test::Encode(ff + codec + " " + ShellQuote(dir.File(name))));
    const uint32_t whole = GetTrackLength(dir.File16(name));
    EXPECT_GE(whole, 5900u);
    EXPECT_LE(whole, 6100u);
    const std::string bytes = test::ReadBytes(dir.File(name));
    for (size_t cut : {size_t{16}, size_t{200}, bytes.size() / 4, bytes.size() / 2, bytes.size() - 1}) {
      const std::string cutName = std::to_string(cut) + "-" + name;
      test::WriteBytes(dir.File(cutName), bytes.substr(0, cut));
      EXPECT_LE(GetTrackLength(dir.File16(cutName)), whole) << "cut at " << cut;
    }
  }
  EXPECT_EQ(GetMediaProbeStats().filesFailed, 0);
  EXPECT_EQ(GetMediaProbeStats().helperStarts, 1);
}

#endif  // ORDANA_HAVE_FFMPEG

}  // namespace
}  // namespace ordana
