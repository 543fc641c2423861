// The library benchmark: per-file reading cost on the generated 2,000-file
// library (bench/library/make-library), warm and cold, for the I/O floor,
// TagLib (when built with it), and our readers; the month's report as a whole
// process against the TagLib-based equivalent; and the report's read-ahead
// variants. Paired rounds: every round runs every method once (in a rotating
// order, the page cache dropped before each cold pass), and the table shows
// medians over rounds of the per-file means and of the ratios taken within a
// round, so that load on the shared machine hits both sides of a ratio.
//
//   library_bench [--library DIR] [--mode perfile|readahead|month|agree|all] ...
//   library_bench --help
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "report/CollectSongs.h"
#include "support/InProcessProbe.h"
#include "support/Library.h"
#include "trackinfo/ReadTrackInfo.h"
#include "trackinfo/TrackLength.h"
#if ORDANA_BENCH_HAVE_TAGLIB
#include "taglib/TagLibTrack.h"
#endif

extern char** environ;

namespace {

using namespace ordana;
using namespace ordana::bench;
using Clock = std::chrono::steady_clock;

const char kHelp[] =
    "usage: library_bench [options]\n"
    "  --library DIR        the generated library (default: what make-library prints)\n"
    "  --mode MODE          perfile, readahead, month, agree or all (default all);\n"
    "                       agree: every file's length now and as measured\n"
    "                       before (FFmpeg in this process), the files that differ\n"
    "  --warm-rounds N      paired warm rounds (default 7)\n"
    "  --cold-rounds N      paired cold rounds (default 5)\n"
    "  --cold WAY           auto (drop_caches where allowed, else fadvise), drop,\n"
    "                       fadvise or none (default auto)\n"
    "  --methods LIST       per-file methods, comma-separated: floor, taglib, ours,\n"
    "                       tags, length, before (the length as measured before\n"
    "                       the own parsers and the helper: FFmpeg for every file,\n"
    "                       in this process), hint (the read-ahead hint alone),\n"
    "                       len-ahead (length, with the next 8 files' lengths\n"
    "                       queued to the probe first) and ours-ahead (the\n"
    "                       report's row loop: each file opened once, 8 rows\n"
    "                       ahead, for its length's announcement, tags and length)\n"
    "                       (default all that are built)\n"
    "  --kinds LIST         only these kinds of file (mp3-cbr, mp3-vbr, flac,\n"
    "                       m4a-moov-first, m4a-moov-last, ogg, wma, wav)\n"
    "  --limit N            at most N files of each kind\n"
    "  --report BIN         ordana-report (default: beside this program, ../apps/)\n"
    "  --taglib-report BIN  ordana-report-taglib (default: beside this program)\n"
    "  --variants LIST      read-ahead variants HEAD/TAIL/DEPTH in KiB, e.g.\n"
    "                       off,64/16/16,256/64/16; a trailing ! hints even while\n"
    "                       everything comes from memory (default: a set of them)\n";

struct Options {
  std::string library;
  std::string mode = "all";
  int warmRounds = 7;
  int coldRounds = 5;
  ColdCache::Mode cold = ColdCache::Mode::Auto;
  std::vector<std::string> methods;
  std::set<std::string> kinds;
  size_t limit = 0;
  std::string report, taglibReport;
  std::vector<std::string> variants{"off",       "64/16/16!", "64/16/16",  "64/16/8",
                                    "64/16/32",  "128/32/16", "256/64/16", "256/64/16!"};
};

std::vector<std::string> SplitList(const std::string& s) {
  std::vector<std::string> out;
  std::stringstream in(s);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (!item.empty()) out.push_back(item);
  }
  return out;
}

std::string ProgramDir() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string p(buf, static_cast<size_t>(n));
  return p.substr(0, p.rfind('/'));
}

double Us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// --- Per-file methods ---------------------------------------------------------


struct Method {
  std::string name;
  std::function<void(const std::u16string&)> run;
  // Announces the lengths of the next files to the probe first, as the
  // report's row loop does (the helper measures them meanwhile).
  bool lengthsAhead = false;
  // Instead of run: the report's own row loop (RowFiller) over the pass's
  // files, one row timed at a time.
  bool rowLoop = false;
};
constexpr size_t kLengthsAhead = 8;  // as FillRows

