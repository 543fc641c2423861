#include "tags/OggVorbis.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "platform/FileIO.h"
#include "platform/SafeWrite.h"
#include "platform/Strings.h"
#include "tags/ID3v2.h"

namespace ordana {

namespace {

constexpr int64_t kMaxCommentBytes = 500000;
constexpr int kLastPageWindows = 50;
constexpr int64_t kWindowStep = 241;
constexpr size_t kWindowSize = 251;

uint32_t GetLE32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint64_t GetLE64(const uint8_t* p) { return GetLE32(p) | (uint64_t{GetLE32(p + 4)} << 32); }
void PutLE32(ByteString& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void PutLE32At(ByteString& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Reads up to n bytes at pos; what cannot be read (end of file, read error,
// a position before the start) is left as zero bytes. Returns the count read.
size_t ReadZeroFilled(const InputFile& f, int64_t pos, void* buf, size_t n) {
  std::memset(buf, 0, n);
  if (pos < 0) return 0;
  size_t got = 0;
  while (got < n) {
    int64_t r = f.ReadAt(pos + static_cast<int64_t>(got), static_cast<char*>(buf) + got, n - got);
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  return got;
}

// Buffered reads for the comment header, whose many small length fields
// would otherwise cost one system call each.
class CachedReader {
 public:
  CachedReader(const InputFile& f, int64_t size) : f_(f), size_(size) {}
  int64_t Size() const { return size_; }
  // Reads [pos, pos + n) into out; false (out unchanged) when the range is
  // not entirely inside the file.
  bool Read(int64_t pos, size_t n, void* out) {
    if (pos < 0 || pos > size_ || static_cast<int64_t>(n) > size_ - pos) return false;
    if (n > kCache / 2) return ReadZeroFilled(f_, pos, out, n) == n;
    if (pos < start_ || pos + static_cast<int64_t>(n) > start_ + static_cast<int64_t>(len_)) {
      buf_.resize(kCache);
      start_ = pos;
      len_ = ReadZeroFilled(f_, pos, buf_.data(), kCache);
      if (static_cast<int64_t>(len_) < static_cast<int64_t>(n)) return false;
    }
    std::memcpy(out, buf_.data() + (pos - start_), n);
    return true;
  }

 private:
  static constexpr size_t kCache = 1 << 16;
  const InputFile& f_;
  int64_t size_;
  std::vector<char> buf_;
  int64_t start_ = 0;
  size_t len_ = 0;
};

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
// ends: a length or a text that runs past the end of the file, or a negative
// length, ends the header (TagComplete stays false).
void ReadCommentHeader(const InputFile& f, FileInfo& info, int64_t pos) {
  CachedReader in(f, info.FileSize);
  int64_t index = 0;
  for (;;) {
    uint8_t lenBytes[4];
    if (!in.Read(pos, 4, lenBytes)) break;
    const int64_t len = static_cast<int32_t>(GetLE32(lenBytes));
    const int64_t textPos = pos + 4;
    const int64_t left = in.Size() - textPos;
    const int64_t take = std::clamp<int64_t>(std::min(len, kMaxCommentBytes), 0, left);
    std::string text(static_cast<size_t>(take), '\0');
    if (take > 0 && !in.Read(textPos, text.size(), text.data())) break;
    StoreString(info.Tag, Trim(Utf8ToUtf16(text)));
    if (len < 0 || len > left) {
      pos = textPos + std::max<int64_t>(take, 0);
      break;
    }
    pos = textPos + len;
    if (index == 0) {
      uint8_t countBytes[4];
      if (!in.Read(pos, 4, countBytes)) break;
      info.Tag.Fields = static_cast<int32_t>(GetLE32(countBytes));
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

// The low 32 bits of the granule position of the page nearest the end of
// the file, found by searching backwards; 0 when no page is found. A window
// that would begin before the file is cut to its start, and the search ends
// there.
int32_t LastPageSamples(const InputFile& f, int64_t fileSize) {
  uint8_t win[kWindowSize];
  for (int i = 1; i <= kLastPageWindows; ++i) {
    const int64_t start = fileSize - kWindowStep * i - 10;
    const int64_t top = start + kWindowStep;  // highest page start this window examines
    if (top < 0) break;
    const int64_t lo = std::max<int64_t>(start, 0);
    const size_t got = ReadZeroFilled(f, lo, win, kWindowSize - static_cast<size_t>(lo - start));
    for (int64_t pos = top; pos >= lo; --pos) {
      const int64_t o = pos - lo;
      if (o + 4 > static_cast<int64_t>(got)) continue;
      if (std::memcmp(win + o, "OggS", 4) != 0) continue;
      uint8_t hdr[OggHeader::kSize];
      ReadZeroFilled(f, pos, hdr, sizeof hdr);
      return static_cast<int32_t>(static_cast<uint32_t>(GetLE64(hdr + 6)));
    }
    if (start <= 0) break;
  }
  return 0;
}

// Steps shared by reading and saving. False when the file does not hold an
// Ogg page with a Vorbis identification header where expected.
bool ReadInfo(const InputFile& f, FileInfo& info) {
  info = FileInfo{};
  info.FileSize = std::max<int64_t>(f.Size(), 0);

  uint8_t id3[10];
  ReadZeroFilled(f, 0, id3, sizeof id3);
  info.ID3v2Size = ID3v2TotalTagSize(id3, info.FileSize);

  uint8_t page[OggHeader::kSize];
  ReadZeroFilled(f, info.ID3v2Size, page, sizeof page);
  info.FPage = OggHeader::Parse(page, sizeof page);
  if (std::memcmp(info.FPage.ID, "OggS", 4) != 0) return false;

  const int64_t idPos = int64_t{info.ID3v2Size} + 27 + info.FPage.Segments;
  uint8_t ident[VorbisHeader::kSize];
  ReadZeroFilled(f, idPos, ident, sizeof ident);
  info.Parameters = VorbisHeader::Parse(ident, sizeof ident);
  if (std::memcmp(info.Parameters.ID, "\x01vorbis", 7) != 0) return false;

  info.SPagePos = idPos + static_cast<int64_t>(VorbisHeader::kSize);
  ReadZeroFilled(f, info.SPagePos, page, sizeof page);
  info.SPage = OggHeader::Parse(page, sizeof page);
  const int64_t tagPos = info.SPagePos + 27 + info.SPage.Segments;
  uint8_t tagId[7];
  ReadZeroFilled(f, tagPos, tagId, sizeof tagId);
  if (std::memcmp(tagId, "\x03vorbis", 7) == 0) {
    std::memcpy(info.Tag.ID, tagId, 7);
    info.HasTag = true;
    ReadCommentHeader(f, info, tagPos + 7);
  }

  info.Samples = LastPageSamples(f, info.FileSize);
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
  OggHeader h;
  std::memcpy(h.ID, raw, 4);
  h.StreamVersion = raw[4];
  h.TypeFlag = raw[5];
  h.AbsolutePosition = static_cast<int64_t>(GetLE64(raw + 6));
  h.Serial = GetLE32(raw + 14);
  h.PageNumber = GetLE32(raw + 18);
  h.Checksum = GetLE32(raw + 22);
  h.Segments = raw[26];
  std::memcpy(h.LacingValues, raw + 27, 255);
  return h;
}

ByteString OggHeader::Serialize() const {
  ByteString s(ID, 4);
  s.push_back(static_cast<char>(StreamVersion));
  s.push_back(static_cast<char>(TypeFlag));
  PutLE32(s, static_cast<uint32_t>(static_cast<uint64_t>(AbsolutePosition)));
  PutLE32(s, static_cast<uint32_t>(static_cast<uint64_t>(AbsolutePosition) >> 32));
  PutLE32(s, Serial);
  PutLE32(s, PageNumber);
  PutLE32(s, Checksum);
  s.push_back(static_cast<char>(Segments));
  s.append(reinterpret_cast<const char*>(LacingValues), Segments);
  return s;
}

VorbisHeader VorbisHeader::Parse(const uint8_t* b, size_t n) {
  uint8_t raw[kSize] = {};
  std::memcpy(raw, b, std::min(n, kSize));
  VorbisHeader h;
  std::memcpy(h.ID, raw, 7);
  h.BitstreamVersion = GetLE32(raw + 7);
  h.ChannelMode = raw[11];
  h.SampleRate = GetLE32(raw + 12);
  h.BitRateMaximal = static_cast<int32_t>(GetLE32(raw + 16));
  h.BitRateNominal = static_cast<int32_t>(GetLE32(raw + 20));
  h.BitRateMinimal = static_cast<int32_t>(GetLE32(raw + 24));
  h.BlockSize = raw[28];
  h.StopFlag = raw[29];
  return h;
}

uint32_t OggPageCrc(const void* data, size_t n, uint32_t crc) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) crc = kCrcTable[((crc >> 24) ^ p[i]) & 0xFF] ^ (crc << 8);
  return crc;
}

void TOggVorbis::ResetData() {
  FFileSize = 0;
  FChannelModeID = 0;
  FSampleRate = 0;
  FBitRateNominal = 0;
  FSamples = 0;
  FID3v2Size = 0;
  FTitle.clear(), FArtist.clear(), FAlbum.clear();
  FTrack = 0;
  FDate.clear(), FGenre.clear(), FComment.clear();
  FVendor.clear();
}

namespace {

// The texts the reader takes from a comment header.
struct OggFields {
  std::u16string title, artist, album, date, genre, comment, vendor;
  uint16_t track = 0;
};

OggFields DeriveFields(const FileInfo& info) {
  const auto& slot = info.Tag.FieldData;
  auto value = [&](size_t i) { return Utf8ToUtf16(slot[i]); };
  OggFields f;
  f.title = value(1);
  f.artist = slot[2].empty() ? value(8) : value(2);
  f.album = value(3);
  {
    // The text before any "/" ("7/12" is track 7), kept to eight bits.
    std::u16string t = value(4);
    t = t.substr(0, t.find(u'/'));
    f.track = static_cast<uint8_t>(TryStrToInt(t).value_or(0));
  }
  f.date = value(5);
  f.genre = value(6);
  f.comment = slot[7].empty() ? value(9) : value(7);
  f.vendor = value(0);
  return f;
}

}  // namespace

bool TOggVorbis::ReadFromFile(const std::u16string& FileName) {
  ResetData();
  FileInfo info;
  {
    InputFile f = InputFile::OpenOrThrow(FileName);
    if (!ReadInfo(f, info)) return false;
  }
  FFileSize = static_cast<int32_t>(static_cast<uint32_t>(info.FileSize));
  FChannelModeID = info.Parameters.ChannelMode;
  FSampleRate = static_cast<uint16_t>(info.Parameters.SampleRate & 0xFFFF);
  FBitRateNominal = RoundTo16(info.Parameters.BitRateNominal / 1000.0);
  FSamples = info.Samples;
  FID3v2Size = info.ID3v2Size;

  OggFields r = DeriveFields(info);
  FTitle = std::move(r.title);
  FArtist = std::move(r.artist);
  FAlbum = std::move(r.album);
  FTrack = r.track;
  FDate = std::move(r.date);
  FGenre = std::move(r.genre);
  FComment = std::move(r.comment);
  FVendor = std::move(r.vendor);
  return true;
}

std::u16string TOggVorbis::ChannelMode() const {
  switch (FChannelModeID) {
    case 1: return u"Mono";
    case 2: return u"Stereo";
    default: return u"Unknown";
  }
}

double TOggVorbis::Duration() const {
  if (FSamples > 0) return FSampleRate > 0 ? double(FSamples) / FSampleRate : 0.0;
  if (FBitRateNominal > 0 && FChannelModeID > 0)
    return double(FFileSize - FID3v2Size) / FBitRateNominal / FChannelModeID / 125 * 2;
  return 0.0;
}

uint16_t TOggVorbis::BitRate() const {
  const double d = Duration();
  if (d <= 0) return 0;
  return RoundTo16(double(FFileSize - FID3v2Size) / d / 125);
}

bool TOggVorbis::Valid() const {
  return (FChannelModeID == 1 || FChannelModeID == 2) && FSampleRate > 0 && Duration() > 0.1 &&
         BitRate() > 0;
}

bool TOggVorbis::ClearTag(const std::u16string& FileName) {
  FTitle.clear(), FArtist.clear(), FAlbum.clear();
  FDate.clear(), FGenre.clear(), FComment.clear();
  FTrack = 0;
  return Save(FileName, true);
}

bool TOggVorbis::SaveTag(const std::u16string& FileName) { return Save(FileName, false); }

namespace {

using ReadFn = std::function<int64_t(int64_t, void*, size_t)>;

// A page as found in the file.
struct Page {
  int64_t pos = 0;
  OggHeader h;
  size_t headerLen = 0;  // 27 + segments
  size_t bodyLen = 0;
  int64_t End() const { return pos + int64_t(headerLen + bodyLen); }
};

// The page that starts at pos; false when no whole page stands there.
bool ReadPage(const ReadFn& read, int64_t fileSize, int64_t pos, Page& p) {
  uint8_t raw[OggHeader::kSize];
  if (pos < 0 || fileSize - pos < 27) return false;
  const int64_t got = read(pos, raw, size_t(std::min<int64_t>(sizeof raw, fileSize - pos)));
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

bool CollectHeaderPages(const ReadFn& read, int64_t fileSize, int64_t at, HeaderPages& hp,
                        std::string& reason) {
  std::string current;
  int64_t total = 0;
  for (;;) {
    Page p;
    if (hp.pages >= kMaxHeaderPages || !ReadPage(read, fileSize, at, p)) {
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
    if (read(p.pos + int64_t(p.headerLen), body.data(), body.size()) != int64_t(body.size())) {
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

uint32_t LE32At(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
         uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}

// The comment header's parts: vendor, comments (as stored) and the bytes
// after the last comment (the framing byte).
bool SplitCommentHeader(const std::string& packet, std::string& vendor,
                        std::vector<std::string>& comments, std::string& trailer) {
  size_t at = 7;
  auto text = [&](std::string& out) {
    if (packet.size() - at < 4) return false;
    const uint32_t n = LE32At(packet, at);
    at += 4;
    if (packet.size() - at < n) return false;
    out.assign(packet, at, n);
    at += n;
    return true;
  };
  if (packet.size() < at || !text(vendor) || packet.size() - at < 4) return false;
  const uint32_t count = LE32At(packet, at);
  at += 4;
  if (count > (packet.size() - at) / 4) return false;
  comments.resize(count);
  for (std::string& c : comments)
    if (!text(c)) return false;
  trailer.assign(packet, at, std::string::npos);
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
      out.push_back(name + "=" + value);
      placed = true;
    }
  }
  if (!placed && !value.empty()) out.push_back(name + "=" + value);
  comments = std::move(out);
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
    h.Checksum = 0;
    std::string page = h.Serialize() + body;
    PutLE32At(page, 22, OggPageCrc(page.data(), page.size()));
    pages.push_back(std::move(page));
  }
  return pages;
}

// Copies the pages after the header pages, their sequence numbers moved by
// delta and their checksums recomputed (pages of other streams unchanged).
// Bytes after the last page that hold no page are copied as they are.
bool CopyRenumbered(OutputFile& out, int64_t from, int64_t fileSize, uint32_t serial, int32_t delta) {
  const ReadFn read = [&](int64_t pos, void* buf, size_t n) { return out.ReadOriginal(pos, buf, n); };
  int64_t pos = from;
  std::string page;
  while (pos < fileSize) {
    Page p;
    if (!ReadPage(read, fileSize, pos, p)) {
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
      PutLE32At(page, 18, p.h.PageNumber + uint32_t(delta));
      PutLE32At(page, 22, 0);
      PutLE32At(page, 22, OggPageCrc(page.data(), page.size()));
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
  FileInfo info;
  if (!ReadInfo(s.Source(), info)) return s.Refuse("not an Ogg Vorbis file");
  if (!info.HasTag) return s.Refuse("the file has no comment header");
  const ReadFn read = [&](int64_t pos, void* buf, size_t n) { return s.ReadAt(pos, buf, n); };
  HeaderPages hp;
  std::string reason;
  if (!CollectHeaderPages(read, info.FileSize, info.SPagePos, hp, reason)) return s.Refuse(reason);
  std::string vendor, trailer;
  std::vector<std::string> comments;
  if (!SplitCommentHeader(hp.packets[0], vendor, comments, trailer))
    return s.Refuse("the comment header is damaged");

  if (clearAll) {
    comments.clear();
  } else {
    // A value equal to what the reader gets from the file now leaves its
    // comments as they are; every other comment stays, in its place.
    const OggFields was = DeriveFields(info);
    const std::pair<const char*, std::pair<const std::u16string*, const std::u16string*>> texts[] = {
        {"TITLE", {&FTitle, &was.title}}, {"ARTIST", {&FArtist, &was.artist}},
        {"ALBUM", {&FAlbum, &was.album}}, {"TRACKNUMBER", {nullptr, nullptr}},
        {"DATE", {&FDate, &was.date}},    {"GENRE", {&FGenre, &was.genre}},
        {"COMMENT", {&FComment, &was.comment}}};
    for (const auto& [name, values] : texts) {
      if (!values.first) {
        if (FTrack != was.track)
          PutComment(comments, name, FTrack > 0 ? Utf16ToUtf8(IntToStr(FTrack)) : Utf8String());
        continue;
      }
      const std::u16string value = Trim(*values.first);
      if (value != *values.second) PutComment(comments, name, Utf16ToUtf8(value));
    }
  }
  ByteString tag(hp.packets[0], 0, 7);
  PutLE32(tag, uint32_t(vendor.size()));
  tag += vendor;
  PutLE32(tag, uint32_t(comments.size()));
  for (const std::string& c : comments) {
    if (c.size() > 0xFFFFFFFFu) return s.Refuse("a comment is too long");
    PutLE32(tag, uint32_t(c.size()));
    tag += c;
  }
  tag += trailer;
  if (int64_t(tag.size()) > kMaxHeaderBytes) return s.Refuse("the comment header is too large");

  std::vector<std::string> packets = hp.packets;
  packets[0] = std::move(tag);
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
