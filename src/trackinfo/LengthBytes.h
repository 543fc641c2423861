#pragma once
// Bytes for the stated-length parsers: a source of bytes (a file, or memory
// in tests and fuzzers), a window that serves ranges of it from one buffer,
// and a bounded reader over a range. A read past the end of a range reads
// nothing, gives zero and marks the reader failed (sticky), so a parser reads
// a run of fields and looks at Ok() once.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace ordana::length {

class Source {
 public:
  virtual ~Source() = default;
  virtual int64_t Size() const = 0;  // -1 when unknown
  // Up to n bytes at pos; the count read (short only at the end), or -1.
  virtual int64_t ReadAt(int64_t pos, void* buf, size_t n) const = 0;
};

class MemorySource final : public Source {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  int64_t ReadAt(int64_t pos, void* buf, size_t n) const override;

 private:
  std::string_view bytes_;
};

class Reader {
 public:
  Reader() = default;
  Reader(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(data ? size : 0) {}
  static Reader Failed() {
    Reader r;
    r.failed_ = true;
    return r;
  }
  bool Ok() const { return !failed_; }
  size_t Size() const { return size_; }
  size_t Position() const { return pos_; }
  size_t Remaining() const { return size_ - pos_; }
  bool Has(uint64_t n) const { return !failed_ && n <= Remaining(); }
  bool Seek(uint64_t pos) {
    if (failed_ || pos > size_) return Fail();
    pos_ = static_cast<size_t>(pos);
    return true;
  }
  bool Skip(uint64_t n) { return Take(n) != nullptr || (Ok() && n == 0); }
  uint8_t U8() { return static_cast<uint8_t>(BE(1)); }
  uint16_t U16LE() { return static_cast<uint16_t>(LE(2)); }
  uint16_t U16BE() { return static_cast<uint16_t>(BE(2)); }
  uint32_t U24BE() { return static_cast<uint32_t>(BE(3)); }
  uint32_t U32LE() { return static_cast<uint32_t>(LE(4)); }
  uint32_t U32BE() { return static_cast<uint32_t>(BE(4)); }
  uint64_t U64LE() { return LE(8); }
  uint64_t U64BE() { return BE(8); }
  std::string_view Chars(uint64_t n) {
    const uint8_t* p = Take(n);
    return p ? std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(n)) : std::string_view();
  }
  // True when the next bytes are `text`; nothing is read.
  bool StartsWith(std::string_view text) const {
    return Has(text.size()) && std::memcmp(data_ + pos_, text.data(), text.size()) == 0;
  }
  const uint8_t* Data() const { return data_; }

 private:
  bool Fail() {
    failed_ = true;
    pos_ = size_;
    return false;
  }
  const uint8_t* Take(uint64_t n) {
    if (!Has(n)) return Fail(), nullptr;
    const uint8_t* p = data_ + pos_;
    pos_ += static_cast<size_t>(n);
    return n ? p : nullptr;
  }
  uint64_t LE(size_t n) {
    const uint8_t* p = Take(n);
    uint64_t v = 0;
    if (p)
      for (size_t i = n; i-- > 0;) v = (v << 8) | p[i];
    return v;
  }
  uint64_t BE(size_t n) {
    const uint8_t* p = Take(n);
    uint64_t v = 0;
    if (p)
      for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
  }

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
  bool failed_ = false;
};

// Serves ranges of a source from one buffer, refilled with read-ahead, so
// that neighbouring ranges cost one read. A reader from Get stays valid until
// the next Get.
class Window {
 public:
  explicit Window(const Source& source, size_t readAhead = 16384)
      : source_(source), size_(source.Size()), readAhead_(readAhead) {}
  int64_t Size() const { return size_; }
  // The n bytes at pos; a failed reader when the source does not hold them.
  Reader Get(int64_t pos, size_t n);

 private:
  const Source& source_;
  int64_t size_;
  size_t readAhead_;
  std::string buf_;
  int64_t bufPos_ = -1;
};

}  // namespace ordana::length