std::atomic<uint64_t> gSink{0};  // keeps the results alive
void Keep(uint64_t v) { gSink.fetch_add(v, std::memory_order_relaxed); }

// Tags and length of one file, as the report's row loop reads them.
void Ours(const std::u16string& p) {
  TSongInfo row;
  row.FN = p;
  FillRow(row);
  Keep(row.Len + row.T.title.size());
}

std::vector<Method> AllMethods() {
  std::vector<Method> m;
  m.push_back({"floor", [](const std::u16string& p) {
                 // The I/O floor: open, read 4 KiB at each end, close.
                 char buf[4096];
                 InputFile f = InputFile::Open(p);
                 const int64_t size = f.Size();
                 Keep(static_cast<uint64_t>(f.ReadAt(0, buf, sizeof buf)));
                 Keep(static_cast<uint64_t>(f.ReadAt(size > 4096 ? size - 4096 : 0, buf, sizeof buf)));
               }});
#if ORDANA_BENCH_HAVE_TAGLIB
  m.push_back({"taglib", [](const std::u16string& p) {
                 TPlaylistEntry e;
                 uint32_t len = 0;
                 ReadWithTagLib(p, e, len);
                 Keep(len + e.title.size());
               }});
#endif
  m.push_back({"ours", Ours});
  m.push_back({"tags", [](const std::u16string& p) {
                 TPlaylistEntry e;
                 try {
                   ReadTrackInfo(p, e, nullptr, 0);
                 } catch (...) {
                 }
                 Keep(e.title.size());
               }});
  m.push_back({"length", [](const std::u16string& p) { Keep(GetTrackLength(p)); }});
  m.push_back({"len-ahead", [](const std::u16string& p) { Keep(GetTrackLength(p)); }, true});
  // The report's row loop: each file opened once, 8 rows ahead, for its
  // length's announcement and its row's tags and length.
  m.push_back({"ours-ahead", nullptr, false, true});
#if ORDANA_BENCH_HAVE_INPROCESS_FFMPEG
  m.push_back({"before", [](const std::u16string& p) { Keep(InProcessTrackLength(p)); }});
#endif
  m.push_back({"hint", [](const std::u16string& p) {
                 // What the report's read-ahead costs per row.
                 static FileReadAhead ahead(kReportReadAhead);
                 ahead.Announce(p);
               }});
  return m;
}

// The groups a table row stands for: each kind, MP3 and M4A together, with
// and without a cover, and the whole mix.
std::vector<std::pair<std::string, std::function<bool(const LibraryFile&)>>> Groups(
    const std::vector<LibraryFile>& files) {
  std::set<std::string> kinds;
  for (const auto& f : files) kinds.insert(f.kind);
  std::vector<std::pair<std::string, std::function<bool(const LibraryFile&)>>> g;
  auto add = [&](const std::string& name, std::function<bool(const LibraryFile&)> pred) {
    for (const auto& f : files)
      if (pred(f)) {
        g.emplace_back(name, pred);
        return;
      }
  };
  for (const char* k : {"mp3-cbr", "mp3-vbr"})
    if (kinds.count(k)) add(k, [k](const LibraryFile& f) { return f.kind == k; });
  add("mp3", [](const LibraryFile& f) { return f.kind.starts_with("mp3"); });
  for (const char* k : {"flac", "m4a-moov-first", "m4a-moov-last"})
    if (kinds.count(k)) add(k, [k](const LibraryFile& f) { return f.kind == k; });
  add("m4a", [](const LibraryFile& f) { return f.kind.starts_with("m4a"); });
  for (const char* k : {"ogg", "wma", "wav"})
    if (kinds.count(k)) add(k, [k](const LibraryFile& f) { return f.kind == k; });
  add("with cover", [](const LibraryFile& f) { return f.cover; });
  add("no cover", [](const LibraryFile& f) { return !f.cover; });
  add("mixed", [](const LibraryFile&) { return true; });
  return g;
}

