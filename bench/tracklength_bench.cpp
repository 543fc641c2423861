// GetTrackLength over a few hundred generated files of mixed formats (3-4
// minutes each, some MP3s with a 200 KB cover picture), against a baseline
// in the same run that only opens each file and reads its first and last
// 4 KiB. The files are encoded once at start with ffmpeg (8 kHz mono, low
// bit rates, so encoding is quick) into a temporary folder, then copied so
// that every probe reads a distinct file. One file per iteration.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "support/BenchFolder.h"
#include "trackinfo/TrackLength.h"

namespace {

using namespace ordana;

struct FileSet : bench::BenchFolder {
  FileSet() : BenchFolder("ordana-lenbench") {
    const std::string d = dir.string();
    const std::string ff = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=8000:duration=";
    struct Kind {
      const char* ext;
      const char* codec;
    };
    const Kind kinds[] = {{"mp3", "-c:a libmp3lame -b:a 16k"},
                          {"flac", "-c:a flac"},
                          {"ogg", "-c:a libvorbis -q:a 0"},
                          {"wav", "-c:a pcm_u8"},
                          {"m4a", "-c:a aac -b:a 16k -movflags +faststart"},
                          {"wma", "-c:a wmav2 -b:a 24k"}};
    std::vector<std::string> originals;
    for (const Kind& k : kinds) {
      for (int len : {180, 240}) {
        std::string out = d + "/orig" + std::to_string(len) + "." + k.ext;
        std::string cmd = ff + std::to_string(len) + " -ac 1 " + k.codec + " " + out;
        if (std::system(cmd.c_str()) != 0) continue;
        originals.push_back(out);
      }
    }
    // MP3s with a 200 KB picture in their ID3v2 tag.
    std::string cover = d + "/cover.png";
    std::string withCover = d + "/cover180.mp3";
    if (std::system(("ffmpeg -v error -y -f lavfi -i testsrc=size=640x480 -frames:v 1 -c:v png " +
                     cover + " && ffmpeg -v error -y -f lavfi -i sine=sample_rate=8000:duration=200 " +
                     "-i " + cover + " -map 0 -map 1 -c:a libmp3lame -b:a 16k -c:v copy " +
                     "-id3v2_version 3 -metadata:s:v comment=\"Cover (front)\" " + withCover)
                        .c_str()) == 0)
      originals.push_back(withCover);
    // A few hundred distinct files: copies of the originals.
    for (int copy = 0; copy < 25; ++copy) {
      for (const std::string& o : originals) {
        std::filesystem::path src(o);
        std::filesystem::path dst = dir / (std::to_string(copy) + "-" + src.filename().string());
        std::filesystem::copy_file(src, dst, std::filesystem::copy_options::overwrite_existing);
        files.push_back(Utf8ToUtf16(dst.string()));
      }
    }
    for (const std::u16string& f : files) GetTrackLength(f);  // warm the page cache
  }
};

FileSet& Files() {
  static FileSet set;
  return set;
}

void BM_Baseline_OpenReadHeadAndTail(benchmark::State& state) {
  auto& set = Files();
  size_t i = 0;
  char buf[4096];
  for (auto _ : state) {
    InputFile f = InputFile::Open(set.files[i++ % set.files.size()]);
    int64_t size = f.Size();
    f.ReadAt(0, buf, sizeof buf);
    f.ReadAt(size > 4096 ? size - 4096 : 0, buf, sizeof buf);
    benchmark::DoNotOptimize(buf[0]);
  }
  state.counters["files"] = static_cast<double>(set.files.size());
}
BENCHMARK(BM_Baseline_OpenReadHeadAndTail);

void BM_GetTrackLength(benchmark::State& state) {
  auto& set = Files();
  size_t i = 0;
  uint64_t total = 0;
  for (auto _ : state) total += GetTrackLength(set.files[i++ % set.files.size()]);
  benchmark::DoNotOptimize(total);
  state.counters["files"] = static_cast<double>(set.files.size());
}
BENCHMARK(BM_GetTrackLength);

}  // namespace

BENCHMARK_MAIN();
