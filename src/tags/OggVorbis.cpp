#include "tags/OggVorbis.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bytes/ByteWriter.h"
#include "platform/FileIO.h"
#include "platform/SafeWrite.h"
#include "platform/Strings.h"
#include "tags/FileSource.h"
#include "tags/ID3v2.h"

namespace ordana {

namespace {

constexpr int64_t kMaxCommentBytes = 500000;
constexpr int kLastPageWindows = 50;
constexpr int64_t kWindowStep = 241;
constexpr size_t kWindowSize = 251;

// The comment header's many small length fields are served from one
// buffer of this size.
constexpr size_t kCommentReadAhead = 1 << 16;

// One string of the comment header (the vendor or a comment).
void StoreString(VorbisTag& tag, const std::u16string& s) {
  size_t eq = s.find(u'=');
  if (eq != std::u16string::npos) {
    const std::u16string name = UpperAscii(std::u16string_view(s).substr(0, eq));
    for (size_t i = 0; i < kVorbisFieldNames.size(); ++i) {
      if (name == kVorbisFieldNames[i]) {
        tag.FieldData[i + 1] = Utf16ToUtf8(Trim(std::u16string_view(s).substr(eq + 1)));
        return;
      }
    }
    return;  // an unknown or empty name
  }
  if (tag.FieldData[0].empty()) tag.FieldData[0] = Utf16ToUtf8(s);
}

// The vendor string and the comments, from pos on. Stops where the data
// ends: a length or a text that runs past `end`, or a negative length, ends
// the header (TagComplete stays false).
void ReadCommentHeader(bytes::SourceWindow& in, FileInfo& info, int64_t pos, int64_t end) {
  int64_t index = 0;
  for (;;) {
    bytes::ByteReader lenField = in.Get(pos, 4);
    if (!lenField.Ok()) break;
    const int64_t len = static_cast<int32_t>(lenField.U32LE());
    const int64_t textPos = pos + 4;
    const int64_t left = end - textPos;
    const int64_t take = std::clamp<int64_t>(std::min(len, kMaxCommentBytes), 0, left);
    std::string_view text;
    if (take > 0) {
      bytes::ByteReader t = in.Get(textPos, static_cast<size_t>(take));
      if (!t.Ok()) break;
      text = t.AllChars();
    }
    StoreString(info.Tag, Trim(Utf8ToUtf16(text)));
    if (len < 0 || len > left) {
      pos = textPos + std::max<int64_t>(take, 0);
      break;
    }
    pos = textPos + len;
    if (index == 0) {
      bytes::ByteReader countField = in.Get(pos, 4);
      if (!countField.Ok()) break;
      info.Tag.Fields = static_cast<int32_t>(countField.U32LE());
      pos += 4;
    }
    ++index;
    if (index > info.Tag.Fields) {
      info.TagComplete = true;
      break;
    }
  }
  info.TagEndPos = pos;
}

// A comment packet is read across pages up to this size (and never beyond
// the file): cover art can make it long, but not this long.
constexpr int64_t kMaxCommentPacket = int64_t{16} << 20;
// At most this many pages are followed for one packet.
constexpr int kMaxPacketPages = 65536;

// The bytes of one packet that continues over the bodies of several pages,
// served as one sequence: pieces of the file in order.
class PacketSource final : public bytes::ByteSource {
 public:
  explicit PacketSource(const bytes::ByteSource& file) : file_(file) {}
  void Add(int64_t pos, int64_t n) {
    if (n > 0) pieces_.push_back({pos, size_, n}), size_ += n;
  }
  int64_t Size() const override { return size_; }
  int64_t ReadAt(int64_t pos, void* buf, size_t n) const override {
    if (pos < 0) return -1;
    size_t got = 0;
    for (const Piece& p : pieces_) {
      if (got == n) break;
      const int64_t at = pos + static_cast<int64_t>(got);
      if (at >= p.start + p.size || at < p.start) continue;
      const int64_t off = at - p.start;
      const size_t want = static_cast<size_t>(std::min<int64_t>(p.size - off, static_cast<int64_t>(n - got)));
      const int64_t r = file_.ReadAt(p.pos + off, static_cast<char*>(buf) + got, want);
      if (r < 0) return -1;
      got += static_cast<size_t>(r);
      if (static_cast<size_t>(r) < want) break;
    }
    return static_cast<int64_t>(got);
  }