// One pass of a method over the files: microseconds per file.
std::vector<double> Pass(const Method& m, const std::vector<LibraryFile>& files) {
  std::vector<double> us(files.size());
  if (m.rowLoop) {
    std::vector<TSongInfo> rows(files.size());
    for (size_t i = 0; i < files.size(); ++i) rows[i].FN = files[i].path;
    RowFiller filler(rows);
    for (size_t i = 0; i < files.size(); ++i) {
      const auto t0 = Clock::now();
      filler.FillNext();
      us[i] = Us(Clock::now() - t0);
      Keep(rows[i].Len + rows[i].T.title.size());
    }
    return us;
  }
  size_t queued = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    const auto t0 = Clock::now();
    if (m.lengthsAhead)
      for (; queued < files.size() && queued <= i + kLengthsAhead; ++queued) AnnounceTrackLength(files[queued].path);
    m.run(files[i].path);
    us[i] = Us(Clock::now() - t0);
  }
  return us;
}

void PerFile(const Options& o, const std::vector<LibraryFile>& all, ColdCache& cold) {
  // The first file of each kind only warms the code before a cold pass (a
  // dropped page cache drops the program's own pages too); it is not measured.
  std::vector<LibraryFile> warmup, files;
  std::set<std::string> seen;
  std::map<std::string, size_t> perKind;
  for (const auto& f : all) {
    if (!o.kinds.empty() && !o.kinds.count(f.kind)) continue;
    if (seen.insert(f.kind).second) {
      warmup.push_back(f);
      continue;
    }
    if (o.limit && perKind[f.kind] >= o.limit) continue;
    ++perKind[f.kind];
    files.push_back(f);
  }
  std::vector<Method> methods;
  for (Method& m : AllMethods())
    if (o.methods.empty() || std::find(o.methods.begin(), o.methods.end(), m.name) != o.methods.end())
      methods.push_back(std::move(m));
  if (methods.empty() || files.empty()) throw std::runtime_error("nothing to measure");
  const auto groups = Groups(files);

  // mean[temperature][method][group] = per-round means (µs per file)
  std::map<std::string, std::map<std::string, std::map<std::string, std::vector<double>>>> mean;
  std::map<std::string, std::map<std::string, std::vector<double>>> share;  // ours' time share
  auto runRounds = [&](const std::string& temp, int rounds) {
    for (const Method& m : methods) Pass(m, warmup), Pass(m, files);  // settle caches and code
    for (int r = 0; r < rounds; ++r) {
      for (size_t k = 0; k < methods.size(); ++k) {
        const Method& m = methods[(k + static_cast<size_t>(r)) % methods.size()];
        if (temp == "cold") {
          cold.Drop();
          Pass(m, warmup);
        }
        const std::vector<double> us = Pass(m, files);
        double total = 0;
        for (double u : us) total += u;
        for (const auto& [name, pred] : groups) {
          double sum = 0;
          size_t n = 0;
          for (size_t i = 0; i < files.size(); ++i)
            if (pred(files[i])) sum += us[i], ++n;
          mean[temp][m.name][name].push_back(sum / static_cast<double>(n));
          if (m.name == "ours") share[temp][name].push_back(sum / total);
        }
      }
      std::fprintf(stderr, ".");
    }
  };
  std::fprintf(stderr, "per file: %zu files, %zu warm-up files; warm rounds ", files.size(),
               warmup.size());
  runRounds("warm", o.warmRounds);
  if (o.coldRounds > 0 && cold.mode() != ColdCache::Mode::None) {
    std::fprintf(stderr, " cold rounds ");
    runRounds("cold", o.coldRounds);
  }
  std::fprintf(stderr, "\n");

  auto med = [&](const std::string& t, const std::string& m, const std::string& g) {
    return Median(mean[t][m][g]);
  };
  auto ratio = [&](const std::string& t, const std::string& a, const std::string& b,
                   const std::string& g) {
    const auto& x = mean[t][a][g];
    const auto& y = mean[t][b][g];
    std::vector<double> r;
    for (size_t i = 0; i < x.size() && i < y.size(); ++i) r.push_back(y[i] > 0 ? x[i] / y[i] : 0);
    return Median(r);
  };
  auto has = [&](const std::string& m) {
    return std::any_of(methods.begin(), methods.end(), [&](const Method& x) { return x.name == m; });
  };

  for (const char* temp : {"warm", "cold"}) {
    if (!mean.count(temp)) continue;
    std::printf("\nPer file, %s (µs per file, median of %d paired rounds; ratios within a round)\n",
                temp, std::string(temp) == "warm" ? o.warmRounds : o.coldRounds);
    std::printf("%-15s %5s", "files", "n");
    for (const Method& m : methods) std::printf(" %9s", m.name.c_str());
    if (has("ours") && has("taglib")) std::printf(" %12s", "ours/taglib");
    if (has("tags") && has("floor")) std::printf(" %11s", "tags/floor");
    if (has("length") && has("before")) std::printf(" %14s", "length/before");
    if (has("ours")) std::printf(" %10s", "ours' time");
    std::printf("\n");
    for (const auto& [name, pred] : groups) {
      size_t n = 0;
      for (const auto& f : files) n += pred(f) ? 1 : 0;
      std::printf("%-15s %5zu", name.c_str(), n);
      for (const Method& m : methods) std::printf(" %9.1f", med(temp, m.name, name));
      if (has("ours") && has("taglib")) std::printf(" %11.2fx", ratio(temp, "ours", "taglib", name));
      if (has("tags") && has("floor")) std::printf(" %10.2fx", ratio(temp, "tags", "floor", name));
      if (has("length") && has("before")) std::printf(" %13.2fx", ratio(temp, "length", "before", name));
      if (has("ours")) std::printf(" %9.0f%%", 100 * Median(share[temp][name]));
      std::printf("\n");
    }
  }
}

