// The cost of saves, each measured beside plain `cp` of the same file in the
// same run (the machine is shared: compare the ratios, not the times):
//  - an ID3v2 save on a 10 MB MP3 that fits the tag's padding (written in
//    place with a journal) and one that forces a rewrite of the whole file;
//  - a rewrite of a 300 MB FLAC file;
//  - what the lock and the identity checks add to an in-place save: the same
//    save with flock and the path checks answered without a system call.
// A save flushes what it wrote to disk and cp does not, so each cp also runs
// once followed by an fsync of the copy (*_CpSync). For the lock's share run
//   save_bench --benchmark_filter=NoSync --benchmark_repetitions=12
//              --benchmark_enable_random_interleaving=true
// (the two variants interleaved, so that the machine's load hits both alike).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include "platform/TextCodec.h"
#include "platform/posix/SaveOps.h"
#include "support/BenchFolder.h"
#include "tags/FLACfile.h"
#include "tags/ID3v2.h"

extern char** environ;

namespace {

using namespace ordana;

void WriteFile(const std::filesystem::path& p, const std::string& head, size_t megabytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(head.data(), std::streamsize(head.size()));
  std::string chunk(1 << 20, '\0');
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = char((i * 2654435761u) >> 13);
  for (size_t i = 0; i < megabytes; ++i) out.write(chunk.data(), std::streamsize(chunk.size()));
}

// A tag with 4000 bytes of padding, then 10 MB of "audio".
const bench::BenchFolder& Mp3() {
  static bench::BenchFolder f("ordana-save-mp3");
  static bool made = false;
  if (!made) {
    const uint32_t body = 4000;
    std::string tag = "ID3" + std::string("\x04\0\0", 3);
    tag += {char((body >> 21) & 0x7F), char((body >> 14) & 0x7F), char((body >> 7) & 0x7F), char(body & 0x7F)};
    tag += std::string(body, '\0');
    WriteFile(f.dir / "a.mp3", tag, 10);
    made = true;
  }
  return f;
}

// A FLAC file (STREAMINFO, a comment block, padding) with 300 MB of frames.
const bench::BenchFolder& Flac() {
  static bench::BenchFolder f("ordana-save-flac");
  static bool made = false;
  if (!made) {
    std::string head = "fLaC";
    head += std::string("\x00\x00\x00\x22", 4);  // STREAMINFO, 34 bytes
    std::string info(34, '\0');
    info[10] = 0x0A, info[11] = char(0xC4), info[12] = 0x42, info[13] = char(0xF0);  // 44100 Hz, 2 ch, 16 bit
    info[17] = 0x10;  // samples
    head += info;
    head += std::string("\x81\x00\x08\x00", 4) + std::string(2048, '\0');  // padding, last
    WriteFile(f.dir / "a.flac", head, 300);
    made = true;
  }
  return f;
}

// The file's inode: a rewrite gives the name a new one.
ino_t Inode(const std::u16string& path) {
  struct stat st {};
  return ::stat(Utf16ToUtf8(path).bytes().c_str(), &st) == 0 ? st.st_ino : 0;
}

void Cp(benchmark::State& state, const std::filesystem::path& from, bool sync = false) {
  const std::string src = from.string(), dst = from.string() + ".copy";
  for (auto _ : state) {
    const char* argv[] = {"cp", src.c_str(), dst.c_str(), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, "cp", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      state.SkipWithError("cannot run cp");
      break;
    }
    int st = 0;
    waitpid(pid, &st, 0);
    if (sync) {
      const int fd = ::open(dst.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0 || ::fsync(fd) != 0) state.SkipWithError("cannot flush the copy");
      if (fd >= 0) ::close(fd);
    }
  }
  std::filesystem::remove(dst);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(std::filesystem::file_size(from)));
}

void BM_Mp3_Cp(benchmark::State& state) { Cp(state, Mp3().dir / "a.mp3"); }
BENCHMARK(BM_Mp3_Cp)->Unit(benchmark::kMillisecond)->UseRealTime();
void BM_Mp3_CpSync(benchmark::State& state) { Cp(state, Mp3().dir / "a.mp3", true); }
BENCHMARK(BM_Mp3_CpSync)->Unit(benchmark::kMillisecond)->UseRealTime();

