#pragma once
// The generated benchmark library (bench/library/make-library): its files in
// the report's row order, and the means of making the page cache cold.
#include <cstdint>
#include <string>
#include <vector>

namespace ordana::bench {

struct LibraryFile {
  std::u16string path;  // absolute, as the readers take it
  std::string kind;     // "mp3-cbr", "flac", "m4a-moov-last", ...
  bool cover = false;   // carries a 200 KB picture
};

struct Library {
  std::string dir;                  // holds music/, logs/, manifest.tsv
  std::vector<LibraryFile> files;   // sorted like the report's rows
};

// Reads dir/manifest.tsv; throws std::runtime_error naming the file when it
// is missing or malformed.
Library LoadLibrary(const std::string& dir);

// Drops the cached pages of a set of files before a cold pass: through
// /proc/sys/vm/drop_caches (the whole page cache, "1") where this process
// may write it, else with posix_fadvise(POSIX_FADV_DONTNEED) on every file.
class ColdCache {
 public:
  enum class Mode { Auto, DropCaches, Fadvise, None };
  ColdCache(Mode mode, std::vector<std::string> nativePaths);
  // Makes the files cold; false when the chosen way failed.
  bool Drop();
  // The way actually used, in words.
  std::string Describe() const;
  // The share of the pages of (up to) the first `sample` files that are in
  // the page cache now, through mincore (0..1; -1 when it cannot be told).
  double ResidentShare(size_t sample) const;
  Mode mode() const { return mode_; }

 private:
  Mode mode_;
  std::vector<std::string> paths_;
};

ColdCache::Mode ParseColdMode(const std::string& text);  // throws std::invalid_argument

// Median of a list (the mean of the middle two for an even count); 0 for none.
double Median(std::vector<double> v);

}  // namespace ordana::bench