// --- The report's read-ahead ----------------------------------------------------

std::optional<ReadAheadSettings> ParseVariant(const std::string& v) {
  if (v == "off") return ReadAheadSettings{};
  unsigned head = 0, tail = 0, depth = 0;
  char always = 0;
  const int n = std::sscanf(v.c_str(), "%u/%u/%u%c", &head, &tail, &depth, &always);
  if (n < 3 || (n == 4 && always != '!')) return std::nullopt;
  return ReadAheadSettings{int64_t{head} * 1024, int64_t{tail} * 1024, depth, n == 3};
}

void SetLibraryMapping(const Library& lib) {
  SetPathMappings({PathMapping{u"N:\\Music\\", Utf8ToUtf16(Utf8View(lib.dir + "/music/"))}});
}

const TDate kMonthStart{2026, 3, 1};
const TDate kMonthEnd{2026, 3, 31};

void ReadAheadVariants(const Options& o, const Library& lib, ColdCache& cold) {
  SetLibraryMapping(lib);
  const std::vector<TSongInfo> counted = CountPlays(Utf8ToUtf16(Utf8View(lib.dir + "/logs")), kMonthStart, kMonthEnd);
  std::vector<std::pair<std::string, ReadAheadSettings>> variants;
  for (const std::string& v : o.variants) {
    auto s = ParseVariant(v);
    if (!s) throw std::invalid_argument("bad read-ahead variant: " + v);
    variants.emplace_back(v, *s);
  }
  // The first rows warm the code after a drop; the rest are measured.
  const size_t warmRows = std::min<size_t>(8, counted.size() / 4);
  std::vector<TSongInfo> warm(counted.begin(), counted.begin() + static_cast<long>(warmRows));
  std::map<std::string, std::map<std::string, std::vector<double>>> secs;  // temp -> variant
  std::map<std::string, std::vector<TSongInfo>> filled;  // each variant's last rows
  auto rounds = [&](const std::string& temp, int n) {
    for (int r = 0; r < n; ++r) {
      for (size_t k = 0; k < variants.size(); ++k) {
        const auto& [name, settings] = variants[(k + static_cast<size_t>(r)) % variants.size()];
        if (temp == "cold") {
          cold.Drop();
          std::vector<TSongInfo> w = warm;
          FillRows(w, ReadAheadSettings{});
        }
        std::vector<TSongInfo> rows(counted.begin() + static_cast<long>(warmRows), counted.end());
        const auto t0 = Clock::now();
        FillRows(rows, settings);
        secs[temp][name].push_back(Us(Clock::now() - t0) / 1e6);
        filled[name] = std::move(rows);
      }
      std::fprintf(stderr, ".");
    }
  };
  std::fprintf(stderr, "read-ahead: %zu rows; warm rounds ", counted.size() - warmRows);
  {
    std::vector<TSongInfo> rows = counted;
    FillRows(rows, ReadAheadSettings{});
  }
  rounds("warm", o.warmRounds);
  if (o.coldRounds > 0 && cold.mode() != ColdCache::Mode::None) {
    std::fprintf(stderr, " cold rounds ");
    rounds("cold", o.coldRounds);
  }
  std::fprintf(stderr, "\n");
  // Read-ahead changes when data arrives, never what is read.
  for (const auto& [name, rows] : filled) {
    const std::vector<TSongInfo>& base = filled.begin()->second;
    size_t differ = 0;
    for (size_t i = 0; i < rows.size() && i < base.size(); ++i)
      differ += rows[i].T.title != base[i].T.title || rows[i].T.artist != base[i].T.artist ||
                rows[i].T.genre != base[i].T.genre || rows[i].Len != base[i].Len;
    if (differ || rows.size() != base.size())
      std::printf("WARNING: %zu rows read with read-ahead %s differ from %s\n", differ, name.c_str(),
                  filled.begin()->first.c_str());
  }
  std::printf("\nThe report's row loop (FillRows) over the month, read-ahead HEAD/TAIL KiB/DEPTH rows\n");
  std::printf("%-12s %10s %10s %10s %10s\n", "variant", "warm s", "vs off", "cold s", "vs off");
  for (const auto& [name, settings] : variants) {
    std::printf("%-12s", name.c_str());
    for (const char* temp : {"warm", "cold"}) {
      if (!secs.count(temp)) continue;
      const auto& x = secs[temp][name];
      const auto& base = secs[temp]["off"];
      std::vector<double> r;
      for (size_t i = 0; i < x.size() && i < base.size(); ++i) r.push_back(x[i] / base[i]);
      std::printf(" %10.3f %9.3fx", Median(x), base.empty() ? 0.0 : Median(r));
    }
    std::printf("\n");
  }
}

