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

// A comment keeps its first 500,000 bytes (a picture stored as a comment is not held whole).
constexpr int64_t kMaxCommentBytes = 500000;
constexpr int kLastPageWindows = 50;
constexpr int64_t kWindowStep = 241;
constexpr size_t kWindowSize = 251;

// The comment header's many small length fields are served from one
// buffer of this size.
constexpr size_t kCommentReadAhead = 1 << 16;

// One string of the comment header (the vendor or a comment). A later comment of a name
// replaces an earlier one, and "TITLE =" (a blank in the name) is no TITLE: the playout
// program reads comments so.
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

// The longest of the nine names ("DESCRIPTION").
constexpr size_t kLongestFieldName = 11;
// How many first bytes of a comment decide whether StoreString can keep it.
constexpr size_t kNamePeek = 64;

bool IsFieldName(std::string_view name) {
  for (const char16_t* known : kVorbisFieldNames) {
    const std::u16string_view k(known);
    if (k.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < k.size() && same; ++i) {
      const char c = name[i];
      same = (c >= 'a' && c <= 'z' ? static_cast<char16_t>(c - 32) : static_cast<char16_t>(c)) == k[i];
    }
    if (same) return true;
  }
  return false;
}

// Whether StoreString may keep a comment whose first bytes are `head` (all
// of it when `whole`), decided on the bytes as they stand: leading bytes up
// to the space are trimmed, a name is compared in ASCII, and UTF-8 maps every
// ASCII byte to the same character (malformed sequences give U+FFFD, never
// an ASCII one). Comments no slot keeps, cover art above all, are then
// passed over without being read or converted.
bool MayFillSlot(std::string_view head, bool whole, bool vendorEmpty) {
  size_t b = 0;
  while (b < head.size() && static_cast<uint8_t>(head[b]) <= 0x20) ++b;
  const size_t eq = head.find('=', b);
  if (eq == std::string_view::npos) {
    // Without a "=" it is the vendor while that slot is empty; a name longer
    // than any of the nine cannot match wherever its "=" stands.
    if (vendorEmpty) return true;
    return !whole && head.size() - b <= kLongestFieldName;
  }
  return IsFieldName(head.substr(b, eq - b));
}

// A comment packet is read across pages up to this size (and never beyond
// the file): cover art can make it long, but not this long.
constexpr int64_t kMaxCommentPacket = int64_t{16} << 20;
// At most this many pages are followed for one packet.
constexpr int kMaxPacketPages = 65536;

// The comment header's bytes, from the identifier on. When the packet does
// not end on the second page (every lacing value there is 255), it is the
// pages' bodies joined, and the pages that continue it are found only as far
// as a read needs them: a comment that ends the header (cover art, often) is
// passed over without walking the pages under it. Otherwise the bytes run
// from the second page's body to the end of the file.
class CommentPacket {
 public:
  CommentPacket(const bytes::ByteSource& file, bytes::SourceWindow& in, const FileInfo& info)
      : in_(in), heads_(file), fileSize_(info.FileSize), serial_(info.SPage.Serial) {
    const OggHeader& first = info.SPage;
    bodyPos_ = info.SPagePos + 27 + first.Segments;
    bool continued = first.Segments > 0;
    for (int i = 0; i < first.Segments && continued; ++i) continued = first.LacingValues[i] == 255;
    if (!continued) {
      Add(std::max<int64_t>(fileSize_ - bodyPos_, 0));
      return;
    }
    limit_ = std::min(fileSize_, kMaxCommentPacket);
    const int64_t len = 255 * int64_t{first.Segments};
    Add(std::min({len, limit_ - size_, std::max<int64_t>(fileSize_ - bodyPos_, 0)}));
    next_ = bodyPos_ + len;
    walking_ = true;
  }

  // min(end, the packet's size), following pages until the packet holds end
  // bytes or is known to end before.
  int64_t Reach(int64_t end) {
    while (walking_ && size_ < end) Step();
    return std::min(end, size_);
  }

