#include "support/System.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/TextCodec.h"
#include "support/SystemScratch.h"

namespace ordana::test {

namespace fs = std::filesystem;

fs::path Utf8Path(std::string_view utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string PathText(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

std::string BuiltProgram(std::string_view relativePath) {
  fs::path p = Utf8Path(ORDANA_BINARY_DIR) / Utf8Path(relativePath);
  if (kHostIsWindows) {
    p += ".exe";
    p = fs::absolute(p).make_preferred();  // a drive letter, backslashes
  }
  return PathText(p);
}

// A name for a file that takes a program's standard error, unique to this call.
fs::path ScratchFile() {
  static std::atomic<unsigned> counter{0};
  static const unsigned long long seed =
      std::random_device{}() ^ static_cast<unsigned long long>(
                                   std::chrono::steady_clock::now().time_since_epoch().count());
  return fs::temp_directory_path() /
         ("ordana-run-" + std::to_string(seed % 1000000007) + "-" + std::to_string(counter++) + ".txt");
}

std::string ReadAndRemove(const fs::path& p) {
  std::string text;
  {
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    text = s.str();
  }
  std::error_code ec;
  fs::remove(p, ec);
  return text;
}

}  // namespace ordana::test
