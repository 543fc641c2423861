#include "tags/WMAfile.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "bytes/ByteWriter.h"
#include "platform/FileIO.h"
#include "platform/SafeWrite.h"
#include "platform/Strings.h"
#include "tags/FileSource.h"
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

using Cursor = bytes::SourceReader;

// A text of byteLen bytes: at most kMaxTextChars UTF-16LE units are kept,
// the rest is passed over. The text keeps any terminating zero unit. False
// (text untouched) when the kept part is not there.
bool ReadText(Cursor& c, uint32_t byteLen, std::u16string& text) {
  const size_t chars = std::min<size_t>(byteLen / 2, kMaxTextChars);
  const bytes::ByteReader kept = c.Take(2 * chars);
  const bool ok = c.Ok();
  if (ok) text = Utf16LEToUtf16(kept.AllChars());
  c.Skip(byteLen - 2 * chars);
  return ok;
}

// An unsigned number of byteLen bytes: 1, 2, 4 or 8 bytes are read, any
// other length gives 0 (and counts as read); bytes past the eighth are
// passed over.
bool ReadNumber(Cursor& c, uint32_t byteLen, uint64_t& v) {
  const uint32_t n = std::min<uint32_t>(byteLen, 8);
  v = 0;
  bool ok = true;
  if (n == 1 || n == 2 || n == 4 || n == 8) {
    v = c.Take(n).UintLE(n);
    ok = c.Ok();
  } else {
    c.Skip(n);
  }
  c.Skip(byteLen - n);
  return ok;
}

void HandleFileProperties(Cursor& c, TFileData& d, int64_t streamSize) {
  c.Skip(20);
  uint64_t v = c.U64LE();
  if (c.Ok()) d.FileSize = static_cast<uint32_t>(v);
  c.Skip(16);
  v = c.U64LE();  // the play duration in 100 ns
  if (c.Ok()) d.Duration = static_cast<long double>(v) / 10000000.0L;
  c.Skip(8);
  v = c.U64LE();  // the preroll in ms
  if (c.Ok()) d.Duration -= static_cast<long double>(v) / 1000.0L;
  c.Skip(12);
  const uint32_t m = c.U32LE();
  if (c.Ok()) d.MaxBitRate = static_cast<int32_t>(m);
  d.FileSize = static_cast<uint32_t>(streamSize);
}

// Every Stream Properties object overwrites the last (its type is not checked):
// the playout program reads a file's stream facts so.
void HandleStreamProperties(Cursor& c, TFileData& d) {
  c.Skip(60);
  const uint16_t ch = c.U16LE();
  if (c.Ok()) d.Channels = ch;
  const uint32_t rate = c.U32LE();
  if (c.Ok()) d.SampleRate = static_cast<int32_t>(rate);
  const uint32_t bytes = c.U32LE();
  if (c.Ok()) d.ByteRate = static_cast<int32_t>(bytes);
}

void HandleContentDescription(Cursor& c, TFileData& d) {
  c.Skip(4);
  static constexpr int kSlots[5] = {kTitle, kArtist, kCopyright, kComment, kRating};
  uint16_t len[5] = {0, 0, 0, 0, 0};
  for (auto& l : len) {
    l = c.U16LE();
    if (!c.Ok()) return;
  }
  for (int i = 0; i < 5; ++i) {
    if (len[i] == 0) continue;
    std::u16string text;
    if (ReadText(c, len[i], text)) d.Tag[kSlots[i]] = std::move(text);
  }
}

int SlotOf(std::u16string_view name) {
  const std::u16string key = UpperAscii(Trim(name));
  for (int i = 0; i < kSlotCount; ++i)
    if (key == kSlotNames[i]) return i;
  return -1;
}