  // The n bytes at pos, which Reach must have found in the packet; a failed
  // reader otherwise or when they cannot be read. Valid until the next Get.
  bytes::ByteReader Get(int64_t pos, size_t n) {
    if (pos < 0 || pos > size_ - static_cast<int64_t>(n)) return bytes::ByteReader::Failed();
    // The last piece that starts at or before pos.
    auto it = std::upper_bound(pieces_.begin(), pieces_.end(), pos,
                               [](int64_t p, const Piece& piece) { return p < piece.start; });
    if (it == pieces_.begin()) return bytes::ByteReader::Failed();
    --it;
    if (pos + static_cast<int64_t>(n) <= it->start + it->size) return in_.Get(it->pos + (pos - it->start), n);
    joined_.clear();
    for (int64_t at = pos; joined_.size() < n; ++it) {
      if (it == pieces_.end()) return bytes::ByteReader::Failed();
      const int64_t off = at - it->start;
      const size_t want = static_cast<size_t>(std::min<int64_t>(it->size - off, static_cast<int64_t>(n - joined_.size())));
      const bytes::ByteReader part = in_.Get(it->pos + off, want);
      if (!part.Ok()) return bytes::ByteReader::Failed();
      joined_.append(part.AllChars());
      at += static_cast<int64_t>(want);
    }
    return bytes::ByteReader(joined_);
  }

 private:
  struct Piece {
    int64_t pos, start, size;  // file position, position in the packet, length
  };
  void Add(int64_t n) {
    if (n > 0) pieces_.push_back({bodyPos_, size_, n}), size_ += n;
  }
  // One more page: its part of the packet, or the end of the walk.
  void Step() {
    if (pages_ >= kMaxPacketPages || size_ >= limit_ || next_ >= fileSize_) {
      walking_ = false;
      return;
    }
    ++pages_;
    uint8_t raw[OggHeader::kSize];
    heads_.CopyPadded(next_, raw, sizeof raw);
    const OggHeader page = OggHeader::Parse(raw, sizeof raw);
    // The packet goes on only on a continuation page of the same stream.
    if (std::memcmp(page.ID, "OggS", 4) != 0 || !(page.TypeFlag & 1) || page.Serial != serial_) {
      walking_ = false;
      return;
    }
    bodyPos_ = next_ + 27 + page.Segments;
    int64_t take = 0, all = 0;
    bool ended = false;
    for (int i = 0; i < page.Segments; ++i) {
      if (!ended) take += page.LacingValues[i];
      if (page.LacingValues[i] < 255) ended = true;
      all += page.LacingValues[i];
    }
    Add(std::min({take, limit_ - size_, std::max<int64_t>(fileSize_ - bodyPos_, 0)}));
    if (ended) walking_ = false;
    next_ = bodyPos_ + all;
  }

  bytes::SourceWindow& in_;     // the bodies
  bytes::SourceWindow heads_;   // the page headers, read ahead on their own
  int64_t fileSize_;
  uint32_t serial_;
  std::vector<Piece> pieces_;
  int64_t size_ = 0;
  int64_t bodyPos_ = 0;
  int64_t limit_ = 0;
  int64_t next_ = 0;
  int pages_ = 0;
  bool walking_ = false;
  std::string joined_;
};

// The vendor string and the comments. Stops where the data ends: a length
// or a text that runs past the packet, or a negative length, ends the
// header; so does the comment the count makes the last, without the packet
// being followed to its end.
void ReadCommentHeader(CommentPacket& in, FileInfo& info) {
  int64_t pos = 7;
  int64_t index = 0;
  for (;;) {
    if (in.Reach(pos + 4) < pos + 4) break;
    bytes::ByteReader lenField = in.Get(pos, 4);
    if (!lenField.Ok()) break;
    const int64_t len = static_cast<int32_t>(lenField.U32LE());
    if (len < 0) break;
    const int64_t textPos = pos + 4;
    // The first bytes decide whether the text is read at all.
    const int64_t peek = in.Reach(textPos + std::min<int64_t>(len, kNamePeek)) - textPos;
    if (peek > 0) {
      bytes::ByteReader head = in.Get(textPos, static_cast<size_t>(peek));
      if (!head.Ok()) break;
      if (MayFillSlot(head.AllChars(), peek == len, info.Tag.FieldData[0].empty())) {
        const int64_t take = in.Reach(textPos + std::min(len, kMaxCommentBytes)) - textPos;
        bytes::ByteReader t = in.Get(textPos, static_cast<size_t>(take));
        if (!t.Ok()) break;
        StoreString(info.Tag, Trim(Utf8ToUtf16(Utf8View(t.AllChars()))));
      }
    }
    if (index > 0 && index >= info.Tag.Fields) break;  // the last comment
    if (in.Reach(textPos + len) < textPos + len) break;
    pos = textPos + len;
    if (index == 0) {
      if (in.Reach(pos + 4) < pos + 4) break;
      bytes::ByteReader countField = in.Get(pos, 4);
      if (!countField.Ok()) break;
      info.Tag.Fields = static_cast<int32_t>(countField.U32LE());
      pos += 4;
    }
    ++index;
    if (index > info.Tag.Fields) break;
  }
}

