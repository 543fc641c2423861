#pragma once
// ByteReader: values read in order from a span of bytes, never past its end.
//
// A read that the remaining bytes cannot satisfy reads nothing, returns zero
// (or an empty span), moves to the end and marks the reader failed. The
// failure is sticky: every later read fails too, so a parser can read a run
// of fields and look at Ok() once. Readers are cheap to copy; Sub() and At()
// give readers over parts of the same bytes.
//
// No I/O and no text: the bytes are what a caller holds in memory.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace ordana::bytes {

using Span = std::span<const uint8_t>;

class ByteReader {
 public:
  ByteReader() = default;
  ByteReader(const void* data, size_t size)
      : data_(static_cast<const uint8_t*>(data)), size_(data ? size : 0) {}
  explicit ByteReader(Span bytes) : ByteReader(bytes.data(), bytes.size()) {}
  explicit ByteReader(std::string_view bytes) : ByteReader(bytes.data(), bytes.size()) {}
  // A reader that has failed from the start (over no bytes).
  static ByteReader Failed() {
    ByteReader r;
    r.failed_ = true;
    return r;
  }

  size_t Size() const { return size_; }
  size_t Position() const { return pos_; }
  size_t Remaining() const { return size_ - pos_; }
  bool Ok() const { return !failed_; }
  bool HasFailed() const { return failed_; }
  // True when n more bytes can be read (and no read has failed).
  bool Has(uint64_t n) const { return !failed_ && n <= Remaining(); }
  // Marks the reader failed, as a read past the end would.
  void Fail() {
    failed_ = true;
    pos_ = size_;
  }

  // Moves to an absolute position; a position past the end fails.
  bool Seek(uint64_t pos) {
    if (failed_ || pos > size_) return Fail(), false;
    pos_ = static_cast<size_t>(pos);
    return true;
  }
  bool Skip(uint64_t n) {
    Take(n);
    return Ok();
  }

  uint8_t U8() {
    const uint8_t* p = Take(1);
    return Ok() ? p[0] : 0;
  }
  uint16_t U16LE() { return static_cast<uint16_t>(LE(2)); }
  uint16_t U16BE() { return static_cast<uint16_t>(BE(2)); }
  uint32_t U24BE() { return static_cast<uint32_t>(BE(3)); }
  uint32_t U32LE() { return static_cast<uint32_t>(LE(4)); }
  uint32_t U32BE() { return static_cast<uint32_t>(BE(4)); }
  uint64_t U64LE() { return LE(8); }
  uint64_t U64BE() { return BE(8); }
  // An unsigned little-endian number of n bytes (0 to 8).
  uint64_t UintLE(size_t n) { return n <= 8 ? LE(n) : (Fail(), 0); }
  // Four bytes of seven bits each, most significant first, combined as they
  // stand: (b0 << 21) + (b1 << 14) + (b2 << 7) + b3. A well-formed value has
  // the top bit of every byte clear; callers that must refuse others check.
  uint32_t SyncSafe32() {
    const uint8_t* p = Take(4);
    if (HasFailed()) return 0;
    return (uint32_t{p[0]} << 21) + (uint32_t{p[1]} << 14) + (uint32_t{p[2]} << 7) + p[3];
  }

  // The next n bytes; empty (and failed) when fewer remain.
  Span Bytes(uint64_t n) {
    const uint8_t* p = Take(n);
    return Ok() ? Span(p, static_cast<size_t>(n)) : Span();
  }
  std::string_view Chars(uint64_t n) {
    const Span s = Bytes(n);
    return {reinterpret_cast<const char*>(s.data()), s.size()};
  }
  // Copies the next n bytes to out (zeros and failed when fewer remain).
  bool CopyTo(void* out, size_t n) {
    const uint8_t* p = Take(n);
    if (HasFailed()) {
      if (n) std::memset(out, 0, n);
      return false;
    }
    if (n) std::memcpy(out, p, n);
    return true;
  }
  // Everything from the position on; the reader is then at its end.
  Span Rest() { return Bytes(Remaining()); }
  // A reader over the next n bytes (failed when fewer remain); this reader
  // moves past them.
  ByteReader Sub(uint64_t n) {
    const uint8_t* p = Take(n);
    return Ok() ? ByteReader(p, static_cast<size_t>(n)) : Failed();
  }
  // A fresh reader over the same bytes at pos (failed when pos is past the
  // end); this reader does not move.
  ByteReader At(uint64_t pos) const {
    ByteReader r(data_, size_);
    r.Seek(pos);
    return r;
  }
  // True when the next bytes equal text; nothing is read or failed.
  bool StartsWith(std::string_view text) const {
    return !failed_ && text.size() <= Remaining() &&
           (text.empty() || std::memcmp(data_ + pos_, text.data(), text.size()) == 0);
  }
  // How many bytes from the position on come before the first `byte`;
  // npos when none of the remaining bytes is one.
  size_t Find(uint8_t byte) const {
    if (failed_ || pos_ == size_) return npos;
    const void* hit = std::memchr(data_ + pos_, byte, size_ - pos_);
    return hit ? static_cast<size_t>(static_cast<const uint8_t*>(hit) - (data_ + pos_)) : npos;
  }
  static constexpr size_t npos = static_cast<size_t>(-1);
  // StartsWith, and on a match moves past text.
  bool Match(std::string_view text) {
    if (!StartsWith(text)) return false;
    pos_ += text.size();
    return true;
  }

  // All bytes of the reader, whatever its position.
  Span All() const { return Span(data_, size_); }
  std::string_view AllChars() const { return {reinterpret_cast<const char*>(data_), size_}; }

 private:
  // The next n bytes, or nullptr with the reader failed. (Zero bytes of an
  // empty reader may be nullptr too: callers test Ok(), not the pointer.)
  const uint8_t* Take(uint64_t n) {
    if (!Has(n)) return Fail(), nullptr;
    const uint8_t* p = data_ + pos_;
    pos_ += static_cast<size_t>(n);
    return p;
  }
  uint64_t LE(size_t n) {
    const uint8_t* p = Take(n);
    uint64_t v = 0;
    if (Ok())
      for (size_t i = n; i-- > 0;) v = (v << 8) | p[i];
    return v;
  }
  uint64_t BE(size_t n) {
    const uint8_t* p = Take(n);
    uint64_t v = 0;
    if (Ok())
      for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
  }

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
  bool failed_ = false;
};

}  // namespace ordana::bytes
