// ReadTrackInfo on a few thousand generated MP3-like files, against a
// baseline that only opens each file and reads its first 10 and last 128
// bytes. Files are generated at start in a temporary folder and removed at
// the end. Both benchmarks process one file per iteration, cycling through
// the set, so the reported time is per file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "support/BenchFolder.h"
#include "trackinfo/ReadTrackInfo.h"

namespace {

using namespace ordana;

std::string BE32(uint32_t v) {
  return {char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF)};
}
std::string SyncSafe(uint32_t v) {
  return {char((v >> 21) & 0x7F), char((v >> 14) & 0x7F), char((v >> 7) & 0x7F), char(v & 0x7F)};
}
std::string Frame(const std::string& id, const std::string& data) {
  return id + BE32(uint32_t(data.size())) + std::string(2, '\0') + data;
}
std::string Text(const std::string& s) { return std::string(1, '\0') + s; }

struct FileSet : bench::BenchFolder {
  FileSet() : BenchFolder("ordana-bench") {
    std::mt19937 rng(42);
    const std::string picture(200 * 1024, '\x89');
    for (int i = 0; i < 3000; ++i) {
      std::string frames = Frame("TIT2", Text("Title number " + std::to_string(i))) +
                           Frame("TPE1", Text("Some Artist")) + Frame("TALB", Text("An Album")) +
                           Frame("TRCK", Text(std::to_string(i % 20 + 1) + "/20")) +
                           Frame("TCON", Text("(17)Rock")) +
                           Frame("COMM", std::string("\0eng\0A comment", 14));
      if (i % 5 == 0) {
        std::string apic = Frame("APIC", std::string("\0image/jpeg\0\x03\0", 14) + picture);
        frames = i % 10 == 0 ? apic + frames : frames + apic;  // picture first or last
      }
      std::string bytes;
      if (i % 10 != 7)  // every tenth file has only an ID3v1 tag
        bytes = "ID3" + std::string("\x03\0\0", 3) + SyncSafe(uint32_t(frames.size() + 1024)) +
                frames + std::string(1024, '\0');
      for (int k = 0; k < 40; ++k) bytes += std::string("\xFF\xFB\x90\x64", 4) + std::string(413, char(rng()));
      if (i % 3 == 0 || i % 10 == 7) {
        std::string v1 = "TAG" + std::string("Old title") + std::string(21, '\0');
        v1.resize(128, '\0');
        bytes += v1;
      }
      const auto p = dir / ("track" + std::to_string(i) + ".mp3");
      std::ofstream(p, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
      files.push_back(Utf8ToUtf16(p.string()));
    }
  }
};

FileSet& Files() {
  static FileSet set;
  return set;
}

void BM_Baseline_OpenHeadTail(benchmark::State& state) {
  const auto& files = Files().files;
  size_t i = 0;
  char head[10], tail[128];
  for (auto _ : state) {
    InputFile f = InputFile::Open(files[i++ % files.size()]);
    const int64_t size = f.Size();
    benchmark::DoNotOptimize(f.ReadAt(0, head, sizeof head));
    benchmark::DoNotOptimize(f.ReadAt(size - 128, tail, sizeof tail));
  }
}
BENCHMARK(BM_Baseline_OpenHeadTail)->Unit(benchmark::kMicrosecond);

void BM_ReadTrackInfo(benchmark::State& state) {
  const auto& files = Files().files;
  size_t i = 0;
  TPlaylistEntry e;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ReadTrackInfo(files[i++ % files.size()], e, nullptr, 0));
  }
  if (e.title.empty()) state.SkipWithError("no title read");
}
BENCHMARK(BM_ReadTrackInfo)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
