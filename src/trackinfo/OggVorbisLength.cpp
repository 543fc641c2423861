// Ogg Vorbis: the granule position of the stream's last page is its sample
// count, the identification header on the first page its rate. The last page
// is found by searching backwards from the end of the file; only a whole page
// of the same logical stream whose checksum holds counts, so a capture
// pattern inside audio data, a cut last page or a chained stream is not
// mistaken for it.
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "trackinfo/StatedLength.h"

namespace ordana {

namespace {

constexpr size_t kMaxPage = 27 + 255 + 255 * 255;  // header, segment table, body

// The Ogg checksum: CRC-32 with polynomial 0x04C11DB7, most significant bit
// first, initial value 0, no final inversion; eight bytes per step.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;
constexpr CrcTables MakeCrcTables() {
  CrcTables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i << 24;
    for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
    t[0][i] = c;
  }
  for (size_t k = 1; k < 8; ++k)
    for (uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
  return t;
}
constexpr CrcTables kCrc = MakeCrcTables();

uint32_t OggCrc(uint32_t crc, const uint8_t* p, size_t n) {
  while (n >= 8) {
    crc ^= (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    crc = kCrc[7][crc >> 24] ^ kCrc[6][(crc >> 16) & 0xFF] ^ kCrc[5][(crc >> 8) & 0xFF] ^ kCrc[4][crc & 0xFF] ^
          kCrc[3][p[4]] ^ kCrc[2][p[5]] ^ kCrc[1][p[6]] ^ kCrc[0][p[7]];
    p += 8;
    n -= 8;
  }
  while (n--) crc = (crc << 8) ^ kCrc[0][(crc >> 24) ^ *p++];
  return crc;
}

struct Page {
  int64_t granule = 0;
  uint32_t serial = 0;
  size_t headerSize = 0;  // 27 + segments
  size_t bodySize = 0;
};

// The page at the start of `bytes`, when it is whole and its checksum holds.
std::optional<Page> ReadPage(const uint8_t* bytes, size_t avail) {
  length::Reader r(bytes, avail);
  if (!r.StartsWith("OggS")) return std::nullopt;
  r.Skip(4);
  if (r.U8() != 0) return std::nullopt;  // stream structure version
  r.Skip(1);                             // header type
  Page page;
  page.granule = static_cast<int64_t>(r.U64LE());
  page.serial = r.U32LE();
  r.Skip(4);  // page sequence number
  const uint32_t stored = r.U32LE();
  const uint8_t segments = r.U8();
  const std::string_view lacing = r.Chars(segments);
  if (!r.Ok()) return std::nullopt;
  for (unsigned char v : lacing) page.bodySize += v;
  page.headerSize = 27 + segments;
  if (page.headerSize + page.bodySize > avail) return std::nullopt;
  static constexpr uint8_t kZero[4] = {};
  uint32_t crc = OggCrc(0, bytes, 22);
  crc = OggCrc(crc, kZero, 4);
  crc = OggCrc(crc, bytes + 26, page.headerSize - 26 + page.bodySize);
  if (crc != stored) return std::nullopt;
  return page;
}

constexpr size_t kNoByte = static_cast<size_t>(-1);

// The offset of the last 'O' among the n bytes at base (kNoByte when there is
// none), eight bytes at a time.
size_t LastO(const uint8_t* base, size_t n) {
  constexpr uint64_t kOnes = 0x0101010101010101u, kHigh = 0x8080808080808080u, kO = 'O' * kOnes;
  for (; n >= 8; n -= 8) {
    uint64_t word;
    std::memcpy(&word, base + n - 8, 8);
    const uint64_t x = word ^ kO;  // a zero byte where the byte is 'O'
    if ((x - kOnes) & ~x & kHigh) break;
  }
  while (n-- > 0)
    if (base[n] == 'O') return n;
  return kNoByte;
}

// The last whole page of the file's tail, searching backwards; nullopt when
// there is none in the tail (or the last one is not the stream's).
enum class Tail { kFound, kNone, kOther };
Tail LastPage(length::Window& w, int64_t from, size_t span, uint32_t serial, Page& out) {
  const int64_t size = w.Size();
  const auto len = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(span), size - from));
  length::Reader tail = w.Get(size - static_cast<int64_t>(len), len);
  if (!tail.Ok()) return Tail::kNone;
  const uint8_t* base = tail.All().data();
  // Candidates from the end backwards: each 'O' that starts "OggS" with a
  // whole page header after it.
  for (size_t o = len >= 27 ? len - 27 + 1 : 0; o > 0;) {
    o = LastO(base, o);
    if (o == kNoByte) break;
    if (base[o + 1] != 'g' || base[o + 2] != 'g' || base[o + 3] != 'S') continue;
    auto page = ReadPage(base + o, len - o);
    if (!page) continue;
    if (page->serial != serial) return Tail::kOther;  // chained or multiplexed: not ours to count
    if (page->granule == -1) continue;                // no packet ends on this page
    out = *page;
    return Tail::kFound;
  }
  return Tail::kNone;
}

}  // namespace

StatedLength OggVorbisStatedLength(const length::Source& file) {
  // The head needs a few hundred bytes (ID3v2 headers, the first page); the
  // tail is read in one piece below.
  length::Window w(file, 512);
  const int64_t start = length::LeadingId3v2Size(w);
  const int64_t size = w.Size();
  // The first page, whose first packet is the Vorbis identification header.
  const auto headAvail = static_cast<size_t>(std::min<int64_t>(27 + 255 + 30, size - start));
  length::Reader head = w.Get(start, headAvail);
  if (!head.StartsWith("OggS") || headAvail < 27) return StatedLength::NotStated();
  length::Reader h = head;
  h.Skip(4);
  if (h.U8() != 0) return StatedLength::NotStated();
  h.Skip(1 + 8);
  const uint32_t serial = h.U32LE();
  h.Skip(8);
  const uint8_t segments = h.U8();
  if (!h.Skip(segments)) return StatedLength::NotStated();
  if (!h.StartsWith(std::string_view("\x01vorbis", 7))) return StatedLength::NotStated();
  h.Skip(7);
  const uint32_t version = h.U32LE();
  const uint8_t channels = h.U8();
  const uint32_t rate = h.U32LE();
  if (!h.Ok() || version != 0 || channels == 0 || rate == 0) return StatedLength::NotStated();

  // The last page of a Vorbis stream is rarely longer than 8 KiB; a longer
  // one is found in a second search over the longest two pages can be.
  constexpr size_t kTailSpan = 8192;
  Page last;
  Tail found = LastPage(w, start, kTailSpan, serial, last);
  if (found == Tail::kNone && size - start > static_cast<int64_t>(kTailSpan))
    found = LastPage(w, start, 2 * kMaxPage, serial, last);
  // A last granule of 0 or less says nothing about the length.
  if (found != Tail::kFound || last.granule <= 0) return StatedLength::NotStated();
  return StatedLength::Samples(last.granule, rate);
}

}  // namespace ordana
