#include "tags/WMAfile.h"


#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "platform/FileIO.h"
#include "platform/SafeWrite.h"
#include "platform/Strings.h"
#include "tags/WMAfileFormat.h"

namespace ordana {

namespace {

using namespace wma;

// The 15 text slots of a read, in slot order.
constexpr int kSlotCount = 15;
constexpr std::array<std::u16string_view, kSlotCount> kSlotNames = {
    u"WM/TITLE",     u"WM/AUTHOR",   u"WM/ALBUMTITLE",    u"WM/TRACK",     u"WM/YEAR",
    u"WM/GENRE",     u"WM/DESCRIPTION", u"WMFSDKVERSION", u"WM/GENREID",   u"WM/PROMOTIONURL",
    u"WM/COPYRIGHT", u"WM/RATING",   u"WM/ENCODER",       u"WM/STREAMTYPE", u"WM/LYRICS"};
enum Slot {
  kTitle = 0, kArtist = 1, kAlbum = 2, kTrack = 3, kYear = 4, kGenre = 5, kComment = 6,
  kEncoder = 7, kGenreID = 8, kPromoURL = 9, kCopyright = 10, kRating = 11, kEncoderName = 12,
  kStreamName = 13, kLyrics = 14
};

// What one read gathers before it is copied into the reader's fields.
struct TFileData {
  uint32_t FileSize = 0;
  bool IsTag = false;
  uint32_t TagSize = 0;
  int32_t MaxBitRate = 0;
  uint16_t Channels = 0;
  int32_t SampleRate = 0;
  int32_t ByteRate = 0;
  std::array<std::u16string, kSlotCount> Tag;
  long double Duration = 0;
  double DateTime = 0;
};

// Delphi-style date-time: days since 1899-12-30; before that day the whole
// days count backwards and the time of day is still added as a positive part
// (-1.5 is 29 December 1899, noon).
double DateTimeFromUnix(int64_t seconds, int64_t millis) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) rest += 86400, --days;
  double frac = (static_cast<double>(rest) * 1000.0 + static_cast<double>(millis)) / 86400000.0;
  int64_t dayNum = days + 25569;  // 1970-01-01 is day 25569
  return dayNum >= 0 ? static_cast<double>(dayNum) + frac : static_cast<double>(dayNum) - frac;
}

double LastWriteTimeUtc(const std::u16string& fileName) {
  int64_t seconds = 0;
  int32_t millis = 0;
  if (!FileLastWriteTimeUtc(fileName, seconds, millis)) return -1.0;
  return DateTimeFromUnix(seconds, millis);
}

void HandleFileProperties(ObjectCursor& c, TFileData& d, int64_t streamSize) {
  c.Skip(20);
  uint64_t v = 0;
  if (c.ReadU64(v)) d.FileSize = static_cast<uint32_t>(v);
  c.Skip(16);
  if (c.ReadU64(v)) d.Duration = static_cast<long double>(v) / 10000000.0L;
  c.Skip(8);
  if (c.ReadU64(v)) d.Duration -= static_cast<long double>(v) / 1000.0L;
  c.Skip(12);
  uint32_t m = 0;
  if (c.ReadU32(m)) d.MaxBitRate = static_cast<int32_t>(m);
  d.FileSize = static_cast<uint32_t>(streamSize);
}

void HandleStreamProperties(ObjectCursor& c, TFileData& d) {
  c.Skip(60);
  uint16_t ch = 0;
  uint32_t v = 0;
  if (c.ReadU16(ch)) d.Channels = ch;
  if (c.ReadU32(v)) d.SampleRate = static_cast<int32_t>(v);
  if (c.ReadU32(v)) d.ByteRate = static_cast<int32_t>(v);
}

void HandleContentDescription(ObjectCursor& c, TFileData& d) {
  c.Skip(4);
  static constexpr int kSlots[5] = {kTitle, kArtist, kCopyright, kComment, kRating};
  uint16_t len[5] = {0, 0, 0, 0, 0};
  for (auto& l : len)
    if (!c.ReadU16(l)) return;
  for (int i = 0; i < 5; ++i) {
    if (len[i] == 0) continue;
    std::u16string text;
    if (c.ReadText(len[i], text)) d.Tag[kSlots[i]] = std::move(text);
  }
}