 private:
  struct Piece {
    int64_t pos, start, size;  // file position, position in the packet, length
  };
  const bytes::ByteSource& file_;
  std::vector<Piece> pieces_;
  int64_t size_ = 0;
};

// When the comment packet that begins the second page's body does not end
// on that page (every lacing value is 255), its pieces on the pages that
// continue it, in order; false when it ends on the second page.
bool ContinuedPacket(bytes::SourceWindow& in, const FileInfo& info, PacketSource& packet) {
  const OggHeader& first = info.SPage;
  if (first.Segments == 0) return false;
  int64_t len = 0;
  for (int i = 0; i < first.Segments; ++i) {
    if (first.LacingValues[i] < 255) return false;
    len += 255;
  }
  const int64_t limit = std::min(info.FileSize, kMaxCommentPacket);
  int64_t bodyPos = info.SPagePos + 27 + first.Segments;
  auto add = [&](int64_t n) {
    packet.Add(bodyPos, std::min({n, limit - packet.Size(), std::max<int64_t>(info.FileSize - bodyPos, 0)}));
  };
  add(len);
  int64_t next = bodyPos + len;
  for (int pages = 0; pages < kMaxPacketPages && packet.Size() < limit && next < info.FileSize; ++pages) {
    uint8_t raw[OggHeader::kSize];
    in.CopyPadded(next, raw, sizeof raw);
    const OggHeader page = OggHeader::Parse(raw, sizeof raw);
    // The packet goes on only on a continuation page of the same stream.
    if (std::memcmp(page.ID, "OggS", 4) != 0 || !(page.TypeFlag & 1) || page.Serial != first.Serial) break;
    bodyPos = next + 27 + page.Segments;
    int64_t take = 0, all = 0;
    bool ended = false;
    for (int i = 0; i < page.Segments; ++i) {
      if (!ended) take += page.LacingValues[i];
      if (page.LacingValues[i] < 255) ended = true;
      all += page.LacingValues[i];
    }
    add(take);
    if (ended) break;
    next = bodyPos + all;
  }
  return true;
}

// The low 32 bits of the granule position of the page nearest the end of
// the file, found by searching backwards; 0 when no page is found. A window
// that would begin before the file is cut to its start, and the search ends
// there. The whole stretch the windows cover is read at once.
int32_t LastPageSamples(bytes::SourceWindow& in, int64_t fileSize) {
  const int64_t from = std::max<int64_t>(fileSize - kWindowStep * kLastPageWindows - 10, 0);
  const bytes::ByteReader tail = in.GetUpTo(from, static_cast<size_t>(std::max<int64_t>(fileSize - from, 0)));
  for (int i = 1; i <= kLastPageWindows; ++i) {
    const int64_t start = fileSize - kWindowStep * i - 10;
    const int64_t top = start + kWindowStep;  // highest page start this window examines
    if (top < 0) break;
    const int64_t lo = std::max<int64_t>(start, 0);
    const int64_t want = static_cast<int64_t>(kWindowSize) - (lo - start);
    const int64_t end = std::min(lo + want, from + static_cast<int64_t>(tail.Size()));
    for (int64_t pos = top; pos >= lo; --pos) {
      if (pos + 4 > end) continue;
      if (!tail.At(static_cast<size_t>(pos - from)).StartsWith("OggS")) continue;
      // The granule position; bytes past the end of the file count as zero.
      uint8_t granule[8] = {};
      bytes::ByteReader at = tail.At(static_cast<size_t>(pos - from + 6));
      at.CopyTo(granule, std::min<size_t>(sizeof granule, at.Remaining()));
      return static_cast<int32_t>(bytes::ByteReader(granule, sizeof granule).U32LE());
    }
    if (start <= 0) break;
  }
  return 0;
}

// Steps shared by reading and saving. False when the file does not hold an
// Ogg page with a Vorbis identification header where expected.
bool ReadInfo(const bytes::ByteSource& file, FileInfo& info) {
  info = FileInfo{};
  bytes::SourceWindow in(file, kCommentReadAhead);
  info.FileSize = std::max<int64_t>(in.Size(), 0);

  uint8_t id3[10];
  in.CopyPadded(0, id3, sizeof id3);
  info.ID3v2Size = ID3v2TotalTagSize(id3, info.FileSize);

  uint8_t page[OggHeader::kSize];
  in.CopyPadded(info.ID3v2Size, page, sizeof page);
  info.FPage = OggHeader::Parse(page, sizeof page);
  if (std::memcmp(info.FPage.ID, "OggS", 4) != 0) return false;

  const int64_t idPos = int64_t{info.ID3v2Size} + 27 + info.FPage.Segments;
  uint8_t ident[VorbisHeader::kSize];
  in.CopyPadded(idPos, ident, sizeof ident);
  info.Parameters = VorbisHeader::Parse(ident, sizeof ident);
  if (std::memcmp(info.Parameters.ID, "\x01vorbis", 7) != 0) return false;

  // The second page is taken to start right after the 30-byte
  // identification header, which is all a Vorbis stream's first page holds.
  info.SPagePos = idPos + static_cast<int64_t>(VorbisHeader::kSize);
  in.CopyPadded(info.SPagePos, page, sizeof page);
  info.SPage = OggHeader::Parse(page, sizeof page);
  const int64_t tagPos = info.SPagePos + 27 + info.SPage.Segments;
  uint8_t tagId[7];
  in.CopyPadded(tagPos, tagId, sizeof tagId);
  if (std::memcmp(tagId, "\x03vorbis", 7) == 0) {
    std::memcpy(info.Tag.ID, tagId, 7);
    info.HasTag = true;
    PacketSource packet(file);
    if (ContinuedPacket(in, info, packet)) {
      // The packet is read as the pages' bodies joined. Such a header
      // cannot be rewritten within one page, so a save is refused.
      bytes::SourceWindow joined(packet, kCommentReadAhead);
      ReadCommentHeader(joined, info, 7, packet.Size());
      info.TagComplete = false;
    } else {
      ReadCommentHeader(in, info, tagPos + 7, info.FileSize);
    }
  }

  info.Samples = LastPageSamples(in, info.FileSize);
  return true;
}

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t r = n << 24;
    for (int b = 0; b < 8; ++b) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : (r << 1);
    t[n] = r;
  }
  return t;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

uint16_t RoundTo16(double v) {
  return static_cast<uint16_t>(static_cast<int64_t>(std::nearbyint(v)));
}

}  // namespace

