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

// The bytes of a file (aborts when it cannot be read).
std::string ReadInputFile(const std::u16string& path);

// Splits a save harness's input into choices and a file. The input starts
// with the length of the choice block that follows: one byte below 0x80, or
// two bytes (big-endian, top bit set) for up to 32767 bytes. The rest is the
// file. Choices read past the block are zero, so every input is usable.
class SaveInput {
 public:
  SaveInput(const uint8_t* data, size_t size);
  const uint8_t* FileData() const { return file_; }
  size_t FileSize() const { return fileSize_; }

  uint8_t Byte();
  bool Flag() { return (Byte() & 1) != 0; }
  // A text of up to 1023 units. Clean texts hold no U+0000, no lone
  // surrogate and no byte-order mark (ASCII, Cyrillic, any other BMP
  // character, or pairs); others may hold anything. clean tells which kind
  // was made.
  std::u16string Text(bool& clean);
  // Up to 1023 raw bytes.
  std::string Bytes();

 private:
  const uint8_t* choices_;
  size_t choiceSize_;
  size_t at_ = 0;
  const uint8_t* file_;
  size_t fileSize_;
};

// The start of every save harness: the input split, its file written to
// name, the file's bytes kept for comparing.
struct SaveCase {
  SaveCase(const uint8_t* data, size_t size, std::string_view name);
  SaveInput in;
  std::u16string path;
  std::string before;
  // The file's bytes after a save; when the save failed or had nothing to
  // do (changed false) they must still be the original ones.
  std::string After(bool changed) const;
};

// Aborts with a message: a broken invariant is a finding.
[[noreturn]] void Fail(const char* what);
inline void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}
// Checks that a value read back equals the one written; on a difference both
// are printed (as UTF-16 code units) before the abort.
void CheckSame(const std::u16string& got, const std::u16string& want, const char* what);
void CheckSame(const std::string& got, const std::string& want, const char* what);

}  // namespace ordana::fuzz