int SlotOf(std::u16string_view name) {
  const std::u16string key = UpperAscii(Trim(name));
  for (int i = 0; i < kSlotCount; ++i)
    if (key == kSlotNames[i]) return i;
  return -1;
}

void HandleExtendedContentDescription(ObjectCursor& c, TFileData& d) {
  c.Skip(4);
  d.IsTag = true;
  uint16_t count = 0;
  if (!c.ReadU16(count)) return;
  for (uint16_t i = 0; i < count; ++i) {
    uint16_t nameLen = 0, type = 0, valueLen = 0;
    std::u16string name, value;
    // A descriptor cut off by the end of the object ends the list.
    if (!c.ReadU16(nameLen) || !c.ReadText(nameLen, name)) return;
    if (!c.ReadU16(type) || !c.ReadU16(valueLen)) return;
    if (type == 0) {
      if (!c.ReadText(valueLen, value)) return;
    } else if (type == 3) {
      uint64_t n = 0;
      if (!c.ReadNumber(valueLen, n)) return;
      value = U16(std::to_string(n));
    } else {
      c.Skip(valueLen);
    }
    int slot = SlotOf(name);
    if (slot >= 0) d.Tag[slot] = std::move(value);
  }
}

void HandleCodecList(ObjectCursor& c, TFileData& d) {
  c.Skip(4 + 20);
  uint16_t texts = 0;
  if (!c.ReadU16(texts)) return;
  for (uint32_t i = 0; i < texts; ++i) {
    uint16_t chars = 0;
    std::u16string text;
    if (!c.ReadU16(chars) || !c.ReadText(2u * chars, text)) return;
    if (i == 0) d.Tag[kEncoderName] = std::move(text);
    else if (i == 1) d.Tag[kStreamName] = std::move(text);
  }
}

// The walk over the Header Object's objects. False only when the file could
// not be opened or a read failed with an input/output error.
bool ReadFileData(const std::u16string& fileName, TFileData& d) {
  InputFile f = InputFile::Open(fileName);
  if (!f) return false;
  d.DateTime = LastWriteTimeUtc(fileName);
  const int64_t size = f.Size();
  if (size < 0) return false;
  d.FileSize = static_cast<uint32_t>(size);

  ObjectCursor head(f, 0, size);
  uint8_t guid[16];
  if (!head.ReadBytes(guid, 16) || !SameGuid(guid, kHeaderObject)) return !head.IoError();
  uint64_t headerSize = 0;
  uint32_t count = 0;
  if (!head.ReadU64(headerSize)) return !head.IoError();
  d.TagSize = static_cast<uint32_t>(headerSize);
  if (!head.ReadU32(count)) return !head.IoError();
  head.Skip(2);

  int64_t pos = head.Position();
  for (uint32_t i = 0; i < count && static_cast<int32_t>(count) > 0; ++i) {
    if (pos + kObjectHeaderSize > size) break;
    ObjectCursor obj(f, pos, size);
    uint64_t objSize64 = 0;
    if (!obj.ReadBytes(guid, 16) || !obj.ReadU64(objSize64)) return !obj.IoError();
    // Only the low 32 bits of an object's size count.
    const int64_t objSize = static_cast<uint32_t>(objSize64);
    // A size smaller than the object's own header would make the walk stand
    // still or go backwards: stop there.
    if (objSize < kObjectHeaderSize) break;
    const int64_t end = pos + objSize;
    // Reads inside an object stay inside it (and inside the file).
    ObjectCursor body(f, pos, std::min(end, size));
    body.Skip(20);
    if (SameGuid(guid, kFilePropertiesObject)) HandleFileProperties(body, d, size);
    else if (SameGuid(guid, kStreamPropertiesObject)) HandleStreamProperties(body, d);
    else if (SameGuid(guid, kContentDescriptionObject)) HandleContentDescription(body, d);
    else if (SameGuid(guid, kExtendedContentDescriptionObject))
      HandleExtendedContentDescription(body, d);
    else if (SameGuid(guid, kCodecListObject)) HandleCodecList(body, d);
    if (body.IoError()) return false;
    pos = end;
  }
  return true;
}

