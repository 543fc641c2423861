#pragma once
// A temporary folder for the files a benchmark generates at start; it and
// everything in it are removed when the benchmark program ends.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace ordana::bench {

struct BenchFolder {
  std::filesystem::path dir;
  std::vector<std::u16string> files;  // the generated files, as readers take them

  // Makes /tmp/<prefix>-XXXXXX; aborts when it cannot.
  explicit BenchFolder(const std::string& prefix) {
    std::string tmpl = "/tmp/" + prefix + "-XXXXXX";
    if (!::mkdtemp(tmpl.data())) std::abort();
    dir = tmpl;
  }
  ~BenchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  BenchFolder(const BenchFolder&) = delete;
  BenchFolder& operator=(const BenchFolder&) = delete;
};

}  // namespace ordana::bench