OggHeader OggHeader::Parse(const uint8_t* b, size_t n) {
  uint8_t raw[kSize] = {};
  std::memcpy(raw, b, std::min(n, kSize));
  bytes::ByteReader r(raw, sizeof raw);
  OggHeader h;
  r.CopyTo(h.ID, 4);
  h.StreamVersion = r.U8();
  h.TypeFlag = r.U8();
  h.AbsolutePosition = static_cast<int64_t>(r.U64LE());
  h.Serial = r.U32LE();
  h.PageNumber = r.U32LE();
  h.Checksum = r.U32LE();
  h.Segments = r.U8();
  r.CopyTo(h.LacingValues, 255);
  return h;
}

ByteString OggHeader::Serialize() const {
  bytes::ByteWriter w(std::string(ID, 4));
  w.PutU8(StreamVersion);
  w.PutU8(TypeFlag);
  w.PutU64LE(static_cast<uint64_t>(AbsolutePosition));
  w.PutU32LE(Serial);
  w.PutU32LE(PageNumber);
  w.PutU32LE(Checksum);
  w.PutU8(Segments);
  w.PutBytes(std::string_view(reinterpret_cast<const char*>(LacingValues), Segments));
  return w.Take();
}

VorbisHeader VorbisHeader::Parse(const uint8_t* b, size_t n) {
  uint8_t raw[kSize] = {};
  std::memcpy(raw, b, std::min(n, kSize));
  bytes::ByteReader r(raw, sizeof raw);
  VorbisHeader h;
  r.CopyTo(h.ID, 7);
  h.BitstreamVersion = r.U32LE();
  h.ChannelMode = r.U8();
  h.SampleRate = r.U32LE();
  h.BitRateMaximal = static_cast<int32_t>(r.U32LE());
  h.BitRateNominal = static_cast<int32_t>(r.U32LE());
  h.BitRateMinimal = static_cast<int32_t>(r.U32LE());
  h.BlockSize = r.U8();
  h.StopFlag = r.U8();
  return h;
}