// --- The whole month's report, as processes -------------------------------------

double RunProcess(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const auto t0 = Clock::now();
  if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("cannot start " + args[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  const double s = Us(Clock::now() - t0) / 1e6;
  posix_spawn_file_actions_destroy(&fa);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(args[0] + " failed");
  return s;
}

void Month(const Options& o, const Library& lib, ColdCache& cold) {
  const std::string dir = ProgramDir();
  const std::string ours = o.report.empty() ? dir + "/../apps/ordana-report" : o.report;
  const std::string theirs = o.taglibReport.empty() ? dir + "/ordana-report-taglib" : o.taglibReport;
  if (::access(theirs.c_str(), X_OK) != 0) {
    std::printf("\nMonth report: %s is missing (built only with TagLib); ours alone follows.\n",
                theirs.c_str());
  }
  const std::string tmp = "/tmp/ordana-library-bench-" + std::to_string(::getpid());
  const std::vector<std::string> common{"--logs", lib.dir + "/logs", "--month", "2026-03",
                                        "--map-path", "N:\\Music\\=" + lib.dir + "/music/"};
  std::vector<std::pair<std::string, std::vector<std::string>>> programs;
  auto add = [&](const std::string& name, const std::string& bin, const std::string& out) {
    std::vector<std::string> a{bin};
    a.insert(a.end(), common.begin(), common.end());
    a.push_back("-o");
    a.push_back(out);
    programs.emplace_back(name, a);
  };
  add("ours", ours, tmp + "-ours.htm");
  if (::access(theirs.c_str(), X_OK) == 0) add("taglib", theirs, tmp + "-taglib.htm");

  std::map<std::string, std::map<std::string, std::vector<double>>> secs;
  auto rounds = [&](const std::string& temp, int n) {
    for (int r = 0; r < n; ++r) {
      for (size_t k = 0; k < programs.size(); ++k) {
        const auto& [name, args] = programs[(k + static_cast<size_t>(r)) % programs.size()];
        if (temp == "cold") cold.Drop();
        secs[temp][name].push_back(RunProcess(args));
      }
      std::fprintf(stderr, ".");
    }
  };
  std::fprintf(stderr, "month report: warm rounds ");
  for (const auto& p : programs) RunProcess(p.second);
  rounds("warm", o.warmRounds);
  if (o.coldRounds > 0 && cold.mode() != ColdCache::Mode::None) {
    std::fprintf(stderr, " cold rounds ");
    rounds("cold", o.coldRounds);
  }
  std::fprintf(stderr, "\n");
  std::printf("\nThe month's report, whole process (%zu files, seconds, median)\n",
              lib.files.size());
  std::printf("%-8s %10s %10s\n", "program", "warm s", "cold s");
  for (const auto& p : programs) {
    std::printf("%-8s", p.first.c_str());
    for (const char* temp : {"warm", "cold"})
      if (secs.count(temp)) std::printf(" %10.3f", Median(secs[temp][p.first]));
    std::printf("\n");
  }
  if (programs.size() == 2) {
    std::printf("%-8s", "ratio");
    for (const char* temp : {"warm", "cold"}) {
      if (!secs.count(temp)) continue;
      std::vector<double> r;
      for (size_t i = 0; i < secs[temp]["ours"].size(); ++i)
        r.push_back(secs[temp]["ours"][i] / secs[temp]["taglib"][i]);
      std::printf(" %9.2fx", Median(r));
    }
    std::printf("   (ours / taglib)\n");
  }
  for (const auto& p : programs) std::remove(p.second.back().c_str());
}

Options ParseArgs(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kHelp;
      std::exit(0);
    }
    if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value (see --help)");
    const std::string v = argv[++i];
    if (a == "--library") o.library = v;
    else if (a == "--mode") o.mode = v;
    else if (a == "--warm-rounds") o.warmRounds = std::stoi(v);
    else if (a == "--cold-rounds") o.coldRounds = std::stoi(v);
    else if (a == "--cold") o.cold = ParseColdMode(v);
    else if (a == "--methods") o.methods = SplitList(v);
    else if (a == "--kinds") {
      for (const std::string& k : SplitList(v)) o.kinds.insert(k);
    } else if (a == "--limit") o.limit = static_cast<size_t>(std::stoul(v));
    else if (a == "--report") o.report = v;
    else if (a == "--taglib-report") o.taglibReport = v;
    else if (a == "--variants") o.variants = SplitList(v);
    else throw std::invalid_argument("unknown argument: " + a + " (see --help)");
  }
  if (o.library.empty()) {
    const char* home = std::getenv("HOME");
    o.library = std::string(home ? home : "/root") + "/.cache/ordana/bench-library/v1";
  }
  return o;
}

}  // namespace

