// ReadTrackInfo on generated files, against a baseline that only opens each
// file and reads its first 10 and last 128 bytes. Files are generated at
// start in a temporary folder and removed at the end. Every benchmark
// processes one file per iteration, cycling through its set, so the reported
// time is per file.
//
// BM_ReadTrackInfo: a few thousand MP3-like files (ID3v2 with and without a
// picture, ID3v1 only), read as the report reads them. BM_Format/<name>: a
// few hundred files of one format each, read with the stream summary, so
// that the stream readers (MPEG, WAV) run too.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "support/AsfBuilder.h"
#include "support/BenchFolder.h"
#include "support/OggBuilder.h"
#include "support/TestFiles.h"
#include "trackinfo/ReadTrackInfo.h"

namespace {

using namespace ordana;
using test::BE24;
using test::BE32;
using test::LE16;
using test::LE32;
using test::Zeros;

std::string SyncSafe(uint32_t v) {
  return {char((v >> 21) & 0x7F), char((v >> 14) & 0x7F), char((v >> 7) & 0x7F), char(v & 0x7F)};
}
std::string Frame(const std::string& id, const std::string& data) {
  return id + BE32(uint32_t(data.size())) + std::string(2, '\0') + data;
}
std::string Text(const std::string& s) { return std::string(1, '\0') + s; }

std::string Noise(std::mt19937& rng, size_t n) {
  std::string s(n, '\0');
  for (char& c : s) c = char(rng());
  return s;
}

std::string Mp3(int i, std::mt19937& rng, const std::string& picture) {
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
    bytes = "ID3" + std::string("\x03\0\0", 3) + SyncSafe(uint32_t(frames.size() + 1024)) + frames +
            std::string(1024, '\0');
  for (int k = 0; k < 40; ++k) bytes += std::string("\xFF\xFB\x90\x64", 4) + Noise(rng, 413);
  if (i % 3 == 0 || i % 10 == 7) {
    std::string v1 = "TAG" + std::string("Old title") + std::string(21, '\0');
    v1.resize(128, '\0');
    bytes += v1;
  }
  return bytes;
}

std::string FlacBlock(int type, const std::string& body, bool last = false) {
  return char(type | (last ? 0x80 : 0)) + BE24(uint32_t(body.size())) + body;
}
std::string VorbisBody(const std::vector<std::string>& comments) {
  std::string b = LE32(10) + "bench 1.0x" + LE32(uint32_t(comments.size()));
  for (const auto& c : comments) b += LE32(uint32_t(c.size())) + c;
  return b;
}
std::vector<std::string> Comments(int i) {
  return {"TITLE=Title number " + std::to_string(i), "ARTIST=Some Artist", "ALBUM=An Album",
          "DATE=2011", "GENRE=Rock", "TRACKNUMBER=3", "COMMENT=A comment"};
}

std::string Flac(int i, std::mt19937& rng, const std::string& picture) {
  const uint64_t v = uint64_t(44100) << 44 | uint64_t(1) << 41 | uint64_t(15) << 36 | 10000000;
  std::string packed;
  for (int k = 7; k >= 0; --k) packed += char(v >> (8 * k));
  std::string bytes = "fLaC" + FlacBlock(0, Zeros(10) + packed + Zeros(16)) +
                      FlacBlock(4, VorbisBody(Comments(i)));
  if (i % 5 == 0) bytes += FlacBlock(6, Zeros(32) + picture);
  bytes += FlacBlock(1, Zeros(4096), true);
  return bytes + Noise(rng, 30000);
}

std::string Ogg(int i, std::mt19937&, const std::string& picture) {
  test::OggFileLayout l;
  l.comments = Comments(i);
  if (i % 5 == 0) l.comments.push_back("METADATA_BLOCK_PICTURE=" + std::string(20000, 'Q'));
  l.totalSize = 40000;
  (void)picture;
  return test::MakeOggFile(l);
}

std::string Wma(int i, std::mt19937& rng, const std::string& picture) {
  using namespace test::asf;
  std::vector<std::string> descriptors = {TextDesc("WM/AlbumTitle", "An Album"),
                                          TextDesc("WM/Year", "2011"), TextDesc("WM/Genre", "Rock"),
                                          RawDesc("WM/TrackNumber", 3, LE32(3))};
  if (i % 5 == 0) descriptors.push_back(RawDesc("WM/Picture", 1, picture));
  return Header({FileProps(2000000000, 3000, 128000), StreamProps(2, 44100, 16000),
                 ContentDesc("Title number " + std::to_string(i), "Some Artist", "", "A comment", ""),
                 ExtContent(descriptors), CodecList(2, {"WMA", "128 kbps"})}) +
         Obj(kDataGuid, Zeros(16) + test::LE64(1) + test::Bytes({1, 1}) + Noise(rng, 30000));
}

std::string Atom(const std::string& type, const std::string& payload) {
  return BE32(uint32_t(8 + payload.size())) + type + payload;
}
std::string Item(const std::string& name, const std::string& value, uint32_t indicator = 1) {
  return Atom(name, Atom("data", BE32(indicator) + BE32(0) + value));
}

std::string M4a(int i, std::mt19937& rng, const std::string& picture) {
  std::string items = Item("\xA9nam", "Title number " + std::to_string(i)) +
                      Item("\xA9" "ART", "Some Artist") + Item("\xA9" "alb", "An Album") +
                      Item("\xA9" "day", "2011") + Item("\xA9" "gen", "Rock") +
                      Item("trkn", test::Bytes({0, 0, 0, 5, 0, 12, 0, 0}), 0);
  if (i % 5 == 0) items += Item("covr", picture, 13);
  const std::string trak =
      Atom("trak", Atom("tkhd", std::string(84, '\1')) +
                       Atom("mdia", Atom("mdhd", std::string(24, '\2')) +
                                        Atom("minf", Atom("stbl", Atom("stsd", Zeros(40))))));
  const std::string moov =
      Atom("moov", Atom("mvhd", Zeros(100)) + trak +
                       Atom("udta", Atom("meta", BE32(0) + Atom("hdlr", Zeros(25)) +
                                                     Atom("ilst", items))));
  return Atom("ftyp", "M4A " + BE32(0) + "M4A isom") + moov + Atom("mdat", Noise(rng, 30000));
}

std::string Wav(int, std::mt19937& rng, const std::string&) {
  const std::string data = Noise(rng, 30000);
  return "RIFF" + LE32(uint32_t(36 + data.size())) + "WAVEfmt " + LE32(16) + LE16(1) + LE16(2) +
         LE32(44100) + LE32(176400) + LE16(4) + LE16(16) + "data" + LE32(uint32_t(data.size())) +
         data;
}

std::string ApeItem(const std::string& key, const std::string& value) {
  return LE32(uint32_t(value.size())) + LE32(0) + key + '\0' + value;
}
std::string Ape(int i, std::mt19937& rng, const std::string&) {
  std::string items = ApeItem("Title", "Title number " + std::to_string(i)) +
                      ApeItem("Artist", "Some Artist") + ApeItem("Album", "An Album") +
                      ApeItem("Year", "2011") + ApeItem("Genre", "Rock") +
                      ApeItem("Comment", "A comment");
  auto frame = [&](uint32_t flags) {
    return "APETAGEX" + LE32(2000) + LE32(uint32_t(items.size() + 32)) + LE32(6) + LE32(flags) +
           Zeros(8);
  };
  return "MAC " + Noise(rng, 30000) + frame(0xA0000000) + items + frame(0x80000000);
}

struct FileSet : bench::BenchFolder {
  std::map<std::string, std::vector<std::u16string>> byFormat;