uint32_t OggPageCrc(const void* data, size_t n, uint32_t crc) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) crc = kCrcTable[((crc >> 24) ^ p[i]) & 0xFF] ^ (crc << 8);
  return crc;
}

bool ParseOggVorbis(const bytes::ByteSource& file, OggRecord& ogg) {
  ogg = OggRecord{};
  FileInfo info;
  if (!ReadInfo(file, info)) return false;
  ogg.FileSize = static_cast<int32_t>(static_cast<uint32_t>(info.FileSize));
  ogg.ChannelModeID = info.Parameters.ChannelMode;
  ogg.SampleRate = info.Parameters.SampleRate;
  ogg.BitRateNominal = RoundTo16(info.Parameters.BitRateNominal / 1000.0);
  ogg.Samples = info.Samples;
  ogg.ID3v2Size = info.ID3v2Size;

  const auto& slot = info.Tag.FieldData;
  auto value = [&](size_t i) { return Utf8ToUtf16(slot[i]); };
  // PERFORMER stands in for a missing ARTIST, DESCRIPTION for a missing COMMENT.
  ogg.Title = value(1);
  ogg.Artist = slot[2].empty() ? value(8) : value(2);
  ogg.Album = value(3);
  {
    // The text before any "/" ("7/12" is track 7), kept to eight bits: the
    // playout program stores the track in one byte, and a number above 255
    // reads here as it shows there.
    std::u16string t = value(4);
    t = t.substr(0, t.find(u'/'));
    ogg.Track = static_cast<uint8_t>(TryStrToInt(t).value_or(0));
  }
  ogg.Date = value(5);
  ogg.Genre = value(6);
  ogg.Comment = slot[7].empty() ? value(9) : value(7);
  ogg.Vendor = value(0);
  return true;
}

bool TOggVorbis::ReadFromFile(const std::u16string& FileName) {
  ResetData();
  InputFile f = InputFile::OpenOrThrow(FileName);
  return ReadFromSource(FileSource(f));
}

std::u16string TOggVorbis::ChannelMode() const {
  switch (F.ChannelModeID) {
    case 1: return u"Mono";
    case 2: return u"Stereo";
    default: return u"Unknown";
  }
}

double TOggVorbis::Duration() const {
  if (F.Samples > 0) return F.SampleRate > 0 ? double(F.Samples) / F.SampleRate : 0.0;
  if (F.BitRateNominal > 0 && F.ChannelModeID > 0)
    return double(F.FileSize - F.ID3v2Size) / F.BitRateNominal / F.ChannelModeID / 125 * 2;
  return 0.0;
}

uint16_t TOggVorbis::BitRate() const {
  const double d = Duration();
  if (d <= 0) return 0;
  return RoundTo16(double(F.FileSize - F.ID3v2Size) / d / 125);
}

bool TOggVorbis::Valid() const {
  return (F.ChannelModeID == 1 || F.ChannelModeID == 2) && F.SampleRate > 0 && Duration() > 0.1 &&
         BitRate() > 0;
}

bool TOggVorbis::ClearTag(const std::u16string& FileName) {
  F.Title.clear(), F.Artist.clear(), F.Album.clear();
  F.Date.clear(), F.Genre.clear(), F.Comment.clear();
  F.Track = 0;
  return SaveTag(FileName);
}

