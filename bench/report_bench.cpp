// A year of play logs (365 logs, 300 plays a day, 5,000 distinct paths):
// the time of collecting and counting them and of writing the page, and the
// peak memory of the process.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/TextCodec.h"
#include "report/BuildReport.h"
#include "report/CollectSongs.h"
#include "report/HtmlReport.h"

namespace {

using namespace ordana;
namespace fs = std::filesystem;

const TDate kFrom{2025, 1, 1};
const TDate kTo{2025, 12, 31};

struct Year {
  fs::path dir;
  Year() {
    dir = fs::temp_directory_path() / ("ordana-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    unsigned seed = 12345;
    int day = 0;
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= DaysInMonth(2025, m); ++d, ++day) {
        char name[32];
        std::snprintf(name, sizeof name, "2025-%02d-%02d.csv", m, d);
        std::ofstream f(dir / name, std::ios::binary);
        f << "00:00:00;START;;Velmora 5.2;Day " << day << "\r\n";
        for (int i = 0; i < 300; ++i) {
          seed = seed * 1103515245u + 12345u;
          int track = static_cast<int>((seed >> 8) % 5000);
          f << (i / 12) % 24 << ":" << (i * 5) % 60 << ":00;;00:03:30;";
          if (track % 10 == 0)
            f << "\"N:\\Music\\Artist " << track / 10 << "\\Track " << track << ".mp3\"";
          else
            f << "N:\\Music\\Artist" << track / 10 << "\\track" << track << ".mp3";
          f << ";Track " << track << "\r\n";
        }
      }
    }
  }
  ~Year() { fs::remove_all(dir); }
};

Year& TheYear() {
  static Year y;
  return y;
}

void AddPeakMemory(benchmark::State& state) {
  rusage ru{};
  ::getrusage(RUSAGE_SELF, &ru);
  state.counters["peak_MiB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
}

void BM_CollectSongs(benchmark::State& state) {
  const std::u16string folder = U16(TheYear().dir.string());
  size_t rows = 0;
  for (auto _ : state) {
    std::vector<TSongInfo> r = CollectSongs(folder, kFrom, kTo);
    rows = r.size();
    benchmark::DoNotOptimize(r.data());
  }
  state.counters["rows"] = static_cast<double>(rows);
  AddPeakMemory(state);
}
BENCHMARK(BM_CollectSongs)->Unit(benchmark::kMillisecond);

void BM_WriteHtmlReport(benchmark::State& state) {
  const std::vector<TSongInfo> rows = CollectSongs(U16(TheYear().dir.string()), kFrom, kTo);
  const std::u16string out = U16((TheYear().dir / "report.htm").string());
  for (auto _ : state) WriteHtmlReport(rows, out, kFrom, kTo);
  state.counters["bytes"] = static_cast<double>(fs::file_size(TheYear().dir / "report.htm"));
  fs::remove(TheYear().dir / "report.htm");
  AddPeakMemory(state);
}
BENCHMARK(BM_WriteHtmlReport)->Unit(benchmark::kMillisecond);

void BM_BuildReport(benchmark::State& state) {
  const std::u16string folder = U16(TheYear().dir.string());
  const std::u16string out = U16((TheYear().dir / "report.htm").string());
  for (auto _ : state) BuildReport(folder, out, kFrom, kTo);
  fs::remove(TheYear().dir / "report.htm");
  AddPeakMemory(state);
}
BENCHMARK(BM_BuildReport)->Unit(benchmark::kMillisecond);

// The same build with its summary (one more look at every row's file); the
// ratio to BM_BuildReport is what the summary costs.
void BM_BuildReportWithSummary(benchmark::State& state) {
  const std::u16string folder = U16(TheYear().dir.string());
  const std::u16string out = U16((TheYear().dir / "report.htm").string());
  TBuildSummary summary;
  for (auto _ : state) BuildReport(folder, out, kFrom, kTo, summary);
  state.counters["rows"] = static_cast<double>(summary.Rows);
  fs::remove(TheYear().dir / "report.htm");
  AddPeakMemory(state);
}
BENCHMARK(BM_BuildReportWithSummary)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
