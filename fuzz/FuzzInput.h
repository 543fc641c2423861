#pragma once
// Support for the fuzz harnesses: the readers take file names, so every
// input is written to a file in a private folder on a memory file system
// (/dev/shm when there is one, else the temporary folder) before the reader
// is called. The folder is made once per process and removed at its end.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ordana::fuzz {

// Writes the bytes to <folder>/<name> (replacing what was there) and returns
// the path as UTF-16, ready for a reader. Aborts when the file cannot be
// written: a harness that reads nothing would fuzz nothing.
std::u16string WriteInputFile(const uint8_t* data, size_t size, std::string_view name);

// The private folder (UTF-8, no trailing '/').
const std::string& InputFolder();

// Aborts with a message: a broken invariant is a finding.
[[noreturn]] void Fail(const char* what);
inline void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

}  // namespace ordana::fuzz