void HandleExtendedContentDescription(Cursor& c, TFileData& d) {
  c.Skip(4);
  d.IsTag = true;
  const uint16_t count = c.U16LE();
  if (!c.Ok()) return;
  for (uint16_t i = 0; i < count; ++i) {
    std::u16string name, value;
    // A descriptor cut off by the end of the object ends the list.
    const uint16_t nameLen = c.U16LE();
    if (!c.Ok() || !ReadText(c, nameLen, name)) return;
    const uint16_t type = c.U16LE();
    const uint16_t valueLen = c.U16LE();
    if (!c.Ok()) return;
    if (type == 0) {
      if (!ReadText(c, valueLen, value)) return;
    } else if (type == 3) {
      uint64_t n = 0;
      if (!ReadNumber(c, valueLen, n)) return;
      value = U16(std::to_string(n));
    } else {
      // Other types (16- and 64-bit numbers, booleans, bytes) give an empty
      // text, as the playout program shows them: "WM/Track" as a 16-bit number is no track.
      c.Skip(valueLen);
    }
    int slot = SlotOf(name);
    if (slot >= 0) d.Tag[slot] = std::move(value);
  }
}

void HandleCodecList(Cursor& c, TFileData& d) {
  c.Skip(4 + 20);
  const uint16_t texts = c.U16LE();
  if (!c.Ok()) return;
  for (uint32_t i = 0; i < texts; ++i) {
    std::u16string text;
    const uint16_t chars = c.U16LE();
    if (!c.Ok() || !ReadText(c, 2u * chars, text)) return;
    if (i == 0) d.Tag[kEncoderName] = std::move(text);
    else if (i == 1) d.Tag[kStreamName] = std::move(text);
  }
}

// The walk over the Header Object's objects. False only when the source
// cannot be read.
bool ReadFileData(const bytes::ByteSource& file, TFileData& d) {
  bytes::SourceWindow w(file);
  const int64_t size = w.Size();
  if (size < 0) return false;
  d.FileSize = static_cast<uint32_t>(size);

  Cursor head(w, 0, size);
  bytes::ByteReader guid = head.Take(16);
  if (!head.Ok() || !SameGuid(guid.All().data(), kHeaderObject)) return !w.ReadError();
  const uint64_t headerSize = head.U64LE();
  if (!head.Ok()) return !w.ReadError();
  d.TagSize = static_cast<uint32_t>(headerSize);
  const uint32_t count = head.U32LE();
  if (!head.Ok()) return !w.ReadError();
  head.Skip(2);

  int64_t pos = head.Position();
  for (uint32_t i = 0; i < count && static_cast<int32_t>(count) > 0; ++i) {
    if (pos + kObjectHeaderSize > size) break;
    Cursor obj(w, pos, size);
    guid = obj.Take(16);
    uint8_t id[16];
    guid.CopyTo(id, 16);
    const uint64_t objSize64 = obj.U64LE();
    if (!obj.Ok()) return !w.ReadError();
    // Only the low 32 bits of an object's size count.
    const int64_t objSize = static_cast<uint32_t>(objSize64);
    // A size smaller than the object's own header would make the walk stand
    // still or go backwards: stop there.
    if (objSize < kObjectHeaderSize) break;
    const int64_t end = pos + objSize;
    // Reads inside an object stay inside it (and inside the file).
    Cursor body(w, pos, std::min(end, size));
    body.Skip(20);
    if (SameGuid(id, kFilePropertiesObject)) HandleFileProperties(body, d, size);
    else if (SameGuid(id, kStreamPropertiesObject)) HandleStreamProperties(body, d);
    else if (SameGuid(id, kContentDescriptionObject)) HandleContentDescription(body, d);
    else if (SameGuid(id, kExtendedContentDescriptionObject))
      HandleExtendedContentDescription(body, d);
    else if (SameGuid(id, kCodecListObject)) HandleCodecList(body, d);
    if (w.ReadError()) return false;
    pos = end;
  }
  return true;
}

// The header's duration is replaced by one from the file size, depending on the
// encoder's SDK version: the lengths the playout program shows for such files.
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

AnsiString TWMA::ChannelMode() const {
  switch (F.ChannelModeID) {
    case 1: return AnsiString("Mono");
    case 2: return AnsiString("Stereo");
    default: return AnsiString("Unknown");
  }
}

