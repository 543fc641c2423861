#pragma once
// The journal of an in-place save, as every backend of the save layer writes
// and reads it (platform/SafeWrite.h). Layout: the old bytes of every range,
// back to back; then for each range its offset and length (u64
// little-endian); the file's identity (POSIX: device and inode; Windows:
// volume serial number and file index) and original size (u64); the length
// of the saved path (u32) and the path (UTF-8); the range count (u32); the
// length of everything after the old bytes, this field and the marker
// included (u32); last the commit marker "ORDJRNL1", written and synced
// after everything before it.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace ordana::journal {

inline constexpr char kMarker[] = "ORDJRNL1";
inline constexpr size_t kMarkerSize = 8;

struct Range {
  int64_t offset;
  int64_t length;
};

struct Info {
  uint64_t dev = 0, ino = 0, size = 0;
  std::string path;
  std::vector<Range> ranges;
  int64_t dataSize = 0;
};

inline void PutU64(std::string& s, uint64_t v) {
  for (int i = 0; i < 8; ++i) s += static_cast<char>(v >> (8 * i));
}
inline void PutU32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
}

// Everything after the old bytes except the marker.
inline std::string BuildIndex(const std::vector<Range>& ranges, uint64_t dev, uint64_t ino, uint64_t size,
                              const std::string& path) {
  std::string index;
  for (const Range& r : ranges) {
    PutU64(index, uint64_t(r.offset));
    PutU64(index, uint64_t(r.length));
  }
  PutU64(index, dev);
  PutU64(index, ino);
  PutU64(index, size);
  PutU32(index, uint32_t(path.size()));
  index += path;
  PutU32(index, uint32_t(ranges.size()));
  PutU32(index, uint32_t(index.size() + 4 + kMarkerSize));
  return index;
}

class Cursor {
 public:
  explicit Cursor(std::string_view b) : b_(b) {}
  bool U64(uint64_t& v) {
    if (b_.size() - at_ < 8) return false;
    v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b_[at_ + size_t(i)]);
    at_ += 8;
    return true;
  }
  bool U32(uint32_t& v) {
    if (b_.size() - at_ < 4) return false;
    v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b_[at_ + size_t(i)]);
    at_ += 4;
    return true;
  }
  bool Bytes(size_t n, std::string& out) {
    if (b_.size() - at_ < n) return false;
    out.assign(b_.substr(at_, n));
    at_ += n;
    return true;
  }

 private:
  std::string_view b_;
  size_t at_ = 0;
};

// Parses a journal's index; readExact(buf, n, pos) reads exactly n bytes of
// the journal at pos. False when the journal has no commit marker or does not
// hang together (it was never completed: the file was not touched).
template <class ReadExact>
bool ReadIndex(ReadExact&& readExact, int64_t journalSize, Info& info) {
  if (journalSize < int64_t(kMarkerSize + 4)) return false;
  char tail[kMarkerSize + 4];
  if (!readExact(tail, sizeof tail, journalSize - int64_t(sizeof tail))) return false;
  if (std::memcmp(tail + 4, kMarker, kMarkerSize) != 0) return false;
  uint32_t indexLen = 0;
  for (int i = 3; i >= 0; --i) indexLen = indexLen << 8 | static_cast<unsigned char>(tail[i]);
  if (indexLen < kMarkerSize + 4 + 28 || indexLen > journalSize || indexLen > (64u << 20)) return false;
  std::string index(indexLen - kMarkerSize - 4, '\0');
  const int64_t indexAt = journalSize - indexLen;
  if (!readExact(index.data(), index.size(), indexAt)) return false;
  // The range count stands at the end of the index; the ranges at its start.
  uint32_t count = 0;
  Cursor end(std::string_view(index).substr(index.size() - 4));
  end.U32(count);
  if (count > (index.size() - 4) / 16) return false;
  Cursor c(index);
  int64_t data = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t off = 0, len = 0;
    if (!c.U64(off) || !c.U64(len) || off > uint64_t(INT64_MAX) || len > uint64_t(INT64_MAX)) return false;
    info.ranges.push_back({int64_t(off), int64_t(len)});
    data += int64_t(len);
  }
  uint32_t pathLen = 0;
  if (!c.U64(info.dev) || !c.U64(info.ino) || !c.U64(info.size) || !c.U32(pathLen) || !c.Bytes(pathLen, info.path))
    return false;
  if (data != indexAt) return false;
  info.dataSize = data;
  return true;
}

// A name for the save's own files beside the file: ".<name><suffix>", with a
// very long name shortened to maxName units (and made unique again by a hash
// of it).
template <class Str>
Str CompanionName(const Str& name, const Str& suffix, size_t maxName) {
  Str base = name;
  const size_t limit = maxName - 1 - suffix.size();
  if (base.size() > limit) {
    uint64_t h = 1469598103934665603ull;
    for (auto c : name) h = (h ^ uint64_t(c)) * 1099511628211ull;
    Str hex(1, '-');
    for (int i = 15; i >= 0; --i) hex += static_cast<typename Str::value_type>("0123456789abcdef"[(h >> (4 * i)) & 15]);
    base = base.substr(0, limit - hex.size()) + hex;
  }
  return Str(1, '.') + base + suffix;
}

// Whether n, a name in the file's folder, is the journal of a save through
// another name (hard link) of the file: ".<name><suffix>", not own.
template <class Str>
bool IsOtherJournal(const Str& n, const Str& own, const Str& suffix) {
  return n.size() > suffix.size() + 1 && n[0] == '.' && n != own &&
         n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace ordana::journal
