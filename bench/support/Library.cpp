#include "support/Library.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <unordered_map>

#include "platform/Collation.h"
#include "platform/TextCodec.h"

namespace ordana::bench {

Library LoadLibrary(const std::string& dir) {
  Library lib;
  lib.dir = dir;
  const std::string manifest = dir + "/manifest.tsv";
  std::ifstream in(manifest);
  if (!in) throw std::runtime_error(manifest + ": missing (run bench/library/make-library)");
  std::string line;
  std::vector<std::u16string> order;
  std::unordered_map<std::u16string, LibraryFile> byPath;
  while (std::getline(in, line)) {
    const size_t t1 = line.find('\t'), t2 = line.rfind('\t');
    if (t1 == std::string::npos || t2 == t1) throw std::runtime_error(manifest + ": bad line: " + line);
    LibraryFile f;
    f.path = Utf8ToUtf16(Utf8View(dir + "/music/" + line.substr(0, t1)));
    f.kind = line.substr(t1 + 1, t2 - t1 - 1);
    f.cover = line.substr(t2 + 1) == "1";
    order.push_back(f.path);
    byPath.emplace(f.path, std::move(f));
  }
  if (order.empty()) throw std::runtime_error(manifest + ": no files");
  SortByCollation(order);  // the order the report reads its rows in
  for (const std::u16string& p : order) lib.files.push_back(byPath.at(p));
  return lib;
}

ColdCache::ColdCache(Mode mode, std::vector<std::string> nativePaths)
    : mode_(mode), paths_(std::move(nativePaths)) {
  if (mode_ == Mode::Auto) {
    ::sync();  // dirty pages survive a drop
    std::ofstream drop("/proc/sys/vm/drop_caches");
    mode_ = (drop << "1" << std::flush) ? Mode::DropCaches : Mode::Fadvise;
  }
}

bool ColdCache::Drop() {
  switch (mode_) {
    case Mode::DropCaches: {
      std::ofstream drop("/proc/sys/vm/drop_caches");
      return static_cast<bool>(drop << "1" << std::flush);
    }
    case Mode::Fadvise: {
      bool ok = true;
      for (const std::string& p : paths_) {
        const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) {
          ok = false;
          continue;
        }
        ok = ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0 && ok;
        ::close(fd);
      }
      return ok;
    }
    case Mode::None:
    case Mode::Auto:
      break;
  }
  return true;
}

std::string ColdCache::Describe() const {
  switch (mode_) {
    case Mode::DropCaches:
      return "page cache dropped through /proc/sys/vm/drop_caches";
    case Mode::Fadvise:
      return "posix_fadvise(POSIX_FADV_DONTNEED) on every file";
    case Mode::None:
      return "not dropped (cold passes run warm)";
    case Mode::Auto:
      break;
  }
  return "?";
}

double ColdCache::ResidentShare(size_t sample) const {
  const long page = ::sysconf(_SC_PAGESIZE);
  size_t pages = 0, resident = 0;
  for (size_t i = 0; i < paths_.size() && i < sample; ++i) {
    const int fd = ::open(paths_[i].c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      void* map = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
      if (map != MAP_FAILED) {
        std::vector<unsigned char> vec((static_cast<size_t>(st.st_size) + page - 1) / page);
        if (::mincore(map, static_cast<size_t>(st.st_size), vec.data()) == 0) {
          pages += vec.size();
          for (unsigned char c : vec) resident += c & 1;
        }
        ::munmap(map, static_cast<size_t>(st.st_size));
      }
    }
    ::close(fd);
  }
  return pages ? static_cast<double>(resident) / static_cast<double>(pages) : -1;
}

ColdCache::Mode ParseColdMode(const std::string& text) {
  if (text == "auto") return ColdCache::Mode::Auto;
  if (text == "drop") return ColdCache::Mode::DropCaches;
  if (text == "fadvise") return ColdCache::Mode::Fadvise;
  if (text == "none") return ColdCache::Mode::None;
  throw std::invalid_argument("--cold wants auto, drop, fadvise or none, not " + text);
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace ordana::bench