// The low 32 bits of the granule position of the page nearest the end of
// the file, found by searching backwards; 0 when no page is found. A window
// that would begin before the file is cut to its start, and the search ends
// there. The whole stretch the windows cover is read at once.
// Only the last 12 KB are searched and no page checksum is checked, as in the playout
// program; a file with a longer damaged tail falls back to the nominal bit rate.
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
    CommentPacket packet(file, in, info);
    ReadCommentHeader(packet, info);
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

// The texts the reader takes from a comment header.
void FillTexts(const FileInfo& info, OggRecord& ogg) {
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
  FillTexts(info, ogg);
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
  return Save(FileName, true);
}

bool TOggVorbis::SaveTag(const std::u16string& FileName) { return Save(FileName, false); }

namespace {

// The old content of a rewrite, as a source the page walk reads from.
class OriginalSource final : public bytes::ByteSource {
 public:
  OriginalSource(const OutputFile& out, int64_t size) : out_(out), size_(size) {}
  int64_t Size() const override { return size_; }
  int64_t ReadAt(int64_t pos, void* buf, size_t n) const override { return out_.ReadOriginal(pos, buf, n); }

 private:
  const OutputFile& out_;
  int64_t size_;
};

// A page as found in the file.
struct Page {
  int64_t pos = 0;
  OggHeader h;
  size_t headerLen = 0;  // 27 + segments
  size_t bodyLen = 0;
  int64_t End() const { return pos + int64_t(headerLen + bodyLen); }
};

// The page that starts at pos; false when no whole page stands there.
bool ReadPage(const bytes::ByteSource& file, int64_t pos, Page& p) {
  const int64_t fileSize = file.Size();
  uint8_t raw[OggHeader::kSize];
  if (pos < 0 || fileSize - pos < 27) return false;
  const int64_t got = file.ReadAt(pos, raw, size_t(std::min<int64_t>(sizeof raw, fileSize - pos)));
  if (got < 27 || std::memcmp(raw, "OggS", 4) != 0) return false;
  p.pos = pos;
  p.h = OggHeader::Parse(raw, size_t(got));
  p.headerLen = 27 + p.h.Segments;
  if (int64_t(p.headerLen) > got) return false;
  p.bodyLen = 0;
  for (int i = 0; i < p.h.Segments; ++i) p.bodyLen += p.h.LacingValues[i];
  return p.End() <= fileSize;
}

// The header packets after the identification page: the comment header,
// the setup header and whatever else completes on the page the setup header
// ends on, with the facts of those pages.
struct HeaderPages {
  std::vector<std::string> packets;
  int64_t end = 0;  // just after the last header page
  int pages = 0;
  uint32_t serial = 0;
  uint32_t firstSequence = 0;
  int64_t lastGranule = 0;
  uint8_t lastFlags = 0;
};

constexpr int kMaxHeaderPages = 4096;
constexpr int64_t kMaxHeaderBytes = 256 << 20;

bool CollectHeaderPages(const bytes::ByteSource& file, int64_t at, HeaderPages& hp, std::string& reason) {
  std::string current;
  int64_t total = 0;
  for (;;) {
    Page p;
    if (hp.pages >= kMaxHeaderPages || !ReadPage(file, at, p)) {
      reason = "the pages holding the comment header are damaged";
      return false;
    }
    if (hp.pages == 0) {
      hp.serial = p.h.Serial;
      hp.firstSequence = p.h.PageNumber;
      if (p.h.TypeFlag & 1) {
        reason = "the comment header does not begin its page";
        return false;
      }
    } else if (p.h.Serial != hp.serial) {
      reason = "a page of another stream lies among the header pages";
      return false;
    }
    total += int64_t(p.bodyLen);
    if (total > kMaxHeaderBytes) {
      reason = "the header packets are too large";
      return false;
    }
    std::string body(p.bodyLen, '\0');
    if (file.ReadAt(p.pos + int64_t(p.headerLen), body.data(), body.size()) != int64_t(body.size())) {
      reason = "the pages holding the comment header cannot be read";
      return false;
    }
    size_t offset = 0;
    for (int i = 0; i < p.h.Segments; ++i) {
      const uint8_t v = p.h.LacingValues[i];
      current.append(body, offset, v);
      offset += v;
      if (v < 255) {
        hp.packets.push_back(std::move(current));
        current.clear();
      }
    }
    ++hp.pages;
    at = p.End();
    if (hp.packets.size() >= 2) {
      // The setup header ends its page (a packet going on to the next page
      // would have to be split anew).
      if (!current.empty() || (p.h.Segments && p.h.LacingValues[p.h.Segments - 1] == 255)) {
        reason = "an audio packet goes on from the setup header's page";
        return false;
      }
      if (hp.packets[1].compare(0, 7, "\x05vorbis") != 0) {
        reason = "the setup header is not where it belongs";
        return false;
      }
      hp.end = at;
      hp.lastGranule = p.h.AbsolutePosition;
      hp.lastFlags = p.h.TypeFlag;
      return true;
    }
  }
}

// The comment header's parts: vendor, comments (as stored) and the bytes
// after the last comment (the framing byte).
bool SplitCommentHeader(const std::string& packet, std::string& vendor,
                        std::vector<std::string>& comments, std::string& trailer) {
  bytes::ByteReader r(packet);
  auto text = [&](std::string& out) {
    const uint32_t n = r.U32LE();
    out.assign(r.Chars(n));
    return r.Ok();
  };
  if (!r.Skip(7) || !text(vendor)) return false;
  const uint32_t count = r.U32LE();
  if (!r.Ok() || count > r.Remaining() / 4) return false;
  comments.resize(count);
  for (std::string& c : comments)
    if (!text(c)) return false;
  trailer.assign(r.Chars(r.Remaining()));
  return true;
}

std::string UpperName(const std::string& comment) {
  const size_t eq = comment.find('=');
  return eq == std::string::npos ? std::string("\x01") : UpperAscii(std::string_view(comment).substr(0, eq));
}

// The comments of one name: the first becomes NAME=value, the others go; an
// empty value removes them all; without one the comment is appended.
void PutComment(std::vector<std::string>& comments, const std::string& name, const Utf8String& value) {
  std::vector<std::string> out;
  bool placed = false;
  for (std::string& c : comments) {
    if (UpperName(c) != name) {
      out.push_back(std::move(c));
    } else if (!placed && !value.empty()) {
      out.push_back(name + "=" + value.bytes());
      placed = true;
    }
  }
  if (!placed && !value.empty()) out.push_back(name + "=" + value.bytes());
  comments = std::move(out);
}

// A page's bytes with its checksum field filled in.
std::string WithChecksum(std::string page) {
  bytes::ByteWriter w(std::move(page));
  w.PatchU32LE(22, 0);
  w.PatchU32LE(22, OggPageCrc(w.Bytes().data(), w.Size()));
  return w.Take();
}

// The packets laid out on pages (at most 255 lacing values each), numbered
// from sequence on. Pages on which a packet ends get granule 0, others -1;
// the last page gets the granule and end-of-stream flag of the old last
// header page.
std::vector<std::string> Paginate(const std::vector<std::string>& packets, const HeaderPages& old) {
  struct Segment {
    size_t packet, offset;
    uint8_t length;
  };
  std::vector<Segment> segs;
  for (size_t p = 0; p < packets.size(); ++p) {
    const size_t n = packets[p].size();
    for (size_t off = 0;; off += 255) {
      const size_t len = std::min<size_t>(255, n - off);
      segs.push_back({p, off, uint8_t(len)});
      if (len < 255) break;
    }
  }
  std::vector<std::string> pages;
  for (size_t i = 0; i < segs.size(); i += 255) {
    const size_t end = std::min(segs.size(), i + 255);
    OggHeader h;
    std::memcpy(h.ID, "OggS", 4);
    h.TypeFlag = segs[i].offset > 0 ? 1 : 0;  // the page goes on with a packet
    bool completes = false;
    std::string body;
    h.Segments = uint8_t(end - i);
    for (size_t k = i; k < end; ++k) {
      h.LacingValues[k - i] = segs[k].length;
      body.append(packets[segs[k].packet], segs[k].offset, segs[k].length);
      completes = completes || segs[k].length < 255;
    }
    const bool last = end == segs.size();
    h.AbsolutePosition = last ? old.lastGranule : completes ? 0 : -1;
    if (last) h.TypeFlag |= old.lastFlags & 4;
    h.Serial = old.serial;
    h.PageNumber = old.firstSequence + uint32_t(pages.size());
    pages.push_back(WithChecksum(h.Serialize() + body));
  }
  return pages;
}

// Copies the pages after the header pages, their sequence numbers moved by
// delta and their checksums recomputed (pages of other streams unchanged).
// Bytes after the last page that hold no page are copied as they are.
bool CopyRenumbered(OutputFile& out, int64_t from, int64_t fileSize, uint32_t serial, int32_t delta) {
  const OriginalSource original(out, fileSize);
  int64_t pos = from;
  std::string page;
  while (pos < fileSize) {
    Page p;
    if (!ReadPage(original, pos, p)) {
      // Trailing bytes (another tag, say) may follow; more pages may not.
      std::string rest(size_t(std::min<int64_t>(fileSize - pos, 1 << 20)), '\0');
      for (int64_t at = pos; at < fileSize;) {
        const int64_t got = out.ReadOriginal(at, rest.data(), rest.size());
        if (got <= 0) return false;
        if (std::string_view(rest.data(), size_t(got)).find("OggS") != std::string_view::npos)
          return RefuseSave("the pages after the comment header cannot be walked");
        at += got > 3 ? got - 3 : got;
        if (got < int64_t(rest.size())) break;
      }
      return out.CopyOriginal(pos);
    }
    page.resize(p.headerLen + p.bodyLen);
    if (out.ReadOriginal(pos, page.data(), page.size()) != int64_t(page.size())) return false;
    if (p.h.Serial == serial) {
      bytes::ByteWriter w(std::move(page));
      w.PatchU32LE(18, uint32_t(p.h.PageNumber + uint32_t(delta)));
      page = WithChecksum(w.Take());
    }
    if (!out.Write(page)) return false;
    pos = p.End();
  }
  return true;
}

}  // namespace