long double CorrectedDuration(const TFileData& d) {
  const std::u16string& version = d.Tag[kEncoder];
  const int32_t m = d.MaxBitRate;
  const uint32_t payload = d.FileSize - d.TagSize;  // unsigned 32-bit, as stored
  if (version.empty()) {
    if (m <= 0) return 0;
    return static_cast<long double>(static_cast<uint32_t>(payload * 8u)) / m;
  }
  if (version[0] == u'9') {
    if (m < 256000 && d.Duration < 100) {
      if (d.ByteRate == 0) return 0;
      const uint32_t bytes = payload - static_cast<uint32_t>(m / 8);
      return static_cast<long double>(bytes) / d.ByteRate - 2;
    }
    return d.Duration;
  }
  if (m > 0 && m < 320000)
    return static_cast<long double>(static_cast<uint32_t>(payload * 8u)) / m;
  return d.Duration;
}

}  // namespace

void TWMA::ResetData() {
  FValid = false;
  FIsValidFile = false;
  FIsTAG = false;
  FIsVBR = false;
  FFileSize = 0;
  FTagSize = 0;
  FChannelModeID = 0;
  FSampleRate = 0;
  FDuration = 0.0;
  FBitRate = 0;
  FDateTime = -1.0;
  for (auto* s : {&FTitle, &FArtist, &FAlbum, &FTrack, &FYear, &FGenre, &FComment, &FEncoder,
                  &FRating, &FGenreID, &FPromoURL, &FCopyright, &FEncoderName, &FStreamName,
                  &FLyrics})
    s->clear();
}

AnsiString TWMA::ChannelMode() const {
  switch (FChannelModeID) {
    case 1: return "Mono";
    case 2: return "Stereo";
    default: return "Unknown";
  }
}

bool TWMA::LoadFromFile(const std::u16string& FileName) {
  ResetData();
  TFileData d;
  if (!ReadFileData(FileName, d)) return false;

  FValid = true;
  FFileSize = static_cast<int32_t>(d.FileSize);
  FDateTime = d.DateTime;
  FIsTAG = d.IsTag;
  FTagSize = static_cast<int32_t>(d.TagSize);
  FChannelModeID = static_cast<uint8_t>(d.Channels & 0xFF);
  FSampleRate = d.SampleRate;
  FIsValidFile = d.MaxBitRate > 0 && (d.Channels == 1 || d.Channels == 2) &&
                 d.SampleRate >= 8000 && d.SampleRate <= 96000 && d.ByteRate > 0 &&
                 d.ByteRate < 400000;

  long double duration = CorrectedDuration(d);
  if (!std::isfinite(duration) || duration < 0) duration = 0;
  FDuration = static_cast<double>(duration);
  FBitRate = static_cast<int32_t>(static_cast<int64_t>(d.ByteRate) * 8 / 1000);

  std::u16string* fields[kSlotCount] = {&FTitle,   &FArtist,    &FAlbum,       &FTrack,
                                        &FYear,    &FGenre,     &FComment,     &FEncoder,
                                        &FGenreID, &FPromoURL,  &FCopyright,   &FRating,
                                        &FEncoderName, &FStreamName, &FLyrics};
  for (int i = 0; i < kSlotCount; ++i) *fields[i] = Trim(d.Tag[i]);
  FIsVBR = FStreamName.find(u"VBR") != std::u16string::npos;
  return FValid;
}

// --- Writing -------------------------------------------------------------------