bool ParseWMA(const bytes::ByteSource& file, double lastWrite, WMARecord& wma) {
  wma = WMARecord{};
  TFileData d;
  if (!ReadFileData(file, d)) return false;

  wma.Valid = true;
  wma.FileSize = static_cast<int32_t>(d.FileSize);
  wma.DateTime = lastWrite;
  wma.IsTAG = d.IsTag;
  wma.TagSize = static_cast<int32_t>(d.TagSize);
  wma.ChannelModeID = static_cast<uint8_t>(d.Channels & 0xFF);
  wma.SampleRate = d.SampleRate;
  wma.IsValidFile = d.MaxBitRate > 0 && (d.Channels == 1 || d.Channels == 2) &&
                    d.SampleRate >= 8000 && d.SampleRate <= 96000 && d.ByteRate > 0 &&
                    d.ByteRate < 400000;

  long double duration = CorrectedDuration(d);
  if (!std::isfinite(duration) || duration < 0) duration = 0;
  wma.Duration = static_cast<double>(duration);
  wma.BitRate = static_cast<int32_t>(static_cast<int64_t>(d.ByteRate) * 8 / 1000);

  std::u16string* fields[kSlotCount] = {&wma.Title,   &wma.Artist,      &wma.Album,
                                        &wma.Track,   &wma.Year,        &wma.Genre,
                                        &wma.Comment, &wma.Encoder,     &wma.GenreID,
                                        &wma.PromoURL, &wma.Copyright,  &wma.Rating,
                                        &wma.EncoderName, &wma.StreamName, &wma.Lyrics};
  for (int i = 0; i < kSlotCount; ++i) *fields[i] = Trim(d.Tag[i]);
  wma.IsVBR = wma.StreamName.find(u"VBR") != std::u16string::npos;
  return true;
}

bool TWMA::LoadFromFile(const std::u16string& FileName) {
  ResetData();
  return ParseFile(FileName, [&](const bytes::ByteSource& s) {
    return ReadFromSource(s, LastWriteTimeUtc(FileName));
  });
}

bool TWMA::ReadFromSource(const bytes::ByteSource& Source, double LastWrite) {
  return ParseWMA(Source, LastWrite, F);
}

// --- Writing -------------------------------------------------------------------

