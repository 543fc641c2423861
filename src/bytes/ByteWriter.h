#pragma once
// ByteWriter: bytes built in order, with every number checked against the
// width it is written in.
//
// A value that does not fit its field (a length over 24 bits in PutU24BE,
// over 28 bits in PutSyncSafe32, a negative one passed as a huge unsigned
// number) is never truncated: the Put returns false, zeros of the field's
// width are written so that later offsets stay where they belong, and the
// writer is marked failed for good. A render looks at Ok() once at the end
// and refuses to use bytes that did not fit.
//
// No I/O and no text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ordana::bytes {

class ByteWriter {
 public:
  ByteWriter() = default;
  // Continues after bytes already built (a caller's prefix).
  explicit ByteWriter(std::string start) : out_(std::move(start)) {}

  bool Ok() const { return !failed_; }
  size_t Size() const { return out_.size(); }
  const std::string& Bytes() const { return out_; }
  // The bytes built; the writer is left empty.
  std::string Take() { return std::move(out_); }
  // Marks the writer failed (a value a caller found out of range).
  void Fail() { failed_ = true; }

  bool PutU8(uint64_t v) { return Put(v, 1, false, 0xFF); }
  bool PutU16LE(uint64_t v) { return Put(v, 2, false, 0xFFFF); }
  bool PutU16BE(uint64_t v) { return Put(v, 2, true, 0xFFFF); }
  bool PutU24BE(uint64_t v) { return Put(v, 3, true, 0xFFFFFF); }
  bool PutU32LE(uint64_t v) { return Put(v, 4, false, 0xFFFFFFFF); }
  bool PutU32BE(uint64_t v) { return Put(v, 4, true, 0xFFFFFFFF); }
  bool PutU64LE(uint64_t v) { return Put(v, 8, false, ~uint64_t{0}); }
  // Seven bits in each of four bytes, most significant first (at most 2^28 - 1).
  bool PutSyncSafe32(uint64_t v) {
    if (v > kMaxSyncSafe) return Refuse(4);
    for (int shift = 21; shift >= 0; shift -= 7) out_.push_back(static_cast<char>((v >> shift) & 0x7F));
    return true;
  }

  void PutBytes(std::string_view b) { out_.append(b); }
  void PutZeros(size_t n) { out_.append(n, '\0'); }

  // The same checks over bytes already written at `at` (at + width must lie
  // inside what was built, else the writer fails).
  bool PatchU8(size_t at, uint64_t v) { return Patch(at, v, 1, false, 0xFF); }
  bool PatchU16LE(size_t at, uint64_t v) { return Patch(at, v, 2, false, 0xFFFF); }
  bool PatchU32LE(size_t at, uint64_t v) { return Patch(at, v, 4, false, 0xFFFFFFFF); }
  bool PatchU64LE(size_t at, uint64_t v) { return Patch(at, v, 8, false, ~uint64_t{0}); }
  bool PatchSyncSafe32(size_t at, uint64_t v) {
    if (v > kMaxSyncSafe || at > out_.size() || out_.size() - at < 4) return Fail(), false;
    for (int i = 0; i < 4; ++i) out_[at + i] = static_cast<char>((v >> (21 - 7 * i)) & 0x7F);
    return true;
  }

  static constexpr uint64_t kMaxU24 = 0xFFFFFF;
  static constexpr uint64_t kMaxSyncSafe = 0x0FFFFFFF;

 private:
  bool Refuse(size_t width) {
    failed_ = true;
    out_.append(width, '\0');
    return false;
  }
  bool Put(uint64_t v, size_t width, bool bigEndian, uint64_t max) {
    if (v > max) return Refuse(width);
    const size_t at = out_.size();
    out_.append(width, '\0');
    Store(at, v, width, bigEndian);
    return true;
  }
  bool Patch(size_t at, uint64_t v, size_t width, bool bigEndian, uint64_t max) {
    if (v > max || at > out_.size() || out_.size() - at < width) return Fail(), false;
    Store(at, v, width, bigEndian);
    return true;
  }
  void Store(size_t at, uint64_t v, size_t width, bool bigEndian) {
    for (size_t i = 0; i < width; ++i, v >>= 8)
      out_[bigEndian ? at + width - 1 - i : at + i] = static_cast<char>(v & 0xFF);
  }

  std::string out_;
  bool failed_ = false;
};

}  // namespace ordana::bytes