bool TOggVorbis::Save(const std::u16string& FileName, bool clearAll) {
  SaveSession s(FileName);
  if (!s) return false;
  const FileSource source(s.Source());
  FileInfo info;
  if (!ReadInfo(source, info)) return s.Refuse("not an Ogg Vorbis file");
  if (!info.HasTag) return s.Refuse("the file has no comment header");
  HeaderPages hp;
  std::string reason;
  if (!CollectHeaderPages(source, info.SPagePos, hp, reason)) return s.Refuse(reason);
  std::string vendor, trailer;
  std::vector<std::string> comments;
  if (!SplitCommentHeader(hp.packets[0], vendor, comments, trailer))
    return s.Refuse("the comment header is damaged");

  if (clearAll) {
    comments.clear();
  } else {
    // A value equal to what the reader gets from the file now leaves its
    // comments as they are; every other comment stays, in its place.
    OggRecord was;
    FillTexts(info, was);
    const std::pair<const char*, std::pair<const std::u16string*, const std::u16string*>> texts[] = {
        {"TITLE", {&F.Title, &was.Title}}, {"ARTIST", {&F.Artist, &was.Artist}},
        {"ALBUM", {&F.Album, &was.Album}}, {"TRACKNUMBER", {nullptr, nullptr}},
        {"DATE", {&F.Date, &was.Date}},    {"GENRE", {&F.Genre, &was.Genre}},
        {"COMMENT", {&F.Comment, &was.Comment}}};
    for (const auto& [name, values] : texts) {
      if (!values.first) {
        if (F.Track != was.Track)
          PutComment(comments, name, F.Track > 0 ? Utf16ToUtf8(IntToStr(F.Track)) : Utf8String());
        continue;
      }
      const std::u16string value = Trim(*values.first);
      if (value != *values.second) PutComment(comments, name, Utf16ToUtf8(value));
    }
  }
  bytes::ByteWriter tag(hp.packets[0].substr(0, 7));
  tag.PutU32LE(vendor.size());
  tag.PutBytes(vendor);
  tag.PutU32LE(comments.size());
  for (const std::string& c : comments) {
    if (!tag.PutU32LE(c.size())) return s.Refuse("a comment is too long");
    tag.PutBytes(c);
  }
  tag.PutBytes(trailer);
  if (!tag.Ok() || int64_t(tag.Size()) > kMaxHeaderBytes) return s.Refuse("the comment header is too large");

  std::vector<std::string> packets = hp.packets;
  packets[0] = tag.Take();
  const std::vector<std::string> pages = Paginate(packets, hp);
  // Packets that follow the setup header on its page keep that page's
  // granule only while they stay on one page with it.
  if (packets.size() > 2 && pages.size() > 1)
    return s.Refuse("audio shares the header page, and the new comment header needs more pages");
  const int32_t delta = int32_t(pages.size()) - hp.pages;
  const int64_t size = s.Size();
  return s.Rewrite([&](OutputFile& out) {
    if (!out.CopyOriginal(0, info.SPagePos)) return false;
    for (const std::string& page : pages)
      if (!out.Write(page)) return false;
    // Unless the number of header pages changed, the rest of the file stays
    // byte for byte; otherwise every later page is renumbered.
    return delta == 0 ? out.CopyOriginal(hp.end) : CopyRenumbered(out, hp.end, size, hp.serial, delta);
  });
}

}  // namespace ordana