namespace {

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

void PutTextDescriptor(bytes::ByteWriter& out, std::u16string_view name, std::u16string_view value) {
  const std::string n = EncodeText(name), v = EncodeText(value);
  out.PutU16LE(n.size());
  out.PutBytes(n);
  out.PutU16LE(0);  // a text
  out.PutU16LE(v.size());
  out.PutBytes(v);
}
void PutNumberDescriptor(bytes::ByteWriter& out, std::u16string_view name, uint32_t value) {
  const std::string n = EncodeText(name);
  out.PutU16LE(n.size());
  out.PutBytes(n);
  out.PutU16LE(3);  // a 32-bit number
  out.PutU16LE(4);
  out.PutU32LE(value);
}

std::string_view GuidBytes(const Guid& g) { return {reinterpret_cast<const char*>(g), 16}; }

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
int64_t FindDataObject(const bytes::ByteSource& file, int64_t headerSize) {
  constexpr size_t kChunk = 1 << 16;
  bytes::SourceWindow w(file, kChunk);
  const int64_t fileSize = w.Size();
  if (headerSize >= 30 && headerSize <= fileSize - 16 &&
      w.Get(headerSize, 16).StartsWith(GuidBytes(kDataObject)))
    return headerSize;
  for (int64_t at = 0; at + 16 <= fileSize;) {
    const bytes::ByteReader chunk = w.GetUpTo(at, kChunk);
    const auto got = static_cast<int64_t>(chunk.Ok() ? chunk.Size() : 0);
    if (got < 16) return -1;
    for (int64_t i = 0; i + 16 <= got; ++i)
      if (chunk.At(static_cast<size_t>(i)).StartsWith(GuidBytes(kDataObject))) return at + i;
    at += got - 15;  // the GUID may straddle two chunks
  }
  return -1;
}

// The new Extended Content Description object: the old descriptors that are
// not managed here, unchanged, then the managed ones from the record's texts.
bool BuildExtendedContent(std::string_view old, const WMARecord& w, bool keepTrackNumber,
                          std::string& result) {
  bytes::ByteWriter out;
  out.PutBytes(GuidBytes(kExtendedContentDescriptionObject));
  out.PutU64LE(0);  // the size, set below
  out.PutU16LE(0);  // the count, set below
  uint64_t count = 0;
  uint32_t oldTrackNumber = 0;
  bool haveOldTrackNumber = false;
  bytes::ByteReader r(old);
  const uint16_t oldCount = r.Seek(24) ? r.U16LE() : 0;
  for (uint32_t i = 0; i < oldCount; ++i) {
    // A descriptor cut off by the object's end ends the list.
    const size_t p = r.Position();
    const uint16_t nameLen = r.U16LE();
    const std::string_view nameBytes = r.Chars(nameLen);
    const uint16_t type = r.U16LE();
    const uint16_t valueLen = r.U16LE();
    const bytes::ByteReader value = r.Sub(valueLen);
    if (!r.Ok()) break;
    const std::u16string key = UpperAscii(Trim(Utf16LEToUtf16(nameBytes)));
    const bool managed =
        std::find(kManagedNames.begin(), kManagedNames.end(), key) != kManagedNames.end();
    if (keepTrackNumber && key == u"WM/TRACKNUMBER" && type == 3 && valueLen == 4) {
      oldTrackNumber = value.At(0).U32LE();
      haveOldTrackNumber = true;
    }
    // Managed names are written anew; every other descriptor (pictures
    // of any size among them) is copied as it stands.
    if (!managed) {
      out.PutBytes(old.substr(p, r.Position() - p));
      ++count;
    }
  }
  // The genre number is kept in brackets; one already in brackets (as read
  // back from an earlier save) is not bracketed again.
  std::u16string genreID = w.GenreID;
  if (!(genreID.size() >= 2 && genreID.front() == u'(' && genreID.back() == u')'))
    genreID = u"(" + genreID + u")";
  // The numeric track: the track text when it is a number, else the number
  // the file had, else 0.
  uint32_t trackNumber = haveOldTrackNumber ? oldTrackNumber : 0;
  if (auto t = TryStrToInt(Trim(w.Track)); t && *t >= 0) trackNumber = static_cast<uint32_t>(*t);

  PutTextDescriptor(out, u"WM/AlbumTitle", w.Album);
  PutTextDescriptor(out, u"WM/Year", w.Year);
  PutTextDescriptor(out, u"WM/PromotionURL", w.PromoURL);
  PutTextDescriptor(out, u"WM/GenreID", genreID);
  PutTextDescriptor(out, u"WM/Genre", w.Genre);
  PutTextDescriptor(out, u"WM/Track", w.Track);
  PutNumberDescriptor(out, u"WM/TrackNumber", trackNumber);
  PutTextDescriptor(out, u"WM/Lyrics", w.Lyrics);
  count += 8;
  out.PatchU64LE(16, out.Size());
  out.PatchU16LE(24, count);  // refused (the save with it) above 65535 descriptors
  if (!out.Ok()) return false;
  result = out.Take();
  return true;
}

std::string BuildContentDescription(const WMARecord& w) {
  const std::string texts[5] = {EncodeText(w.Title), EncodeText(w.Artist),
                                EncodeText(w.Copyright), EncodeText(w.Comment),
                                EncodeText(w.Rating)};
  bytes::ByteWriter out;
  out.PutBytes(GuidBytes(kContentDescriptionObject));
  uint64_t size = 34;
  for (const auto& t : texts) size += t.size();
  out.PutU64LE(size);
  for (const auto& t : texts) out.PutU16LE(t.size());
  for (const auto& t : texts) out.PutBytes(t);
  return out.Take();
}

}  // namespace

