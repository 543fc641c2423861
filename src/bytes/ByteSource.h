#pragma once
// Where a parser's bytes come from: a ByteSource is anything that can hand
// out ranges of a sequence of bytes (a file opened by the tag layer, or a
// buffer in memory: tests and fuzzers parse without files). SourceWindow
// serves the ranges a parser asks for from one buffer, so that a parse costs
// a few large reads, or none at all when the source lies in memory.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bytes/ByteReader.h"

namespace ordana::bytes {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The number of bytes; -1 when it cannot be known (then nothing can be read).
  virtual int64_t Size() const = 0;
  // Up to n bytes at pos into buf: the count read (short only at the end),
  // or -1 when the bytes cannot be read.
  virtual int64_t ReadAt(int64_t pos, void* buf, size_t n) const = 0;
  // The whole content when it lies in memory (readers then take spans of it
  // instead of copying); nullopt for other sources.
  virtual std::optional<Span> Memory() const { return std::nullopt; }
};

// Bytes in memory, owned by the caller; they must outlive the source.
class MemorySource final : public ByteSource {
 public:
  MemorySource(const void* data, size_t size)
      : bytes_(static_cast<const uint8_t*>(data), data ? size : 0) {}
  explicit MemorySource(std::string_view bytes) : MemorySource(bytes.data(), bytes.size()) {}
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  int64_t ReadAt(int64_t pos, void* buf, size_t n) const override;
  std::optional<Span> Memory() const override { return bytes_; }

 private:
  Span bytes_;
};

// A source whose every read fails: what a file that could not be opened reads as.
class UnreadableSource final : public ByteSource {
 public:
  int64_t Size() const override { return -1; }
  int64_t ReadAt(int64_t, void*, size_t) const override { return -1; }
};

// Serves ranges of a source. A range that is not in the buffer is read with
// read-ahead (up to readAhead bytes, never past SetAheadEnd nor the end of
// the source), so neighbouring ranges come from the same read. A reader
// returned by Get or GetUpTo stays valid until the next call of either.
class SourceWindow {
 public:
  static constexpr size_t kDefaultReadAhead = 4096;
  explicit SourceWindow(const ByteSource& source, size_t readAhead = kDefaultReadAhead);

  // The source's size, as it was when the window was made (-1: unknown).
  int64_t Size() const { return size_; }
  // Read-ahead stops at this offset (the end of a tag, once known).
  void SetAheadEnd(int64_t end) { aheadEnd_ = end; }
  // The n bytes at pos; a failed reader when the source does not hold them
  // all or they cannot be read.
  ByteReader Get(int64_t pos, size_t n);
  // As many of the n bytes at pos as the source holds (none past its end);
  // a failed reader only for a negative position or a read error.
  ByteReader GetUpTo(int64_t pos, size_t n);
  // Copies up to n bytes at pos to out and zero-fills the rest; returns the
  // count copied.
  size_t CopyPadded(int64_t pos, void* out, size_t n);
  // True once a read of the source has failed (not merely ended).
  bool ReadError() const { return readError_; }

 private:
  const ByteSource& source_;
  std::optional<Span> memory_;
  int64_t size_;
  size_t readAhead_;
  int64_t aheadEnd_;
  // The bytes read last, from bufPos_ on: bufLen_ of them in a buffer of
  // bufCap_ that is never zero-filled (only what a read wrote is looked at).
  std::unique_ptr<char[]> buf_;
  size_t bufCap_ = 0;
  size_t bufLen_ = 0;
  int64_t bufPos_ = 0;
  bool readError_ = false;
};

// Reads values in order from [start, end) of a window's source, fetching
// only what is read: Skip passes over bytes without reading them (a large
// value a parser does not keep costs nothing). Failure is sticky, as with
// ByteReader: a read or skip past the end (or a failed read of the source)
// reads nothing, gives zero and fails every later read.
class SourceReader {
 public:
  SourceReader(SourceWindow& window, int64_t start, int64_t end)
      : window_(window), pos_(start), end_(std::min(end, window.Size())) {
    if (start < 0 || end_ < start) failed_ = true;
  }

  bool Ok() const { return !failed_; }
  int64_t Position() const { return pos_; }
  int64_t Remaining() const { return failed_ ? 0 : end_ - pos_; }

  // The next n bytes as a reader over them (failed when they are not there).
  // Valid until the next read of this reader or its window.
  ByteReader Take(uint64_t n) {
    if (failed_ || n > static_cast<uint64_t>(end_ - pos_)) return Fail(), ByteReader::Failed();
    ByteReader r = window_.Get(pos_, static_cast<size_t>(n));
    if (!r.Ok()) return Fail(), r;
    pos_ += static_cast<int64_t>(n);
    return r;
  }
  bool Skip(uint64_t n) {
    if (failed_ || n > static_cast<uint64_t>(end_ - pos_)) return Fail(), false;
    pos_ += static_cast<int64_t>(n);
    return true;
  }
  uint8_t U8() { return Take(1).U8(); }
  uint16_t U16LE() { return Take(2).U16LE(); }
  uint32_t U32LE() { return Take(4).U32LE(); }
  uint64_t U64LE() { return Take(8).U64LE(); }

 private:
  void Fail() {
    failed_ = true;
    pos_ = end_;
  }
  SourceWindow& window_;
  int64_t pos_;
  int64_t end_;
  bool failed_ = false;
};

}  // namespace ordana::bytes