  FileSet() : BenchFolder("ordana-bench") {
    std::mt19937 rng(42);
    const std::string picture(200 * 1024, '\x89');
    for (int i = 0; i < 3000; ++i) files.push_back(Write("track" + std::to_string(i) + ".mp3",
                                                         Mp3(i, rng, picture)));
    using Maker = std::string (*)(int, std::mt19937&, const std::string&);
    const std::pair<const char*, Maker> formats[] = {
        {"mp3", Mp3}, {"flac", Flac}, {"ogg", Ogg}, {"wma", Wma},
        {"m4a", M4a}, {"wav", Wav},   {"ape", Ape}};
    for (const auto& [ext, make] : formats)
      for (int i = 0; i < 300; ++i)
        byFormat[ext].push_back(
            Write(std::string("f") + std::to_string(i) + "." + ext, make(i, rng, picture)));
  }

  std::u16string Write(const std::string& name, const std::string& bytes) {
    const auto p = dir / name;
    std::ofstream(p, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return Utf8ToUtf16(Utf8View(p.string()));
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

// One format's files, with the stream summary and the playout program's items.
void BM_Format(benchmark::State& state, const char* ext) {
  const auto& files = Files().byFormat.at(ext);
  size_t i = 0;
  TPlaylistEntry e;
  char info[kInfoTextSize];
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        ReadTrackInfo(files[i++ % files.size()], e, info, roPlayoutItems));
  }
  if (e.title.empty() && std::string(ext) != "wav") state.SkipWithError("no title read");
  if (info[0] == '\0' && (std::string(ext) == "wav" || std::string(ext) == "mp3"))
    state.SkipWithError("no summary");
}
BENCHMARK_CAPTURE(BM_Format, mp3, "mp3")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Format, flac, "flac")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Format, ogg, "ogg")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Format, wma, "wma")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Format, m4a, "m4a")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Format, wav, "wav")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Format, ape, "ape")->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