bool RenderWMAHeader(std::string_view old, uint64_t dataLen, const WMARecord& w,
                     bool keepTrackNumber, std::string& header) {
  const bytes::ByteReader r(old);
  const auto end = static_cast<int64_t>(old.size());  // the Data Object's position
  uint64_t count = r.At(24).U32LE();
  Located ext, cd;
  int64_t pos = 30;
  for (uint32_t i = 0; i < count && pos + kObjectHeaderSize <= end; ++i) {
    const uint64_t size = r.At(static_cast<size_t>(pos + 16)).U64LE();
    if (size < static_cast<uint64_t>(kObjectHeaderSize) || size > static_cast<uint64_t>(end - pos))
      return false;
    bytes::ByteReader guid = r.At(static_cast<size_t>(pos));
    if (guid.StartsWith(GuidBytes(kExtendedContentDescriptionObject)))
      ext = {true, pos, static_cast<int64_t>(size)};
    else if (guid.StartsWith(GuidBytes(kContentDescriptionObject)))
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
  bytes::ByteWriter out;
  out.PutBytes(old.substr(0, first.pos));
  out.PutBytes(newExt);
  out.PutBytes(piece(first.pos + first.size, second.pos));
  out.PutBytes(newCd);
  out.PutBytes(piece(second.pos + second.size, end));

  const uint64_t newSize = out.Size();
  out.PatchU64LE(16, newSize);
  out.PatchU32LE(24, count);
  // The File Properties object's File Size follows the new length. Only its
  // low 32 bits are written (its high half stays as it was): readers take no
  // more than those, and so does the playout program.
  const bytes::ByteReader built(out.Bytes());
  pos = 30;
  for (uint32_t i = 0; i < count && pos + kObjectHeaderSize <= static_cast<int64_t>(newSize); ++i) {
    const uint64_t size = built.At(static_cast<size_t>(pos + 16)).U64LE();
    if (size < static_cast<uint64_t>(kObjectHeaderSize)) break;
    if (built.At(static_cast<size_t>(pos)).StartsWith(GuidBytes(kFilePropertiesObject))) {
      if (pos + 48 <= static_cast<int64_t>(newSize))
        out.PatchU32LE(static_cast<size_t>(pos + 40), (newSize + dataLen) & 0xFFFFFFFF);
      break;
    }
    pos += static_cast<int64_t>(size);
  }
  if (!out.Ok()) return false;
  header = out.Take();
  return true;
}

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
        {"title", &F.Title},       {"artist", &F.Artist},   {"album", &F.Album},
        {"track", &F.Track},       {"year", &F.Year},       {"genre", &F.Genre},
        {"comment", &F.Comment},   {"rating", &F.Rating},   {"genre number", &F.GenreID},
        {"promotion URL", &F.PromoURL}, {"copyright", &F.Copyright}, {"lyrics", &F.Lyrics}};
    for (const auto& [what, text] : texts)
      if (text->size() > kMaxWrittenChars)
        return s.Refuse(std::string("the ") + what + " is longer than the 32,766 characters a WMA text holds");

    const uint64_t headerSize = bytes::ByteReader(head, sizeof head).At(16).U64LE();
    const FileSource source(f);
    const int64_t dataPos = FindDataObject(
        source, headerSize > static_cast<uint64_t>(fileSize) ? -1 : static_cast<int64_t>(headerSize));
    // Without a Data Object, or with one inside the header, the layout is not
    // known well enough to be rewritten.
    if (dataPos < 30 || static_cast<uint64_t>(dataPos) < headerSize)
      return s.Refuse("the ASF Data Object cannot be found");

    std::string old(static_cast<size_t>(dataPos), '\0');
    if (s.ReadAt(0, old.data(), old.size()) != dataPos) return s.Refuse("the ASF header cannot be read");
    std::string header;
    if (!RenderWMAHeader(old, static_cast<uint64_t>(fileSize - dataPos), F, keepTrackNumber,
                         header))
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
