#pragma once
// ASF building blocks shared by the WMA reader and writer: the object GUIDs
// and a bounded little-endian cursor over one object of a file.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"

namespace ordana::wma {

using Guid = uint8_t[16];

// GUIDs as they stand on disk (first three groups little-endian).
inline constexpr Guid kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                       0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
inline constexpr Guid kFilePropertiesObject = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                               0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
inline constexpr Guid kStreamPropertiesObject = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                                 0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
inline constexpr Guid kContentDescriptionObject = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66,
                                                   0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA,
                                                   0x00, 0x62, 0xCE, 0x6C};
inline constexpr Guid kExtendedContentDescriptionObject = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3,
                                                           0xD2, 0x11, 0x97, 0xF0, 0x00, 0xA0,
                                                           0xC9, 0x5E, 0xA8, 0x50};
inline constexpr Guid kCodecListObject = {0x40, 0x52, 0xD1, 0x86, 0x1D, 0x31, 0xD0, 0x11,
                                          0xA3, 0xA4, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0xF6};
inline constexpr Guid kDataObject = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

inline constexpr int64_t kObjectHeaderSize = 24;  // GUID + 64-bit size
inline constexpr size_t kMaxTextChars = 4096;     // longer texts are cut

inline bool SameGuid(const void* bytes, const Guid& g) { return std::memcmp(bytes, g, 16) == 0; }

// Reads little-endian values from [start, end) of a file. A read that would
// cross the end delivers what lies before it and reports false; the cursor
// still moves by the full amount, so every later read is short as well.
class ObjectCursor {
 public:
  ObjectCursor(const InputFile& f, int64_t start, int64_t end) : f_(f), pos_(start), end_(end) {}

  int64_t Position() const { return pos_; }
  bool IoError() const { return ioError_; }
  void Skip(int64_t n) { pos_ += n; }

  bool ReadBytes(void* buf, size_t n) {
    int64_t avail = end_ - pos_;
    size_t want = avail <= 0 ? 0 : std::min(n, static_cast<size_t>(avail));
    int64_t got = want ? f_.ReadAt(pos_, buf, want) : 0;
    if (got < 0) ioError_ = true, got = 0;
    pos_ += static_cast<int64_t>(n);
    return static_cast<size_t>(got) == n;
  }
  bool ReadU16(uint16_t& v) { return ReadLE(v, 2); }
  bool ReadU32(uint32_t& v) { return ReadLE(v, 4); }
  bool ReadU64(uint64_t& v) { return ReadLE(v, 8); }

  // A text of byteLen bytes: at most kMaxTextChars UTF-16LE units are kept,
  // the rest is read past. The text keeps any terminating zero unit.
  bool ReadText(uint32_t byteLen, std::u16string& text) {
    const size_t chars = std::min<size_t>(byteLen / 2, kMaxTextChars);
    std::string bytes(2 * chars, '\0');
    bool ok = ReadBytes(bytes.data(), bytes.size());
    Skip(static_cast<int64_t>(byteLen) - static_cast<int64_t>(bytes.size()));
    if (ok) text = Utf16LEToUtf16(bytes);
    return ok;
  }
  // An unsigned number of byteLen bytes: 1, 2, 4 or 8 bytes are read, any
  // other length gives 0; bytes past the eighth are read past.
  bool ReadNumber(uint32_t byteLen, uint64_t& v) {
    const uint32_t n = std::min<uint32_t>(byteLen, 8);
    bool ok = true;
    v = 0;
    if (n == 1 || n == 2 || n == 4 || n == 8) ok = ReadLE(v, n);
    else Skip(n);
    Skip(static_cast<int64_t>(byteLen) - n);
    return ok;
  }

 private:
  template <class T>
  bool ReadLE(T& v, size_t n) {
    uint8_t b[8] = {};
    if (!ReadBytes(b, n)) return false;
    uint64_t x = 0;
    for (size_t i = n; i-- > 0;) x = (x << 8) | b[i];
    v = static_cast<T>(x);
    return true;
  }

  const InputFile& f_;
  int64_t pos_;
  int64_t end_;
  bool ioError_ = false;
};

}  // namespace ordana::wma
