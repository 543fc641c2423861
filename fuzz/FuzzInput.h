#pragma once
// Support for the fuzz harnesses. Readers parse the input straight from
// memory (InputSources); what needs a file (a save, ReadTrackInfo) gets the
// input written to a private folder on a memory file system (/dev/shm when
// there is one, else the temporary folder), made once per process and
// removed at its end.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bytes/ByteSource.h"

namespace ordana::fuzz {

// The input seen two ways: Memory() lets a parser take spans of the
// fuzzer's own buffer (so AddressSanitizer sees any read past its end),
// Copied() hands out copies the way a file does, which drives the window's
// buffered reads. A harness parses once from each.
class InputSources {
 public:
  InputSources(const uint8_t* data, size_t size) : memory_(data, size), copied_(memory_) {}
  const bytes::ByteSource& Memory() const { return memory_; }
  const bytes::ByteSource& Copied() const { return copied_; }

 private:
  class CopySource final : public bytes::ByteSource {
   public:
    explicit CopySource(const bytes::ByteSource& from) : from_(from) {}
    int64_t Size() const override { return from_.Size(); }
    int64_t ReadAt(int64_t pos, void* buf, size_t n) const override { return from_.ReadAt(pos, buf, n); }

   private:
    const bytes::ByteSource& from_;
  };
  bytes::MemorySource memory_;
  CopySource copied_;
};

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
// What every reader harness checks: one reader parses the input from
// memory, then through copies (so the second parse starts from a used
// reader). A failed parse must leave nothing found, and both parses must
// agree on the result, on found(reader) and on key(reader). The reader is
// left as the second parse made it, for a harness's own checks.
template <class Reader, class Found, class Key>
void ParseTwiceAlike(Reader& reader, const uint8_t* data, size_t size, Found found, Key key) {
  const InputSources in(data, size);
  const bool read = reader.ReadFromSource(in.Memory());
  const bool wasFound = found(reader);
  Check(read || !wasFound, "a failed read left a tag");
  const auto wasKey = key(reader);
  Check(reader.ReadFromSource(in.Copied()) == read && found(reader) == wasFound && key(reader) == wasKey,
        "memory and copied reads differ");
}

// The found() of a stream reader: Valid(), with the channel-mode text asked
// for whenever the stream is valid (it indexes a table by a value read).
inline constexpr auto kValidWithChannelMode = [](auto& reader) {
  const bool valid = reader.Valid();
  if (valid) (void)reader.ChannelMode();
  return valid;
};

// Checks that a value read back equals the one written; on a difference both
// are printed (as UTF-16 code units) before the abort.
void CheckSame(const std::u16string& got, const std::u16string& want, const char* what);
void CheckSame(const std::string& got, const std::string& want, const char* what);

}  // namespace ordana::fuzz