void SaveInPlace(benchmark::State& state) {
  const std::u16string path = Utf8ToUtf16(Utf8View((Mp3().dir / "a.mp3").string()));
  int i = 0;
  for (auto _ : state) {
    TID3v2 t;
    t.ReadFromFile(path);
    t.SetTitle(u"Title " + std::u16string(1, char16_t(u'a' + i++ % 26)));
    if (!t.SaveToFile(path)) state.SkipWithError("save failed");
  }
}

void BM_Mp3_SaveFitsPadding(benchmark::State& state) { SaveInPlace(state); }
BENCHMARK(BM_Mp3_SaveFitsPadding)->Unit(benchmark::kMillisecond)->UseRealTime();

// The lock and identity checks cost microseconds; the flushes to disk of an
// in-place save (journal, file, folder) cost milliseconds and vary a lot on
// a shared machine. So their share is measured with the flushes skipped:
// the same save, once with the lock and the path's identity answered without
// a system call.
class NoSyncOps : public posix::SaveOps {
 public:
  int Fsync(int) override { return 0; }
};
class NoSyncNoLockOps : public NoSyncOps {
 public:
  int Flock(int, int) override { return 0; }
  int Stat(const char* path, struct stat* st) override {
    if (path == last_ && have_) return *st = cached_, 0;
    const int r = SaveOps::Stat(path, st);
    if (r == 0 && S_ISREG(st->st_mode)) last_ = path, cached_ = *st, have_ = true;
    return r;
  }

 private:
  std::string last_;
  struct stat cached_ {};
  bool have_ = false;
};

// The in-place save with the save layer's system calls made through `Ops`.
template <class Ops>
void SaveInPlaceThrough(benchmark::State& state) {
  Ops ops;
  posix::SetSaveOps(&ops);
  SaveInPlace(state);
  posix::SetSaveOps(nullptr);
}

void BM_Mp3_SaveFitsPadding_NoSync(benchmark::State& state) { SaveInPlaceThrough<NoSyncOps>(state); }
BENCHMARK(BM_Mp3_SaveFitsPadding_NoSync)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_Mp3_SaveFitsPadding_NoSync_NoLockOrIdentity(benchmark::State& state) {
  SaveInPlaceThrough<NoSyncNoLockOps>(state);
}
BENCHMARK(BM_Mp3_SaveFitsPadding_NoSync_NoLockOrIdentity)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Saves of `file` that each rewrite the whole file (checked: the file is a
// new one after each), `grow` making the tag outgrow the one before it.
template <class Tag, class Grow>
void SaveRewrites(benchmark::State& state, const std::filesystem::path& file, Grow grow) {
  const std::u16string path = Utf8ToUtf16(Utf8View(file.string()));
  for (auto _ : state) {
    Tag t;
    t.ReadFromFile(path);
    grow(t);
    const ino_t before = Inode(path);
    if (!t.SaveToFile(path)) state.SkipWithError("save failed");
    if (Inode(path) == before) state.SkipWithError("the save did not rewrite the file");
  }
}

void BM_Mp3_SaveForcesRewrite(benchmark::State& state) {
  // Grows over every repetition: each save outgrows the tag before it, its
  // 2048 bytes of padding included (Latin-1 texts take a byte a character).
  static std::u16string title;
  SaveRewrites<TID3v2>(state, Mp3().dir / "a.mp3", [](TID3v2& t) {
    title += std::u16string(4100, u'x');
    t.SetTitle(title);
  });
}
BENCHMARK(BM_Mp3_SaveForcesRewrite)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Flac300_Cp(benchmark::State& state) { Cp(state, Flac().dir / "a.flac"); }
BENCHMARK(BM_Flac300_Cp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
void BM_Flac300_CpSync(benchmark::State& state) { Cp(state, Flac().dir / "a.flac", true); }
BENCHMARK(BM_Flac300_CpSync)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_Flac300_SaveForcesRewrite(benchmark::State& state) {
  static std::u16string comment;  // grows over every repetition: outgrows the padding every time
  SaveRewrites<TFLACfile>(state, Flac().dir / "a.flac", [](TFLACfile& t) {
    comment += std::u16string(3000, u'c');
    t.SetComment(comment);
  });
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(std::filesystem::file_size(Flac().dir / "a.flac")));
}
BENCHMARK(BM_Flac300_SaveForcesRewrite)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