// The length of every file now and as it was measured before: the report's
// rows agree when these do. Differences are listed per kind of file.
void Agree(const std::vector<LibraryFile>& files) {
#if ORDANA_BENCH_HAVE_INPROCESS_FFMPEG
  std::map<std::string, std::pair<int, int>> byKind;  // differing, all
  int shown = 0;
  for (const LibraryFile& f : files) {
    const uint32_t now = GetTrackLength(f.path), before = InProcessTrackLength(f.path);
    auto& [differ, all] = byKind[f.kind];
    ++all;
    if (now == before) continue;
    ++differ;
    if (shown++ < 20) std::printf("  %s: %u ms, before %u ms\n", Utf16ToUtf8(f.path).bytes().c_str(), now, before);
  }
  std::printf("\nLengths now against before (ms, after truncation)\n%-16s %6s %8s\n", "files", "n", "differ");
  for (const auto& [kind, c] : byKind) std::printf("%-16s %6d %8d\n", kind.c_str(), c.second, c.first);
#else
  (void)files;
  std::printf("agree: built without FFmpeg in the benchmark; nothing to compare\n");
#endif
}

int main(int argc, char** argv) {
  try {
    const Options o = ParseArgs(argc, argv);
    const Library lib = LoadLibrary(o.library);
    std::vector<std::string> natives;
    for (const auto& f : lib.files) natives.push_back(Utf16ToUtf8(f.path).bytes());
    ColdCache cold(o.cold, natives);
    cold.Drop();
    std::printf("Library: %s (%zu files)\nCold: %s; after a drop %.1f%% of the first 50 files' pages are cached\n",
                lib.dir.c_str(), lib.files.size(), cold.Describe().c_str(),
                100 * std::max(0.0, cold.ResidentShare(50)));
#if !ORDANA_BENCH_HAVE_TAGLIB
    std::printf("TagLib: not found at configure time; its columns are left out\n");
#endif
    std::fflush(stdout);
    if (o.mode == "perfile" || o.mode == "all") PerFile(o, lib.files, cold);
    std::fflush(stdout);
    if (o.mode == "readahead" || o.mode == "all") ReadAheadVariants(o, lib, cold);
    std::fflush(stdout);
    if (o.mode == "month" || o.mode == "all") Month(o, lib, cold);
    std::fflush(stdout);
    if (o.mode == "agree" || o.mode == "all") Agree(lib.files);
  } catch (const std::exception& e) {
    std::cerr << "library_bench: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