namespace {

void PutLE(std::string& out, uint64_t v, int n) {
  for (int i = 0; i < n; ++i, v >>= 8) out += static_cast<char>(v & 0xFF);
}
void PatchLE(std::string& buf, size_t at, uint64_t v, int n) {
  for (int i = 0; i < n; ++i, v >>= 8) buf[at + i] = static_cast<char>(v & 0xFF);
}
uint64_t GetLE(std::string_view buf, size_t at, int n) {
  uint64_t v = 0;
  for (int i = n; i-- > 0;) v = (v << 8) | static_cast<uint8_t>(buf[at + i]);
  return v;
}

// A text's byte length is kept in 16 bits: 2 x characters + 2 must fit.
// Saves refuse longer texts; a name or value longer than that (never ours)
// would be cut here (never inside a surrogate pair).
constexpr size_t kMaxWrittenChars = 32766;
std::string EncodeText(std::u16string_view text) {
  if (text.size() > kMaxWrittenChars) {
    text = text.substr(0, kMaxWrittenChars);
    if (text.back() >= 0xD800 && text.back() <= 0xDBFF) text.remove_suffix(1);
  }
  return Utf16ToUtf16LE(text) + std::string(2, '\0');
}

void PutTextDescriptor(std::string& out, std::u16string_view name, std::u16string_view value) {
  const std::string n = EncodeText(name), v = EncodeText(value);
  PutLE(out, n.size(), 2);
  out += n;
  PutLE(out, 0, 2);
  PutLE(out, v.size(), 2);
  out += v;
}
void PutNumberDescriptor(std::string& out, std::u16string_view name, uint32_t value) {
  const std::string n = EncodeText(name);
  PutLE(out, n.size(), 2);
  out += n;
  PutLE(out, 3, 2);
  PutLE(out, 4, 2);
  PutLE(out, value, 4);
}

constexpr std::array<std::u16string_view, 8> kManagedNames = {
    u"WM/ALBUMTITLE", u"WM/YEAR",  u"WM/PROMOTIONURL", u"WM/GENREID",
    u"WM/GENRE",      u"WM/TRACK", u"WM/TRACKNUMBER",  u"WM/LYRICS"};

// A header object found by the walk; an absent one stands at 30 with size 0.
struct Located {
  bool found = false;
  int64_t pos = 30;
  int64_t size = 0;
};

// Position of the Data Object: right after the header when its GUID stands
// there, else the first occurrence of its GUID in the file; -1 when none.
int64_t FindDataObject(const InputFile& f, int64_t headerSize, int64_t fileSize) {
  uint8_t g[16];
  if (headerSize >= 30 && headerSize <= fileSize - 16 && f.ReadAt(headerSize, g, 16) == 16 &&
      SameGuid(g, kDataObject))
    return headerSize;
  std::string buf(1 << 16, '\0');
  for (int64_t at = 0; at + 16 <= fileSize;) {
    int64_t got = f.ReadAt(at, buf.data(), buf.size());
    if (got < 16) return -1;
    for (int64_t i = 0; i + 16 <= got; ++i)
      if (SameGuid(buf.data() + i, kDataObject)) return at + i;
    at += got - 15;  // the GUID may straddle two chunks
  }
  return -1;
}

// The new Extended Content Description object: the old descriptors that are
// not managed here, unchanged, then the managed ones from the reader's texts.
bool BuildExtendedContent(std::string_view old, const TWMA& w, bool keepTrackNumber,
                          std::string& out) {
  out.assign(reinterpret_cast<const char*>(kExtendedContentDescriptionObject), 16);
  PutLE(out, 0, 8);
  PutLE(out, 0, 2);
  uint32_t count = 0;
  uint32_t oldTrackNumber = 0;
  bool haveOldTrackNumber = false;
  if (!old.empty()) {
    const size_t end = old.size();
    size_t p = 26;
    uint32_t oldCount = end >= 26 ? static_cast<uint32_t>(GetLE(old, 24, 2)) : 0;
    for (uint32_t i = 0; i < oldCount; ++i) {
      if (p + 2 > end) break;
      const size_t nameLen = GetLE(old, p, 2);
      if (p + 2 + nameLen + 4 > end) break;
      const size_t typeAt = p + 2 + nameLen;
      const uint16_t type = static_cast<uint16_t>(GetLE(old, typeAt, 2));
      const size_t valueLen = GetLE(old, typeAt + 2, 2);
      const size_t next = typeAt + 4 + valueLen;
      if (next > end) break;  // a descriptor cut off by the object's end ends the list
      const std::u16string name = Utf16LEToUtf16(old.substr(p + 2, nameLen));
      const std::u16string key = UpperAscii(Trim(name));
      const bool managed =
          std::find(kManagedNames.begin(), kManagedNames.end(), key) != kManagedNames.end();
      if (keepTrackNumber && key == u"WM/TRACKNUMBER" && type == 3 && valueLen == 4) {
        oldTrackNumber = static_cast<uint32_t>(GetLE(old, typeAt + 4, 4));
        haveOldTrackNumber = true;
      }
      // Managed names are written anew; every other descriptor (pictures
      // of any size among them) is copied as it stands.
      if (!managed) {
        out.append(old.substr(p, next - p));
        ++count;
      }
      p = next;
    }
  }
  // The genre number is kept in brackets; one already in brackets (as read
  // back from an earlier save) is not bracketed again.
  std::u16string genreID = w.GenreID();
  if (!(genreID.size() >= 2 && genreID.front() == u'(' && genreID.back() == u')'))
    genreID = u"(" + genreID + u")";
  // The numeric track: the track text when it is a number, else the number
  // the file had, else 0.
  uint32_t trackNumber = haveOldTrackNumber ? oldTrackNumber : 0;
  if (auto t = TryStrToInt(Trim(w.Track())); t && *t >= 0) trackNumber = static_cast<uint32_t>(*t);

  PutTextDescriptor(out, u"WM/AlbumTitle", w.Album());
  PutTextDescriptor(out, u"WM/Year", w.Year());
  PutTextDescriptor(out, u"WM/PromotionURL", w.PromoURL());
  PutTextDescriptor(out, u"WM/GenreID", genreID);
  PutTextDescriptor(out, u"WM/Genre", w.Genre());
  PutTextDescriptor(out, u"WM/Track", w.Track());
  PutNumberDescriptor(out, u"WM/TrackNumber", trackNumber);
  PutTextDescriptor(out, u"WM/Lyrics", w.Lyrics());
  count += 8;
  if (count > 0xFFFF) return false;
  PatchLE(out, 16, out.size(), 8);
  PatchLE(out, 24, count, 2);
  return true;
}

std::string BuildContentDescription(const TWMA& w) {
  const std::string texts[5] = {EncodeText(w.Title()), EncodeText(w.Artist()),
                                EncodeText(w.Copyright()), EncodeText(w.Comment()),
                                EncodeText(w.Rating())};
  std::string out(reinterpret_cast<const char*>(kContentDescriptionObject), 16);
  uint64_t size = 34;
  for (const auto& t : texts) size += t.size();
  PutLE(out, size, 8);
  for (const auto& t : texts) PutLE(out, t.size(), 2);
  for (const auto& t : texts) out += t;
  return out;
}

// The whole new header, from the old bytes before the Data Object. False
// when the header is too damaged to be rewritten safely.
bool BuildNewHeader(std::string_view old, uint64_t dataLen, const TWMA& w, bool keepTrackNumber,
                    std::string& header) {
  const int64_t end = static_cast<int64_t>(old.size());  // the Data Object's position
  uint32_t count = static_cast<uint32_t>(GetLE(old, 24, 4));
  Located ext, cd;
  int64_t pos = 30;
  for (uint32_t i = 0; i < count && pos + kObjectHeaderSize <= end; ++i) {
    const uint64_t size = GetLE(old, pos + 16, 8);
    if (size < static_cast<uint64_t>(kObjectHeaderSize) ||
        size > static_cast<uint64_t>(end - pos))
      return false;
    const char* guid = old.data() + pos;
    if (SameGuid(guid, kExtendedContentDescriptionObject))
      ext = {true, pos, static_cast<int64_t>(size)};
    else if (SameGuid(guid, kContentDescriptionObject))
      cd = {true, pos, static_cast<int64_t>(size)};
    pos += static_cast<int64_t>(size);
  }
  count += !ext.found + !cd.found;

  std::string newExt;
  if (!BuildExtendedContent(ext.found ? old.substr(ext.pos, ext.size) : std::string_view(), w,
                            keepTrackNumber, newExt))
    return false;
  const std::string newCd = BuildContentDescription(w);
  auto piece = [&](int64_t from, int64_t to) {
    // Pieces too short to hold an object are left out.
    return to - from > 16 ? old.substr(from, to - from) : std::string_view();
  };

  // The new Extended Content Description object goes where the first of the
  // two stood; the Content Description follows the objects between them.
  // An absent object counts as standing first, at 30 with size 0; with
  // neither present both new objects go to the front.
  const bool cdFirst = cd.found && ext.found ? cd.pos < ext.pos : !cd.found;
  const Located& first = cdFirst ? cd : ext;
  const Located& second = cdFirst ? ext : cd;
  header.assign(old.substr(0, first.pos));
  header += newExt;
  header += piece(first.pos + first.size, second.pos);
  header += newCd;
  header += piece(second.pos + second.size, end);

  const uint64_t newSize = header.size();
  PatchLE(header, 16, newSize, 8);
  PatchLE(header, 24, count, 4);
  // The File Properties object's File Size (its low 32 bits) follows the new length.
  pos = 30;
  for (uint32_t i = 0; i < count && pos + kObjectHeaderSize <= static_cast<int64_t>(newSize); ++i) {
    const uint64_t size = GetLE(header, pos + 16, 8);
    if (size < static_cast<uint64_t>(kObjectHeaderSize)) break;
    if (SameGuid(header.data() + pos, kFilePropertiesObject)) {
      if (pos + 48 <= static_cast<int64_t>(newSize))
        PatchLE(header, pos + 40, static_cast<uint32_t>(newSize + dataLen), 4);
      break;
    }
    pos += static_cast<int64_t>(size);
  }
  return true;
}

}  // namespace

