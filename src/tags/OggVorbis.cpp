#include "tags/OggVorbis.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

  const auto& slot = info.Tag.FieldData;
  auto value = [&](size_t i) { return Utf8ToUtf16(slot[i]); };
  FTitle = value(1);
  FArtist = slot[2].empty() ? value(8) : value(2);
  FAlbum = value(3);
  {
    // The text before any "/" ("7/12" is track 7), kept to eight bits.
    std::u16string t = value(4);
    t = t.substr(0, t.find(u'/'));
    FTrack = static_cast<uint8_t>(TryStrToInt(t).value_or(0));
  }
  FDate = value(5);
  FGenre = value(6);
  FComment = slot[7].empty() ? value(9) : value(7);
  FVendor = value(0);
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
  return SaveTag(FileName);
}

bool TOggVorbis::SaveTag(const std::u16string& FileName) {
  if (!FileExists(FileName)) return false;
  InputFile f = InputFile::Open(FileName);
  if (!f) return false;
  FileInfo info;
  if (!ReadInfo(f, info)) return false;
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
  slot[1] = Utf16ToUtf8(Trim(FTitle));
  slot[2] = Utf16ToUtf8(Trim(FArtist));
  slot[3] = Utf16ToUtf8(Trim(FAlbum));
  slot[4] = FTrack > 0 ? Utf16ToUtf8(IntToStr(FTrack)) : Utf8String();
  slot[5] = Utf16ToUtf8(Trim(FDate));
  slot[6] = Utf16ToUtf8(Trim(FGenre));
  slot[7] = Utf16ToUtf8(Trim(FComment));
  slot[8].clear();
  slot[9].clear();
  ByteString tag(info.Tag.ID, 7);
  PutLE32(tag, static_cast<uint32_t>(slot[0].size()));
  tag += slot[0];
  uint32_t count = 0;
  for (size_t i = 1; i < slot.size(); ++i) count += slot[i].empty() ? 0 : 1;
  PutLE32(tag, count);
  for (size_t i = 1; i < slot.size(); ++i) {
    if (slot[i].empty()) continue;
    const Utf8String item = Utf16ToUtf8(kVorbisFieldNames[i - 1]) + "=" + slot[i];
    PutLE32(tag, static_cast<uint32_t>(item.size()));
    tag += item;
  }

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
  if (ReadZeroFilled(f, info.TagEndPos, body.data() + restAt, restLen) != restLen) return false;

  ByteString header = page.Serialize();
  uint32_t crc = OggPageCrc(header.data(), header.size());
  crc = OggPageCrc(body.data(), body.size(), crc);
  PutLE32At(header, 22, crc);

  const int64_t keep = info.SPagePos;
  return RewriteFile(FileName, [&](OutputFile& out) {
    return out.CopyFrom(f, 0, keep) && out.Write(header) && out.Write(body) &&
           out.CopyFrom(f, bodyEnd);
  });
}

}  // namespace ordana
