#pragma once
// Helpers for tests that build their own fixture files: a temporary folder
// removed at the end of the test, byte writers, and finding the Debian tools
// (lame, flac, ffmpeg, mid3v2, ...) that encode independent fixtures.
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "support/System.h"

namespace ordana::test {

// A fresh folder under the system's temporary folder, removed with its
// content when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // path() / name as UTF-8 text, and as UTF-16 (what the readers take).
  std::string File(std::string_view name) const;
  std::u16string File16(std::string_view name) const;

 private:
  std::filesystem::path path_;
};

// A file's bytes, written or read whole. A path given as text is UTF-8.
void WriteBytes(const std::filesystem::path& p, std::string_view bytes);
void WriteBytes(const std::string& utf8Path, std::string_view bytes);
void WriteBytes(const char* utf8Path, std::string_view bytes);
std::string ReadBytes(const std::filesystem::path& p);
std::string ReadBytes(const std::string& utf8Path);
std::string ReadBytes(const char* utf8Path);

// Little builders for binary layouts.
std::string LE16(uint32_t v);
std::string LE32(uint32_t v);
std::string LE64(uint64_t v);
std::string BE16(uint32_t v);
std::string BE24(uint32_t v);
std::string BE32(uint32_t v);
std::string Bytes(std::initializer_list<int> bytes);
std::string Zeros(size_t n);

// True when the program is on PATH. When it is not, a test that needs it is
// skipped; unless ORDANA_REQUIRE_TOOLS=1 (set by scripts/test), where a
// missing tool is a failure. On Windows these tools are never at hand: the
// test is skipped, naming the tool.
bool HaveTool(const std::string& program);
#define ORDANA_REQUIRE_TOOL(program)                                               \
  do {                                                                              \
    ORDANA_SKIP_WITHOUT_LINUX_TOOLS(program);                                       \
    if (!::ordana::test::HaveTool(program)) {                                       \
      if (::ordana::test::ToolsRequired()) FAIL() << "missing tool: " << (program); \
      GTEST_SKIP() << "tool not installed: " << (program);                          \
    }                                                                               \
  } while (0)
bool ToolsRequired();

// An MD5-like digest for "unchanged bytes" checks (FNV-1a 64, hex).
std::string Digest(std::string_view bytes);

// A reader's fixture: bytes written to `name` in a fresh folder and read by
// a fresh reader (ReadFromFile); ok is the read's result.
template <class Reader>
struct ReadBack {
  ReadBack() = default;
  ReadBack(const std::string& bytes, const char* name) { Load(bytes, name); }
  void Load(const std::string& bytes, const char* name) {
    WriteBytes(dir.File(name), bytes);
    ok = reader.ReadFromFile(dir.File16(name));
  }
  TempDir dir;
  Reader reader;
  bool ok = false;
};

}  // namespace ordana::test
