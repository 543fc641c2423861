// ID3v2 saves on a 10 MB file: a tag that fits the old tag's padding
// (written in place) against one that forces a rewrite of the whole file
// (temporary file, fsync, rename).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/TextCodec.h"
#include "tags/ID3v2.h"

namespace {

using namespace ordana;

struct BigFile {
  std::filesystem::path dir;
  std::u16string path;
  BigFile() {
    char tmpl[] = "/tmp/ordana-id3save-XXXXXX";
    if (!::mkdtemp(tmpl)) std::abort();
    dir = tmpl;
    const auto p = dir / "big.mp3";
    // A tag with 4000 bytes of padding, then 10 MB of "audio".
    std::string tag = "ID3" + std::string("\x03\0\0", 3);
    const uint32_t body = 4000;
    tag += {char((body >> 21) & 0x7F), char((body >> 14) & 0x7F), char((body >> 7) & 0x7F), char(body & 0x7F)};
    tag += std::string(body, '\0');
    std::ofstream out(p, std::ios::binary);
    out.write(tag.data(), std::streamsize(tag.size()));
    std::string chunk(1 << 20, '\x55');
    for (int i = 0; i < 10; ++i) out.write(chunk.data(), std::streamsize(chunk.size()));
    path = Utf8ToUtf16(p.string());
  }
  ~BigFile() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

void BM_SaveFitsPadding(benchmark::State& state) {
  BigFile f;
  int i = 0;
  for (auto _ : state) {
    TID3v2 t;
    t.ReadFromFile(f.path);
    t.SetTitle(u"Title " + std::u16string(1, char16_t(u'a' + i++ % 26)));
    if (!t.SaveToFile(f.path)) state.SkipWithError("save failed");
  }
}
BENCHMARK(BM_SaveFitsPadding)->Unit(benchmark::kMillisecond);

void BM_SaveForcesRewrite(benchmark::State& state) {
  BigFile f;
  for (auto _ : state) {
    TID3v2 t;  // not read: no old tag size, so the file is rewritten
    t.SetTitle(u"Title");
    if (!t.SaveToFile(f.path)) state.SkipWithError("save failed");
  }
}
BENCHMARK(BM_SaveForcesRewrite)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
