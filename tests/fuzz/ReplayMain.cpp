// Runs a fuzz harness over files, without libFuzzer: every regular file
// under the paths given (folders are walked, in name order) is passed to
// LLVMFuzzerTestOneInput once. A harness aborts on a broken invariant; an
// input that takes longer than the limit counts as a hang. Used to replay
// the regression corpus in tests/corpus/ in the normal and the sanitizer
// builds.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

void Usage(const char* program) {
  std::printf(
      "Usage: %s [--limit SECONDS] PATH...\n"
      "Runs this fuzz harness once over every file under each PATH (a file or a\n"
      "folder, walked in name order). Fails when a path is missing or empty, or\n"
      "when one input takes longer than the limit (default 5 s). A broken\n"
      "invariant aborts the program.\n",
      program);
}

// A path as UTF-8 text for messages (on Windows the native form is UTF-16).
std::string Text(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

bool Collect(const fs::path& path, std::vector<fs::path>& files) {
  std::error_code ec;
  if (fs::is_regular_file(path, ec)) {
    files.push_back(path);
    return true;
  }
  if (!fs::is_directory(path, ec)) return false;
  std::vector<fs::path> found;
  for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file(ec)) found.push_back(it->path());
  if (ec) return false;
  std::sort(found.begin(), found.end());
  files.insert(files.end(), found.begin(), found.end());
  return !found.empty();
}

}  // namespace

int main(int argc, char** argv) {
  double limit = 5.0;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      Usage(argv[0]);
      return 0;
    }
    if (std::strcmp(argv[i], "--limit") == 0 && i + 1 < argc) {
      limit = std::atof(argv[++i]);
      continue;
    }
    if (!Collect(argv[i], files)) {
      std::fprintf(stderr, "%s: no inputs at %s\n", argv[0], argv[i]);
      return 2;
    }
  }
  if (files.empty()) {
    Usage(argv[0]);
    return 2;
  }
  double slowest = 0;
  fs::path slowestFile;
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) {
      std::fprintf(stderr, "cannot read %s\n", Text(file).c_str());
      return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (seconds > slowest) slowest = seconds, slowestFile = file;
    if (seconds > limit) {
      std::fprintf(stderr, "hang: %s took %.2f s (limit %.2f s)\n", Text(file).c_str(), seconds, limit);
      return 1;
    }
  }
  std::printf("%zu inputs, slowest %.3f s (%s)\n", files.size(), slowest, Text(slowestFile.filename()).c_str());
  return 0;
}