bool TWMA::SaveToFile(const std::u16string& FileName) { return Save(FileName, true); }

bool TWMA::Save(const std::u16string& FileName, bool keepTrackNumber) {
  try {
    SaveSession s(FileName);
    if (!s) return false;
    const InputFile& f = s.Source();
    const int64_t fileSize = s.Size();
    uint8_t head[30] = {};
    const int64_t got = s.ReadAt(0, head, 30);
    if (got < 0) return s.Refuse("the file cannot be read");
    if (got < 16 || !SameGuid(head, kHeaderObject)) {  // not ASF: nothing to do
      ClearLastSaveStatus();
      return true;
    }
    if (got < 30) return s.Refuse("the ASF header is cut off");
    // A text's byte length is kept in 16 bits: longer texts cannot be
    // stored whole, and are not cut.
    const std::pair<const char*, const std::u16string*> texts[] = {
        {"title", &FTitle},       {"artist", &FArtist},   {"album", &FAlbum},
        {"track", &FTrack},       {"year", &FYear},       {"genre", &FGenre},
        {"comment", &FComment},   {"rating", &FRating},   {"genre number", &FGenreID},
        {"promotion URL", &FPromoURL}, {"copyright", &FCopyright}, {"lyrics", &FLyrics}};
    for (const auto& [what, text] : texts)
      if (text->size() > kMaxWrittenChars)
        return s.Refuse(std::string("the ") + what + " is longer than the 32,766 characters a WMA text holds");

    const uint64_t headerSize = GetLE(std::string_view(reinterpret_cast<char*>(head), 30), 16, 8);
    const int64_t dataPos = FindDataObject(
        f, headerSize > static_cast<uint64_t>(fileSize) ? -1 : static_cast<int64_t>(headerSize),
        fileSize);
    // Without a Data Object, or with one inside the header, the layout is not
    // known well enough to be rewritten.
    if (dataPos < 30 || static_cast<uint64_t>(dataPos) < headerSize)
      return s.Refuse("the ASF Data Object cannot be found");

    std::string old(static_cast<size_t>(dataPos), '\0');
    if (s.ReadAt(0, old.data(), old.size()) != dataPos) return s.Refuse("the ASF header cannot be read");
    std::string header;
    if (!BuildNewHeader(old, static_cast<uint64_t>(fileSize - dataPos), *this, keepTrackNumber, header))
      return s.Refuse("the ASF header objects are damaged");

    return s.Rewrite([&](OutputFile& out) { return out.Write(header) && out.CopyOriginal(dataPos); });
  } catch (...) {
    return RefuseSave("out of memory");
  }
}

bool TWMA::RemoveTag(const std::u16string& FileName) {
  ResetData();
  return Save(FileName, false);
}

}  // namespace ordana
