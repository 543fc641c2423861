// GetTrackLength per format on generated files (3-4 minutes each, 8 kHz mono
// at low bit rates so that encoding is quick; MP3s with and without a 200 KB
// cover), side by side with the way lengths were measured before: FFmpeg
// for every file in this process (BM_Before_*). BM_Helper_Mp3 against
// BM_InProcess_Mp3 is the helper process's cost per file: the same FFmpeg
// probe of the same MP3s, once over the helper's channel and once here.
// One file per iteration, files copied so that each probe reads a distinct
// file; the page cache is warm. The larger 2,000-file library is measured by
// library_bench (scripts/bench).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/FileIO.h"
#include "platform/MediaProbe.h"
#include "platform/TextCodec.h"
#include "support/BenchFolder.h"
#include "trackinfo/TrackLength.h"
#include "support/InProcessProbe.h"

namespace {

using namespace ordana;

const char* const kKinds[] = {"mp3", "mp3-cover", "flac", "ogg", "wav", "m4a", "wma"};

struct FileSet : bench::BenchFolder {
  std::map<std::string, std::vector<std::u16string>> byKind;

  FileSet() : BenchFolder("ordana-lenbench") {
    const std::string d = dir.string();
    const std::string ff = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=8000:duration=";
    const std::map<std::string, std::string> codecs = {
        {"mp3", "-c:a libmp3lame -b:a 16k"},       {"flac", "-c:a flac"},
        {"ogg", "-c:a libvorbis -q:a 0"},          {"wav", "-c:a pcm_s16le"},
        {"m4a", "-c:a aac -b:a 16k"},              {"wma", "-c:a wmav2 -b:a 24k"}};
    std::map<std::string, std::vector<std::string>> originals;
    for (const auto& [ext, codec] : codecs) {
      for (int len : {180, 240}) {
        const std::string out = d + "/orig" + std::to_string(len) + "." + ext;
        if (std::system((ff + std::to_string(len) + " -ac 1 " + codec + " " + out).c_str()) == 0)
          originals[ext].push_back(out);
      }
    }
    const std::string cover = d + "/cover.png", withCover = d + "/cover.mp3";
    if (std::system(("ffmpeg -v error -y -f lavfi -i testsrc=size=640x480 -frames:v 1 -c:v png " + cover +
                     " && ffmpeg -v error -y -f lavfi -i sine=sample_rate=8000:duration=200 -i " + cover +
                     " -map 0 -map 1 -c:a libmp3lame -b:a 16k -c:v copy -id3v2_version 3 " + withCover)
                        .c_str()) == 0)
      originals["mp3-cover"].push_back(withCover);
    for (int copy = 0; copy < 50; ++copy) {
      for (const auto& [kind, list] : originals) {
        for (const std::string& o : list) {
          const std::filesystem::path src(o);
          const auto dst = dir / (std::to_string(copy) + "-" + kind + "-" + src.filename().string());
          std::filesystem::copy_file(src, dst, std::filesystem::copy_options::overwrite_existing);
          byKind[kind].push_back(Utf8ToUtf16(Utf8View(dst.string())));
        }
      }
    }
    for (const auto& [kind, list] : byKind)
      for (const auto& f : list) GetTrackLength(f);  // warm the page cache and start the helper
  }
};

FileSet& Files() {
  static FileSet set;
  return set;
}

template <typename Measure>
void PerFile(benchmark::State& state, Measure measure) {
  const auto& list = Files().byKind[kKinds[state.range(0)]];
  if (list.empty()) return state.SkipWithError("no files of this kind");
  state.SetLabel(kKinds[state.range(0)]);
  size_t i = 0;
  uint64_t total = 0;
  for (auto _ : state) total += measure(list[i++ % list.size()]);
  benchmark::DoNotOptimize(total);
}

void BM_After(benchmark::State& state) { PerFile(state, [](const std::u16string& p) { return GetTrackLength(p); }); }
BENCHMARK(BM_After)->DenseRange(0, 6);

#if ORDANA_BENCH_HAVE_INPROCESS_FFMPEG

// FFmpeg's probe in this process, as every audio file was measured before.
uint32_t InProcess(const std::u16string& p) { return bench::InProcessTrackLength(p); }

void BM_Before(benchmark::State& state) { PerFile(state, InProcess); }
BENCHMARK(BM_Before)->DenseRange(0, 6);

// The helper's round trip: the same probe of the same MP3s, over the channel.
void BM_Helper_Mp3(benchmark::State& state) {
  PerFile(state, [](const std::u16string& p) {
    const auto a = ProbeAudioLength(p);
    return a ? static_cast<uint32_t>(AudioSecondsToMs(a->Seconds)) : 0u;
  });
}
void BM_InProcess_Mp3(benchmark::State& state) { PerFile(state, InProcess); }
BENCHMARK(BM_InProcess_Mp3)->Arg(0);
BENCHMARK(BM_Helper_Mp3)->Arg(0);
BENCHMARK(BM_InProcess_Mp3)->Arg(0);
BENCHMARK(BM_Helper_Mp3)->Arg(0);

#endif

}  // namespace

BENCHMARK_MAIN();
