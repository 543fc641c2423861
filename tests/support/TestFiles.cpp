#include "support/TestFiles.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/TextCodec.h"

namespace ordana::test {

TempDir::TempDir() {
  // Seeded from the clock as well: test programs running at once must not
  // pick the same names.
  static std::mt19937_64 rng{std::random_device{}() ^
                             static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
  auto base = std::filesystem::temp_directory_path();
  for (int i = 0; i < 100; ++i) {
    auto p = base / ("ordana-test-" + std::to_string(rng() % 1000000000000ull));
    std::error_code ec;
    if (std::filesystem::create_directory(p, ec)) {
      path_ = p;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  // Make everything removable again (tests may leave read-only files).
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::File(std::string_view name) const { return PathText(path_ / Utf8Path(name)); }
std::u16string TempDir::File16(std::string_view name) const { return Utf8ToUtf16(Utf8View(File(name))); }

void WriteBytes(const std::filesystem::path& p, std::string_view bytes) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  if (!f) throw std::runtime_error("cannot write " + PathText(p));
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
void WriteBytes(const std::string& utf8Path, std::string_view bytes) { WriteBytes(Utf8Path(utf8Path), bytes); }
void WriteBytes(const char* utf8Path, std::string_view bytes) { WriteBytes(Utf8Path(utf8Path), bytes); }

std::string ReadBytes(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + PathText(p));
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}
std::string ReadBytes(const std::string& utf8Path) { return ReadBytes(Utf8Path(utf8Path)); }
std::string ReadBytes(const char* utf8Path) { return ReadBytes(Utf8Path(utf8Path)); }

std::string LE16(uint32_t v) { return {char(v & 0xFF), char((v >> 8) & 0xFF)}; }
std::string LE32(uint32_t v) { return LE16(v & 0xFFFF) + LE16(v >> 16); }
std::string LE64(uint64_t v) { return LE32(uint32_t(v)) + LE32(uint32_t(v >> 32)); }
std::string BE16(uint32_t v) { return {char((v >> 8) & 0xFF), char(v & 0xFF)}; }
std::string BE24(uint32_t v) { return {char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF)}; }
std::string BE32(uint32_t v) { return BE16(v >> 16) + BE16(v & 0xFFFF); }
std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}
std::string Zeros(size_t n) { return std::string(n, '\0'); }

bool HaveTool(const std::string& program) {
  if (!kHaveLinuxTools) return false;
  return Run("command -v " + ShellQuote(program)) == 0;
}

bool ToolsRequired() {
  // The Debian tools exist only on the Linux side; on Windows a test that
  // wants them skips, whatever the environment asks.
  if (!kHaveLinuxTools) return false;
  const char* v = std::getenv("ORDANA_REQUIRE_TOOLS");
  return v && std::string(v) == "1";
}

std::string Digest(std::string_view bytes) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

}  // namespace ordana::test