bool TOggVorbis::SaveTag(const std::u16string& FileName) {
  if (!FileExists(FileName)) return false;
  InputFile f = InputFile::Open(FileName);
  if (!f) return false;
  const FileSource source(f);
  FileInfo info;
  if (!ReadInfo(source, info)) return false;
  // Only a complete comment header that begins a real second page and ends
  // within that page's first packet can be replaced by rewriting that page.
  if (!info.HasTag || !info.TagComplete) return false;
  OggHeader page = info.SPage;
  if (std::memcmp(page.ID, "OggS", 4) != 0 || page.Segments == 0) return false;
  const int S = page.Segments;
  int K = 0;  // the segment that ends the first packet (1-based)
  for (int i = S; i >= 1; --i)
    if (page.LacingValues[i - 1] < 255) K = i;
  if (K == 0) return false;  // the comment packet goes on to the next page
  int64_t L = 0, bodyLen = 0;
  for (int i = 1; i <= S; ++i) {
    if (i <= K) L += page.LacingValues[i - 1];
    bodyLen += page.LacingValues[i - 1];
  }
  const int64_t bodyStart = info.SPagePos + 27 + S;
  const int64_t bodyEnd = bodyStart + bodyLen;
  const int64_t oldTagLen = info.TagEndPos - bodyStart;
  if (oldTagLen > L || bodyEnd > info.FileSize) return false;

  // The new comment header: id, vendor, count, the non-empty known names.
  auto& slot = info.Tag.FieldData;
  slot[1] = Utf16ToUtf8(Trim(F.Title));
  slot[2] = Utf16ToUtf8(Trim(F.Artist));
  slot[3] = Utf16ToUtf8(Trim(F.Album));
  slot[4] = F.Track > 0 ? Utf16ToUtf8(IntToStr(F.Track)) : Utf8String();
  slot[5] = Utf16ToUtf8(Trim(F.Date));
  slot[6] = Utf16ToUtf8(Trim(F.Genre));
  slot[7] = Utf16ToUtf8(Trim(F.Comment));
  slot[8].clear();
  slot[9].clear();
  bytes::ByteWriter w(std::string(info.Tag.ID, 7));
  w.PutU32LE(slot[0].size());
  w.PutBytes(slot[0]);
  uint32_t count = 0;
  for (size_t i = 1; i < slot.size(); ++i) count += slot[i].empty() ? 0 : 1;
  w.PutU32LE(count);
  for (size_t i = 1; i < slot.size(); ++i) {
    if (slot[i].empty()) continue;
    const Utf8String item = Utf16ToUtf8(kVorbisFieldNames[i - 1]) + "=" + slot[i];
    w.PutU32LE(item.size());
    w.PutBytes(item);
  }
  if (!w.Ok()) return false;
  const ByteString tag = w.Take();

  // The new lacing: the comment packet, then the packets that followed it.
  const int64_t N = L + static_cast<int64_t>(tag.size()) - oldTagLen;
  const int64_t newSegments = S - K + N / 255 + 1;
  if (newSegments > 255) return false;  // one page cannot hold the new header
  uint8_t lacing[255] = {};
  int n = 0;
  for (int64_t i = 0; i < N / 255; ++i) lacing[n++] = 255;
  lacing[n++] = static_cast<uint8_t>(N % 255);
  for (int i = K + 1; i <= S; ++i) lacing[n++] = page.LacingValues[i - 1];
  page.Segments = static_cast<uint8_t>(newSegments);
  std::memcpy(page.LacingValues, lacing, sizeof lacing);
  page.Checksum = 0;

  // The rest of the old page after the last comment: the framing byte and
  // the packets that follow on the page.
  ByteString body = tag;
  const size_t restLen = static_cast<size_t>(bodyEnd - info.TagEndPos);
  const size_t restAt = body.size();
  body.resize(restAt + restLen);
  bytes::SourceWindow rest(source, 0);
  if (rest.CopyPadded(info.TagEndPos, body.data() + restAt, restLen) != restLen) return false;

  bytes::ByteWriter header(page.Serialize());
  uint32_t crc = OggPageCrc(header.Bytes().data(), header.Size());
  crc = OggPageCrc(body.data(), body.size(), crc);
  header.PatchU32LE(22, crc);

  const int64_t keep = info.SPagePos;
  return RewriteFile(FileName, [&](OutputFile& out) {
    return out.CopyFrom(f, 0, keep) && out.Write(header.Bytes()) && out.Write(body) &&
           out.CopyFrom(f, bodyEnd);
  });
}

}  // namespace ordana
